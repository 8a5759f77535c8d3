// libFuzzer target: any bytes as an input image in memory, and from the
// first byte a factor of 1 to 8 across (down the same, or for inputs whose
// length is not a multiple of 3, up to two more, round 8), the kinds accepted (the library's, or
// the tool's every kind, run-length encoded ones too, kept encoded or not by the length), the
// work buffer (the call's own, or as large as the callers lend) and a split into parts written
// one after the other (as the tool's threads write them), enlarged into memory. Encoded pixels
// are judged by the oracle's own reading of their codes. Checks the result against the contract
// with its own reading of the format, and aborts on any breach:
//  - the result is 5, 6 or 999 (memory neither fails to read nor to write);
//  - on 5 and 6 nothing was written;
//  - on 999 the output has exactly bfSize bytes, what comes before its
//    pixels differs from the input's only in the size fields, output pixel
//    (x, y) is input pixel (x / across, y / down) and every padding bit is
//    zero.
// Inputs whose enlargement would exceed kMaxOutputBytes are skipped, so that
// a run never writes gigabytes; the checks that refuse larger ones are
// covered by the tests.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bmp_oracle.h"
#include "bmpresizer.h"
#include "bmpresizer_core.h"

namespace {

constexpr std::uint64_t kMaxOutputBytes = 16u << 20;

std::uint32_t u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "contract broken: %s\n", what);
    std::abort();
  }
}

// An upper bound of the enlargement the header asks for, in either kind:
// the prefix and rows of up to 32 bits per pixel (a 12-byte header's sizes
// are 16-bit); UINT64_MAX when too large to try.
std::uint64_t declared_output(const std::uint8_t* bmp, std::size_t size, std::uint64_t f) {
  if (size < 26) {
    return 0;
  }
  const bool core = u32(bmp + 14) == 12;
  const std::int64_t width =
      core ? (bmp[18] | bmp[19] << 8) : static_cast<std::int32_t>(u32(bmp + 18));
  const std::int64_t height =
      core ? (bmp[20] | bmp[21] << 8) : static_cast<std::int32_t>(u32(bmp + 22));
  if (width < 0) {
    return 0;
  }
  const long double rows =
      static_cast<long double>(height < 0 ? -height : height) * static_cast<long double>(f);
  const long double total =
      static_cast<long double>(size) +
      (static_cast<long double>(width) * static_cast<long double>(f) * 4 + 4) * rows;
  return total > static_cast<long double>(kMaxOutputBytes) ? UINT64_MAX
                                                           : static_cast<std::uint64_t>(total);
}

// Run-length encoded pixels, by the format's compression values: RLE8 and
// RLE4 where the header has a compression field, RLE24 in OS/2 2.x's.
bool is_encoded(const std::uint8_t* bmp, std::size_t size) {
  if (size < 34) {
    return false;
  }
  const std::uint32_t info = u32(bmp + 14);
  const std::uint32_t compression = u32(bmp + 30);
  return info >= 40 && (compression == 1 || compression == 2 || (info == 64 && compression == 4));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const std::uint64_t factor = 1 + data[0] % 8;
  // Down from the input's length, so that the corpus's first bytes keep
  // their meaning and a mutation of the length tries other ratios.
  const std::uint64_t down = 1 + (data[0] % 8 + (size - 1) % 3) % 8;
  // The high bit picks the tool's kinds (every one, run-length encoded too)
  // over the library's; the length, encoded pixels kept or uncompressed.
  const bmpresizer::Kinds kinds =
      (data[0] & 0x80) != 0 ? bmpresizer::Kinds::every : bmpresizer::Kinds::classic;
  const bmpresizer::OutputForm form =
      (size - 1) / 3 % 2 == 0 ? bmpresizer::OutputForm::same : bmpresizer::OutputForm::uncompressed;
  const std::uint8_t* bmp = data + 1;
  const std::size_t bmp_size = size - 1;
  const bool encoded = kinds == bmpresizer::Kinds::every && is_encoded(bmp, bmp_size);
  if (declared_output(bmp, bmp_size, factor > down ? factor : down) == UINT64_MAX) {
    return 0;
  }
  // Bits 3-4: the call's own buffer (0, as before these bits counted; a
  // buffer of 0 bytes is none), or 16 KiB, the library's 512 KiB, the tool's
  // 1 MiB. Bits 5-6: one part, or two, three or five.
  static std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
  constexpr std::size_t kBufferBytes[] = {0, 16u << 10, 512u << 10, 1u << 20};
  constexpr std::uint32_t kParts[] = {1, 2, 3, 5};
  const bmpresizer::WorkBuffer work{buffer.data(), kBufferBytes[(data[0] >> 3) & 3]};
  // (Encoded rows have no place known in advance: one part.)
  const std::uint32_t parts = encoded ? 1 : kParts[(data[0] >> 5) & 3];
  static std::vector<std::uint8_t> out(kMaxOutputBytes);
  bmpresizer::MemorySource source(bmp, bmp_size);
  bmpresizer::MemorySink sink(out.data(), out.size());
  bmpresizer::Outcome outcome;
  for (std::uint32_t part = 0; part < parts && outcome.ok(); ++part) {
    outcome = bmpresizer::resize(
        source, sink,
        bmpresizer::Factors{static_cast<std::int32_t>(factor), static_cast<std::int32_t>(down)},
        nullptr, work, {part, parts}, kinds, form);
  }
  int finish_error = 0;
  require(parts == 1 || !outcome.ok() || sink.finish(outcome.output_bytes, finish_error),
          "parts could not be finished");
  const int code = bmpresizer::result_code(outcome);
  require(code == BMPRESIZER_UNSUPPORTED_INPUT || code == BMPRESIZER_OUTPUT_TOO_LARGE ||
              code == BMPRESIZER_SUCCESS,
          "result is not 5, 6 or 999");
  if (code != BMPRESIZER_SUCCESS) {
    require(sink.length() == 0, "a refused input was written");
  } else {
    require(outcome.output_bytes == sink.length(), "the output is not as long as reported");
    const std::string difference =
        encoded ? bmporacle::check_encoded_enlargement(
                      bmp, bmp_size, out.data(), sink.length(), static_cast<int>(factor),
                      static_cast<int>(down), form == bmpresizer::OutputForm::same)
                : bmporacle::check_enlargement(bmp, bmp_size, out.data(), sink.length(),
                                               static_cast<int>(factor), static_cast<int>(down));
    require(difference.empty(), difference.c_str());
  }
  return 0;
}
