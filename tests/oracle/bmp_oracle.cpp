#include "bmp_oracle.h"

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

// The 54 header bytes: only the four size fields may differ.
std::string check_header(const std::uint8_t* input, const std::uint8_t* output) {
  for (std::size_t i = 0; i < 54; ++i) {
    const bool rewritten = (i >= 2 && i < 6) || (i >= 18 && i < 26) || (i >= 34 && i < 38);
    if (!rewritten && output[i] != input[i]) {
      return describe("header byte", static_cast<std::int64_t>(i), static_cast<std::int64_t>(i));
    }
  }
  return "";
}

std::string check_pixels(const std::uint8_t* input, const std::uint8_t* output,
                         std::uint64_t out_width, std::uint64_t out_rows, std::uint64_t factor) {
  const std::uint64_t out_stride = stride_of(out_width);
  const std::uint64_t in_stride = stride_of(out_width / factor);
  for (std::uint64_t y = 0; y < out_rows; ++y) {
    const std::uint8_t* out_row = output + 54 + y * out_stride;
    const std::uint8_t* in_row = input + 54 + (y / factor) * in_stride;
    for (std::uint64_t x = 0; x < out_width; ++x) {
      for (std::uint64_t c = 0; c < 3; ++c) {
        if (out_row[3 * x + c] != in_row[3 * (x / factor) + c]) {
          std::ostringstream text;
          text << "pixel (" << x << ", " << y << ") channel " << c << ": have "
               << int{out_row[3 * x + c]} << ", want " << int{in_row[3 * (x / factor) + c]};
          return text.str();
        }
      }
    }
    for (std::uint64_t i = 3 * out_width; i < out_stride; ++i) {
      if (out_row[i] != 0) {
        return describe("padding byte of row", static_cast<std::int64_t>(y), 0);
      }
    }
  }
  return "";
}

}  // namespace

std::uint64_t stride_of(std::uint64_t width) { return (24 * width + 31) / 32 * 4; }

std::string check_enlargement(const std::uint8_t* input, std::size_t input_size,
                              const std::uint8_t* output, std::size_t output_size, int factor) {
  if (input_size < 54 || factor < 1) {
    return describe("input length", static_cast<std::int64_t>(input_size), 54);
  }
  if (output_size < 54) {
    return describe("output length", static_cast<std::int64_t>(output_size), 54);
  }
  const std::int64_t want_width = std::int64_t{i32_at(input, 18)} * factor;
  const std::int64_t want_height = std::int64_t{i32_at(input, 22)} * factor;
  if (i32_at(output, 18) != want_width) {
    return describe("biWidth", i32_at(output, 18), want_width);
  }
  if (i32_at(output, 22) != want_height) {
    return describe("biHeight", i32_at(output, 22), want_height);
  }
  const auto out_width = static_cast<std::uint64_t>(want_width);
  const auto out_rows = static_cast<std::uint64_t>(want_height < 0 ? -want_height : want_height);
  const std::uint64_t image_bytes = stride_of(out_width) * out_rows;
  if (u32_at(output, 34) != image_bytes) {
    return describe("biSizeImage", u32_at(output, 34), static_cast<std::int64_t>(image_bytes));
  }
  if (u32_at(output, 2) != 54 + image_bytes) {
    return describe("bfSize", u32_at(output, 2), static_cast<std::int64_t>(54 + image_bytes));
  }
  if (output_size != 54 + image_bytes) {
    return describe("output length", static_cast<std::int64_t>(output_size),
                    static_cast<std::int64_t>(54 + image_bytes));
  }
  const std::string header = check_header(input, output);
  if (!header.empty() || image_bytes == 0) {
    return header;  // zero width: no rows to compare, however many are declared
  }
  return check_pixels(input, output, out_width, out_rows, static_cast<std::uint64_t>(factor));
}

}  // namespace bmporacle
