#include "bmp_oracle.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <vector>

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

namespace {

// A row's drawn pixels as runs of one value, each run as long as it goes.
struct Run {
  std::uint64_t x, length;
  std::uint32_t value;
  bool operator==(const Run& other) const {
    return x == other.x && length == other.length && value == other.value;
  }
};
using Picture = std::map<std::uint64_t, std::vector<Run>>;  // rows with drawn pixels

void draw(std::vector<Run>& row, std::uint64_t x, std::uint64_t length, std::uint32_t value) {
  if (!row.empty() && row.back().x + row.back().length == x && row.back().value == value) {
    row.back().length += length;
  } else {
    row.push_back(Run{x, length, value});
  }
}

// The picture the codes of `bmp` (`size` bytes) draw; false where they break
// the format's rules.
bool decode_codes(const std::uint8_t* bmp, std::size_t size, Picture& picture) {
  const std::uint32_t info = u32_at(bmp, 14);
  const std::uint32_t bits = u16_at(bmp, 28);
  const std::uint64_t width = u32_at(bmp, 18);
  const std::uint64_t rows = u32_at(bmp, 22);
  const std::uint64_t padded = stride(width, bits) * 8 / bits;
  std::uint64_t at = u32_at(bmp, 10);
  const std::uint64_t declared = info >= 40 ? u32_at(bmp, 34) : 0;
  const std::uint64_t end = declared > 0 ? at + declared : size;
  if (end > size) {
    return false;
  }
  const auto value_at = [&](std::uint64_t p, std::uint32_t i) -> std::uint32_t {
    if (bits == 24) {
      return static_cast<std::uint32_t>(bmp[p + 3 * i] | bmp[p + 3 * i + 1] << 8 |
                                        bmp[p + 3 * i + 2] << 16);
    }
    return bits == 8 ? bmp[p + i] : (i % 2 == 0 ? bmp[p + i / 2] >> 4 : bmp[p + i / 2] & 15u);
  };
  std::uint64_t x = 0;
  std::uint64_t y = 0;
  while (at + 2 <= end) {
    const std::uint32_t count = bmp[at];
    const std::uint32_t second = bmp[at + 1];
    at += 2;
    if (count > 0) {
      if ((bits == 24 && at + 2 > end) || y >= rows || x + count > padded) {
        return false;
      }
      for (std::uint32_t i = 0; i < count; ++i, ++x) {
        const std::uint32_t v = bits == 24  ? value_at(at - 1, 0)
                                : bits == 8 ? second
                                            : (i % 2 == 0 ? second >> 4 : second & 15u);
        if (x < width) {
          draw(picture[y], x, 1, v);
        }
      }
      at += bits == 24 ? 2 : 0;
    } else if (second == 0) {
      x = 0;
      y += y < rows ? 1 : 0;
    } else if (second == 1) {
      return true;
    } else if (second == 2) {
      const std::uint32_t dy = at + 2 <= end ? bmp[at + 1] : 0;
      if (at + 2 > end || x + bmp[at] > width || y >= rows || (dy > 0 && y + dy >= rows)) {
        return false;
      }
      x += bmp[at];
      y += bmp[at + 1];
      at += 2;
    } else {
      const std::uint64_t stored = (std::uint64_t{second} * bits + 7) / 8;
      if (at + stored > end || y >= rows || x + second > padded) {
        return false;
      }
      for (std::uint32_t i = 0; i < second; ++i, ++x) {
        if (x < width) {
          draw(picture[y], x, 1, value_at(at, i));
        }
      }
      at += stored + stored % 2;
    }
  }
  // Only an absolute run's padding may be missing at the end.
  return at >= end;
}

// Each row of runs `across` times as wide and `down` times over; with
// `fill_width`, every pixel drawn, those no code drew 0.
Picture enlarge(const Picture& picture, std::uint64_t across, std::uint64_t down,
                std::uint64_t fill_width, std::uint64_t fill_rows) {
  Picture out;
  for (std::uint64_t y = 0; y < (fill_width > 0 ? fill_rows : 0); ++y) {
    draw(out[y], 0, fill_width, 0);
  }
  for (const auto& [y, runs] : picture) {
    std::vector<Run> wide;
    std::uint64_t x = 0;
    for (const Run& run : runs) {
      if (fill_width > 0 && run.x * across > x) {
        draw(wide, x, run.x * across - x, 0);
      }
      draw(wide, run.x * across, run.length * across, run.value);
      x = (run.x + run.length) * across;
    }
    if (fill_width > 0 && x < fill_width) {
      draw(wide, x, fill_width - x, 0);
    }
    for (std::uint64_t k = 0; k < down; ++k) {
      out[y * down + k] = wide;
    }
  }
  return out;
}

// The picture of uncompressed rows of 4, 8 or 24 bits.
Picture decode_rows(const std::uint8_t* bmp) {
  const std::uint32_t bits = u16_at(bmp, 28);
  const std::uint64_t width = u32_at(bmp, 18);
  const std::uint64_t rows = u32_at(bmp, 22);
  Picture picture;
  for (std::uint64_t y = 0; y < rows; ++y) {
    const std::uint8_t* row = bmp + u32_at(bmp, 10) + y * stride(width, bits);
    for (std::uint64_t x = 0; x < width; ++x) {
      std::uint32_t v = pixel(row, x, bits);
      v = bits == 24 ? (v >> 16 | (v & 0xFF00) | (v & 0xFF) << 16) : v;  // as stored: B, G, R
      draw(picture[y], x, 1, v);
    }
  }
  return picture;
}

}  // namespace

std::string check_encoded_enlargement(const std::uint8_t* input, std::size_t input_size,
                                      const std::uint8_t* output, std::size_t output_size,
                                      int across, int down, bool kept) {
  if (input_size < 54 || output_size < 54 || across < 1 || down < 1) {
    return describe("input length", static_cast<std::int64_t>(input_size), 54);
  }
  const Facts in = facts_of(input);
  const Facts out = facts_of(output);
  const auto a = static_cast<std::uint64_t>(across);
  const auto d = static_cast<std::uint64_t>(down);
  if (out.width != in.width * across || out.height != in.height * down) {
    return describe("width x height", out.width * out.height, in.width * in.height * across * down);
  }
  const bool profile_after = in.profile_size > 0 && in.profile_at + in.profile_size > in.prefix;
  const std::uint64_t pixels_end = output_size - (profile_after ? in.profile_size : 0);
  const std::uint64_t out_rows = static_cast<std::uint64_t>(out.height);
  const std::uint64_t plain_end =
      in.prefix + stride(static_cast<std::uint64_t>(out.width), in.bits) * out_rows;
  if (u32_at(output, 2) != output_size || u32_at(output, 34) != pixels_end - in.prefix ||
      (!kept && pixels_end != plain_end)) {
    return describe("output length", static_cast<std::int64_t>(output_size),
                    static_cast<std::int64_t>(u32_at(output, 2)));
  }
  if (u32_at(output, 30) != (kept ? u32_at(input, 30) : 0)) {
    return describe("compression", u32_at(output, 30), u32_at(input, 30));
  }
  for (std::size_t i = 0; i < in.prefix; ++i) {
    if (!is_size_field(i, in.info) && (i < 30 || i >= 34) && output[i] != input[i]) {
      return describe("byte before the pixels", static_cast<std::int64_t>(i), 0);
    }
  }
  Picture source;
  Picture result;
  if (!decode_codes(input, input_size, source)) {
    return "the input's codes break the format's rules";
  }
  if (kept && !decode_codes(output, static_cast<std::size_t>(pixels_end), result)) {
    return "the output's codes break the format's rules";
  }
  if (!kept) {
    result = decode_rows(output);
  }
  const Picture want =
      enlarge(source, a, d, kept ? 0 : static_cast<std::uint64_t>(out.width), out_rows);
  if (result != want) {
    for (const auto& [y, runs] : want) {
      const auto found = result.find(y);
      if (found == result.end() || found->second != runs) {
        return describe("drawn pixels of row", static_cast<std::int64_t>(y), 0);
      }
    }
    return "pixels drawn where the input draws none";
  }
  if (profile_after && !std::equal(input + in.profile_at, input + in.profile_at + in.profile_size,
                                   output + pixels_end)) {
    return describe("profile at", static_cast<std::int64_t>(pixels_end), 0);
  }
  return "";
}

}  // namespace bmporacle
