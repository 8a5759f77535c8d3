#include "resize.h"
#include "bmp_header.h"
#include "bmpresizer_core.h"
#include "file_io.h"
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

Outcome resize_into(FileHandle input, OutputSink& output, std::int32_t factor,
                    const Progress* progress, WorkBuffer work, Part part) {
  int error = 0;
  InputInfo info;
  if (!describe_input(input, info, error)) {
    return failed(Failure::read_failed, error);
  }
  // A pipe or a device cannot be read twice, and holds no image.
  if (!info.regular) {
    return failed(Failure::input_not_regular);
  }
  std::uint8_t header[kHeaderBytes] = {};
  std::size_t header_bytes = 0;
  if (!read_at(input, 0, header, kHeaderBytes, header_bytes, error) && error != 0) {
    return failed(Failure::read_failed, error);
  }

  InputLayout in;
  Outcome checked = check_input_header(header, header_bytes, info.bytes, in);
  if (!checked.ok()) {
    return checked;
  }
  std::uint8_t out_header[kHeaderBytes] = {};
  OutputLayout out;
  Outcome derived = derive_output_header(header, in, factor, out_header, out);
  if (!derived.ok()) {
    return derived;
  }

  ByteSpan headers{out_header, kHeaderBytes};
  if (part.count > 1) {
    const std::uint64_t start = narrow_to_part(in, out, part);
    output.positional = true;
    output.offset = part.index == 0 ? 0 : start;
    headers.size = part.index == 0 ? kHeaderBytes : 0;
  }
  reserve_space(output, headers.size + std::uint64_t{in.rows} * out.factor * out.row_bytes);
  Outcome replicated = replicate_rows(input, output, headers, in, out, progress, work);
  if (!replicated.ok()) {
    return replicated;
  }
  if (part.count == 1 && !finish_sink(output, error)) {
    return failed(Failure::write_failed, error);
  }
  Outcome done;
  done.output_bytes = out.file_bytes;
  return done;
}

Outcome resize_open_files(FileHandle input, FileHandle output, std::int32_t factor,
                          const Progress* progress, WorkBuffer work, Part part) {
  OutputSink sink = sequential_sink(output);
  return resize_into(input, sink, factor, progress, work, part.count == 0 ? Part{} : part);
}

}  // namespace bmpresizer
