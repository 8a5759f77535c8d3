// libFuzzer target: any bytes as an input file, a factor of 1 to 8 from the
// first byte. Checks the result against the contract with its own reading of
// the format, and aborts on any breach:
//  - the result is 5, 6, 7 or 999;
//  - on 5 and 6 the output is empty;
//  - on 999 the output has exactly bfSize bytes, its header differs from the
//    input's only in bfSize, biWidth, biHeight and biSizeImage, output pixel
//    (x, y) is input pixel (x / f, y / f) and every padding byte is zero.
// Inputs whose enlargement would exceed kMaxOutputBytes are skipped, so that
// a run never writes gigabytes; the checks that refuse larger ones are
// covered by the tests.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

const std::string& scratch(const char* name) {
  static const std::string folder = [] {
    char pattern[] = "/tmp/bmpresizer-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    require(made != nullptr, "mkdtemp");
    return std::string(made);
  }();
  static std::string in = folder + "/in.bmp";
  static std::string out = folder + "/out.bmp";
  return name[0] == 'i' ? in : out;
}

std::vector<std::uint8_t> read_all(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  require(file != nullptr, "output missing");
  std::uint8_t chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  std::fclose(file);
  return bytes;
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
  const std::string& in_path = scratch("in");
  const std::string& out_path = scratch("out");
  FILE* file = std::fopen(in_path.c_str(), "wb");
  require(file != nullptr, "cannot write the input");
  require(std::fwrite(bmp, 1, bmp_size, file) == bmp_size, "cannot write the input");
  std::fclose(file);

  const bmpresizer::Outcome outcome = bmpresizer::resize_files(in_path.c_str(), out_path.c_str(),
                                                               static_cast<std::int32_t>(factor));
  const int code = bmpresizer::result_code(outcome);
  require(code == BMPRESIZER_UNSUPPORTED_INPUT || code == BMPRESIZER_OUTPUT_TOO_LARGE ||
              code == BMPRESIZER_IO_ERROR || code == BMPRESIZER_SUCCESS,
          "result is not 5, 6, 7 or 999");
  const std::vector<std::uint8_t> out = read_all(out_path);
  if (code == BMPRESIZER_UNSUPPORTED_INPUT || code == BMPRESIZER_OUTPUT_TOO_LARGE) {
    require(out.empty(), "a refused input left a non-empty output");
  } else if (code == BMPRESIZER_SUCCESS) {
    const std::string difference = bmporacle::check_enlargement(
        bmp, bmp_size, out.data(), out.size(), static_cast<int>(factor));
    require(difference.empty(), difference.c_str());
  }
  return 0;
}
