#include "bmp_oracle.h"

#include <algorithm>
#include <sstream>

namespace bmporacle {
namespace {

std::uint32_t u32_at(const std::uint8_t* b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::int32_t i32_at(const std::uint8_t* b, std::size_t at) {
  return static_cast<std::int32_t>(u32_at(b, at));
}

std::string describe(const char* what, std::int64_t have, std::int64_t want) {
  std::ostringstream text;
  text << what << ": have " << have << ", want " << want;
  return text.str();
}

}  // namespace

std::uint64_t stride_of(std::uint64_t width) { return (24 * width + 31) / 32 * 4; }

namespace {

std::uint32_t u16_at(const std::uint8_t* b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8;
}

// What the format's fields say of a file, as far as an enlargement needs.
struct Facts {
  std::uint32_t info = 0, bits = 0, prefix = 0;
  std::int64_t width = 0, height = 0;
  std::uint64_t profile_at = 0, profile_size = 0;  // after the pixels only
};

Facts facts_of(const std::uint8_t* bmp) {
  Facts f;
  f.info = u32_at(bmp, 14);
  const bool core = f.info == 12;
  f.bits = u16_at(bmp, core ? 24 : 28);
  f.width = core ? std::int64_t{u16_at(bmp, 18)} : std::int64_t{i32_at(bmp, 18)};
  f.height = core ? std::int64_t{u16_at(bmp, 20)} : std::int64_t{i32_at(bmp, 22)};
  f.prefix = u32_at(bmp, 10);
  const std::uint32_t space = f.info == 124 ? u32_at(bmp, 70) : 0;
  if (space == 0x4C494E4B || space == 0x4D424544) {  // 'LINK', 'MBED'
    f.profile_at = 14 + std::uint64_t{u32_at(bmp, 126)};
    f.profile_size = u32_at(bmp, 130);
  }
  return f;
}

std::uint64_t stride(std::uint64_t width, std::uint32_t bits) {
  return (width * bits + 31) / 32 * 4;
}

// The `bits`-bit pixel `x` of `row`, the first in the high bits of a byte.
std::uint32_t pixel(const std::uint8_t* row, std::uint64_t x, std::uint32_t bits) {
  std::uint32_t value = 0;
  if (bits >= 8) {
    for (std::uint32_t k = 0; k < bits / 8; ++k) {
      value = value << 8 | row[x * bits / 8 + k];
    }
    return value;
  }
  const std::uint64_t at = x * bits;
  return (row[at / 8] >> (8 - bits - at % 8)) & ((1u << bits) - 1);
}

bool is_size_field(std::size_t i, std::uint32_t info) {
  return (i >= 2 && i < 6) || (i >= 18 && i < (info == 12 ? 22u : 26u)) ||
         (info >= 40 && i >= 34 && i < 38) || (info == 124 && i >= 126 && i < 130);
}

}  // namespace

std::string check_enlargement(const std::uint8_t* input, std::size_t input_size,
                              const std::uint8_t* output, std::size_t output_size, int factor) {
  return check_enlargement(input, input_size, output, output_size, factor, factor);
}

std::string check_enlargement(const std::uint8_t* input, std::size_t input_size,
                              const std::uint8_t* output, std::size_t output_size, int across,
                              int down) {
  if (input_size < 18 || output_size < 18 || across < 1 || down < 1) {
    return describe("input length", static_cast<std::int64_t>(input_size), 54);
  }
  const Facts in = facts_of(input);
  const Facts out = facts_of(output);
  const auto a = static_cast<std::uint64_t>(across);
  const auto f = static_cast<std::uint64_t>(down);
  const std::uint64_t rows = static_cast<std::uint64_t>(in.height < 0 ? -in.height : in.height);
  const std::uint64_t in_stride = stride(static_cast<std::uint64_t>(in.width), in.bits);
  const std::uint64_t out_width = static_cast<std::uint64_t>(in.width) * a;
  const std::uint64_t out_stride = stride(out_width, in.bits);
  const std::uint64_t pixels_end = in.prefix + out_stride * rows * f;
  // A profile that does not lie within the bytes before the pixels lies
  // after them (the input was accepted).
  const bool profile_after = in.profile_size > 0 && in.profile_at + in.profile_size > in.prefix;
  const std::uint64_t want_size = pixels_end + (profile_after ? in.profile_size : 0);
  if (out.width != in.width * across || out.height != in.height * down) {
    return describe("width x height", out.width * out.height, in.width * in.height * across * down);
  }
  if (output_size != want_size || u32_at(output, 2) != want_size) {
    return describe("output length", static_cast<std::int64_t>(output_size),
                    static_cast<std::int64_t>(want_size));
  }
  if (in.info >= 40 && u32_at(output, 34) != out_stride * rows * f) {
    return describe("biSizeImage", u32_at(output, 34),
                    static_cast<std::int64_t>(out_stride * rows * f));
  }
  for (std::size_t i = 0; i < in.prefix; ++i) {
    if (!is_size_field(i, in.info) && output[i] != input[i]) {
      return describe("byte before the pixels", static_cast<std::int64_t>(i), 0);
    }
  }
  for (std::uint64_t y = 0; out_stride > 0 && y < rows * f; ++y) {
    const std::uint8_t* out_row = output + in.prefix + y * out_stride;
    const std::uint8_t* in_row = input + in.prefix + y / f * in_stride;
    for (std::uint64_t x = 0; x < out_width; ++x) {
      if (pixel(out_row, x, in.bits) != pixel(in_row, x / a, in.bits)) {
        return describe("pixel of row", static_cast<std::int64_t>(y), static_cast<std::int64_t>(x));
      }
    }
    for (std::uint64_t bit = out_width * in.bits; bit < out_stride * 8; ++bit) {
      if ((out_row[bit / 8] >> (7 - bit % 8) & 1) != 0) {
        return describe("padding bit of row", static_cast<std::int64_t>(y), 0);
      }
    }
  }
  if (profile_after && (u32_at(output, 126) != pixels_end - 14 ||
                        !std::equal(input + in.profile_at, input + in.profile_at + in.profile_size,
                                    output + pixels_end))) {
    return describe("profile at", u32_at(output, 126), static_cast<std::int64_t>(pixels_end - 14));
  }
  return "";
}

}  // namespace bmporacle
