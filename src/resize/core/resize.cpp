#include <cerrno>
#include <cstring>

#include "bmp_header.h"
#include "bmpresizer_core.h"
#include "replicate.h"
#include "rle.h"

namespace bmpresizer {
namespace {

// Narrows `in` to part `part` of its rows; returns where that part's
// enlargement starts in the output.
std::uint64_t narrow_to_part(InputLayout& in, const OutputLayout& out, Part part) {
  const std::uint64_t first = std::uint64_t{in.rows} * part.index / part.count;
  const std::uint64_t end = std::uint64_t{in.rows} * (part.index + 1) / part.count;
  in.first_row_at = in.prefix_bytes + first * in.row_bytes;
  in.rows = static_cast<std::uint32_t>(end - first);
  return out.pixels_at + first * out.down * out.row_bytes;
}

// The headers the checks need: 54 bytes of the library's kind, up to 138 of
// the others; the rest of `header` zero.
std::size_t header_bytes_of(Kinds kinds) {
  return kinds == Kinds::classic ? kHeaderBytes : kMaxHeaderBytes;
}

// A factor below one is refused after the codes are checked; until then
// they are measured at one.
std::uint32_t at_least_one(std::int32_t factor) {
  return factor < 1 ? 1U : static_cast<std::uint32_t>(factor);
}

// Checks and measures the run-length encoded pixels of `in`, if any, for
// `factors` (see measure_encoded); `encoded_bytes` 0 for other pixels.
Outcome measure(ByteSource& input, const InputLayout& in, Factors factors, OutputForm form,
                WorkBuffer work, std::uint64_t& encoded_bytes) {
  encoded_bytes = 0;
  if (in.encoded_bits == 0) {
    return Outcome{};
  }
  std::uint8_t own[kDefaultWorkBytes];
  if (work.data == nullptr || work.size < kMinWorkBytes) {
    work = WorkBuffer{own, sizeof own};
  }
  return measure_encoded(input, in, at_least_one(factors.across), at_least_one(factors.down), form,
                         work, encoded_bytes);
}

// What a call writes besides the rows: the headers as derived, then the
// rest of the input's prefix as it is, and a profile after the pixels after
// the enlarged ones. One of several parts narrows `in` to its rows, sets
// `offset` to their place, and writes the headers and prefix only in the
// first part, the profile only in the last.
Surroundings surroundings(InputLayout& in, const OutputLayout& out, const std::uint8_t* out_header,
                          Part part, std::uint64_t& offset) {
  const std::uint64_t headers = kFileHeaderBytes + in.info_size;
  Surroundings around;
  around.headers = ByteSpan{out_header, static_cast<std::size_t>(headers)};
  around.prefix_from = headers;
  around.prefix_bytes = in.prefix_bytes - headers;
  around.suffix_from = in.profile_at;
  around.suffix_bytes = in.profile_bytes;
  offset = 0;
  if (part.count > 1) {
    const std::uint64_t start = narrow_to_part(in, out, part);
    if (part.index > 0) {
      offset = start;
      around.headers.size = 0;
      around.prefix_bytes = 0;
    }
    if (part.index + 1 < part.count) {
      around.suffix_bytes = 0;
    }
  }
  return around;
}

}  // namespace

Outcome bytes_needed(const std::uint8_t* prefix, std::size_t size, Kinds kinds,
                     std::uint64_t& needed) {
  std::uint8_t header[kMaxHeaderBytes] = {};
  const std::size_t header_bytes = size < header_bytes_of(kinds) ? size : header_bytes_of(kinds);
  if (header_bytes > 0) {
    std::memcpy(header, prefix, header_bytes);
  }
  InputLayout in;
  const Outcome checked = check_input_header(header, header_bytes, UINT64_MAX, kinds, in);
  needed = in.needed_bytes;
  // Producers write the last row's padding too: it is part of the image,
  // which a stream's next reader must not find before its own bytes.
  if (checked.ok() && in.rows > 0 && in.profile_bytes == 0 && in.encoded_bits == 0 &&
      needed <= UINT64_MAX - 3) {
    needed += in.pad_bytes;
  }
  return checked;
}

std::size_t header_bytes_to_read(const std::uint8_t* prefix, std::size_t size, Kinds kinds) {
  const std::size_t size_field_end = kBiSize + 4;
  if (kinds == Kinds::classic || size < size_field_end) {
    return kinds == Kinds::classic ? kHeaderBytes : size_field_end;
  }
  const std::uint32_t info_size = static_cast<std::uint32_t>(prefix[kBiSize]) |
                                  static_cast<std::uint32_t>(prefix[kBiSize + 1]) << 8 |
                                  static_cast<std::uint32_t>(prefix[kBiSize + 2]) << 16 |
                                  static_cast<std::uint32_t>(prefix[kBiSize + 3]) << 24;
  return info_size <= kMaxHeaderBytes - kFileHeaderBytes ? kFileHeaderBytes + info_size
                                                         : size_field_end;
}

Outcome describe(const std::uint8_t* head, std::size_t size, std::uint64_t file_bytes,
                 Factors factors, Kinds kinds, OutputForm form, Description& description) {
  std::uint8_t header[kMaxHeaderBytes] = {};
  const std::size_t header_bytes = size < header_bytes_of(kinds) ? size : header_bytes_of(kinds);
  if (header_bytes > 0) {
    std::memcpy(header, head, header_bytes);
  }
  description = Description{};
  InputLayout in;
  const Outcome checked = check_input_header(header, header_bytes, file_bytes, kinds, in);
  if (!checked.ok()) {
    return checked;
  }
  description.info_size = in.info_size;
  description.bits_per_pixel = in.bits_per_pixel;
  description.compression = in.compression;
  description.encoded = in.encoded_bits != 0;
  description.width = in.width;
  description.height = static_cast<std::int32_t>(in.top_down ? -std::int64_t{in.rows} : in.rows);
  description.input_bytes = in.needed_bytes;
  // Encoded pixels tell the enlargement's length only when all are here.
  const bool all_here = in.encoded_bits == 0 || size >= in.needed_bytes;
  std::uint64_t encoded_bytes = 0;
  if (all_here) {
    MemorySource pixels(head, size);
    const Outcome measured = measure(pixels, in, factors, form, WorkBuffer{}, encoded_bytes);
    if (!measured.ok()) {
      return measured;
    }
  }
  std::uint8_t out_header[kMaxHeaderBytes] = {};
  OutputLayout out;
  const Outcome derived =
      derive_output_header(header, in, factors, form, encoded_bytes, out_header, out);
  if (derived.ok() && (all_here || !out.encoded)) {
    description.output_width = out.width;
    description.output_height =
        static_cast<std::int32_t>(in.top_down ? -std::int64_t{out.rows} : out.rows);
    description.output_bytes = out.file_bytes;
  }
  return derived;
}

Outcome resize(ByteSource& input, ByteSink& output, Factors factors, const Progress* progress,
               WorkBuffer work, Part part, Kinds kinds, OutputForm form) {
  std::uint8_t header[kMaxHeaderBytes] = {};
  int error = 0;
  const std::size_t header_bytes = input.read_at(0, header, header_bytes_of(kinds), error);
  if (error != 0) {
    return failed(Failure::read_failed, error);
  }
  InputLayout in;
  const Outcome checked = check_input_header(header, header_bytes, input.size(), kinds, in);
  if (!checked.ok()) {
    return checked;
  }
  const bool whole = part.count <= 1;
  if (!whole && in.encoded_bits != 0) {
    return failed(Failure::write_failed, EINVAL);
  }
  std::uint64_t encoded_bytes = 0;
  const Outcome measured = measure(input, in, factors, form, work, encoded_bytes);
  if (!measured.ok()) {
    return measured;
  }
  std::uint8_t out_header[kMaxHeaderBytes] = {};
  OutputLayout out;
  const Outcome derived =
      derive_output_header(header, in, factors, form, encoded_bytes, out_header, out);
  if (!derived.ok()) {
    return derived;
  }

  if (!whole && (part.index >= part.count || !output.positional())) {
    return failed(Failure::write_failed, EINVAL);
  }
  std::uint64_t offset = 0;
  const Surroundings around = surroundings(in, out, out_header, part, offset);
  const std::uint64_t pixel_bytes =
      in.encoded_bits != 0 ? out.pixel_bytes : std::uint64_t{in.rows} * out.down * out.row_bytes;
  output.reserve(offset,
                 around.headers.size + around.prefix_bytes + pixel_bytes + around.suffix_bytes);
  const Outcome replicated = replicate_rows(input, output, offset, around, in, out, progress, work);
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
