#include <cerrno>
#include <cstring>

#include "bmp_header.h"
#include "bmpresizer_core.h"
#include "replicate.h"

namespace bmpresizer {
namespace {

// Narrows `in` to part `part` of its rows; returns where that part's
// enlargement starts in the output.
std::uint64_t narrow_to_part(InputLayout& in, const OutputLayout& out, Part part) {
  const std::uint64_t first = std::uint64_t{in.rows} * part.index / part.count;
  const std::uint64_t end = std::uint64_t{in.rows} * (part.index + 1) / part.count;
  in.first_row_at = kHeaderBytes + first * in.row_bytes;
  in.rows = static_cast<std::uint32_t>(end - first);
  return kHeaderBytes + first * out.factor * out.row_bytes;
}

}  // namespace

Outcome bytes_needed(const std::uint8_t* prefix, std::size_t size, std::uint64_t& needed) {
  std::uint8_t header[kHeaderBytes] = {};
  const std::size_t header_bytes = size < kHeaderBytes ? size : kHeaderBytes;
  std::memcpy(header, prefix, header_bytes);
  InputLayout in;
  const Outcome checked = check_input_header(header, header_bytes, UINT64_MAX, in);
  needed = in.needed_bytes;
  return checked;
}

Outcome resize(ByteSource& input, ByteSink& output, std::int32_t factor, const Progress* progress,
               WorkBuffer work, Part part) {
  std::uint8_t header[kHeaderBytes] = {};
  int error = 0;
  const std::size_t header_bytes = input.read_at(0, header, kHeaderBytes, error);
  if (error != 0) {
    return failed(Failure::read_failed, error);
  }
  InputLayout in;
  const Outcome checked = check_input_header(header, header_bytes, input.size(), in);
  if (!checked.ok()) {
    return checked;
  }
  std::uint8_t out_header[kHeaderBytes] = {};
  OutputLayout out;
  const Outcome derived = derive_output_header(header, in, factor, out_header, out);
  if (!derived.ok()) {
    return derived;
  }

  const bool whole = part.count <= 1;
  if (!whole && (part.index >= part.count || !output.positional())) {
    return failed(Failure::write_failed, EINVAL);
  }
  ByteSpan headers{out_header, kHeaderBytes};
  std::uint64_t offset = 0;
  if (!whole) {
    const std::uint64_t start = narrow_to_part(in, out, part);
    offset = part.index == 0 ? 0 : start;
    headers.size = part.index == 0 ? kHeaderBytes : 0;
  }
  output.reserve(offset, headers.size + std::uint64_t{in.rows} * out.factor * out.row_bytes);
  const Outcome replicated =
      replicate_rows(input, output, offset, headers, in, out, progress, work);
  if (!replicated.ok()) {
    return replicated;
  }
  if (whole && !output.finish(out.file_bytes, error)) {
    return failed(Failure::write_failed, error);
  }
  Outcome done;
  done.output_bytes = out.file_bytes;
  return done;
}

}  // namespace bmpresizer
