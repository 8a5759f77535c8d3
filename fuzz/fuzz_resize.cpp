// libFuzzer target: any bytes as an input image in memory, a factor of 1 to
// 8 from the first byte, enlarged into memory. Checks the result against the
// contract with its own reading of the format, and aborts on any breach:
//  - the result is 5, 6 or 999 (memory neither fails to read nor to write);
//  - on 5 and 6 nothing was written;
//  - on 999 the output has exactly bfSize bytes, its header differs from the
//    input's only in bfSize, biWidth, biHeight and biSizeImage, output pixel
//    (x, y) is input pixel (x / f, y / f) and every padding byte is zero.
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

// The size of the enlargement the header asks for, by the format's own
// stride rule; UINT64_MAX when it can't be computed or isn't a plain image.
std::uint64_t declared_output(const std::uint8_t* bmp, std::size_t size, std::uint64_t f) {
  if (size < 54) {
    return 0;
  }
  const auto width = static_cast<std::int32_t>(u32(bmp + 18));
  const auto height = static_cast<std::int32_t>(u32(bmp + 22));
  if (width < 0) {
    return 0;
  }
  const std::uint64_t rows = height < 0
                                 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(height))
                                 : static_cast<std::uint64_t>(height);
  const std::uint64_t out_width = static_cast<std::uint64_t>(width) * f;
  const std::uint64_t stride = bmporacle::stride_of(out_width);
  const long double total =
      54.0L + static_cast<long double>(stride) * static_cast<long double>(rows * f);
  return total > static_cast<long double>(kMaxOutputBytes) ? UINT64_MAX
                                                           : static_cast<std::uint64_t>(total);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const std::uint64_t factor = 1 + data[0] % 8;
  const std::uint8_t* bmp = data + 1;
  const std::size_t bmp_size = size - 1;
  if (declared_output(bmp, bmp_size, factor) == UINT64_MAX) {
    return 0;
  }
  static std::vector<std::uint8_t> out(kMaxOutputBytes);
  bmpresizer::MemorySource source(bmp, bmp_size);
  bmpresizer::MemorySink sink(out.data(), out.size());
  const bmpresizer::Outcome outcome =
      bmpresizer::resize(source, sink, static_cast<std::int32_t>(factor));
  const int code = bmpresizer::result_code(outcome);
  require(code == BMPRESIZER_UNSUPPORTED_INPUT || code == BMPRESIZER_OUTPUT_TOO_LARGE ||
              code == BMPRESIZER_SUCCESS,
          "result is not 5, 6 or 999");
  if (code != BMPRESIZER_SUCCESS) {
    require(sink.length() == 0, "a refused input was written");
  } else {
    require(outcome.output_bytes == sink.length(), "the output is not as long as reported");
    const std::string difference = bmporacle::check_enlargement(
        bmp, bmp_size, out.data(), sink.length(), static_cast<int>(factor));
    require(difference.empty(), difference.c_str());
  }
  return 0;
}
