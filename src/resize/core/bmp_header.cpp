#include "bmp_header.h"

#include <cstring>

#include "checked_math.h"

namespace bmpresizer {
namespace {

// Row sizes reach 2^33: counted in 64 bits on every platform.
constexpr std::uint64_t kPixelBytes = kBytesPerPixel;

std::uint16_t get_u16le(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t get_u32le(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void put_u32le(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

constexpr std::uint16_t kSignatureBM = 0x4D42;       // the bytes "BM"
constexpr std::uint32_t kInfoHeaderSize = 40;        // BITMAPINFOHEADER; V4/V5 headers are larger
constexpr std::uint32_t kBitsPerPixel = 24;          // three bytes per pixel: blue, green, red
constexpr std::uint32_t kBiRgb = 0;                  // uncompressed
constexpr std::uint64_t kMaxDimension = 0x7FFFFFFF;  // biWidth and biHeight are signed 32-bit
constexpr std::uint64_t kMaxFileBytes = 0xFFFFFFFF;  // bfSize is unsigned 32-bit

std::int32_t get_i32le(const std::uint8_t* p) {
  const std::uint32_t bits = get_u32le(p);
  std::int32_t value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::uint32_t as_bits(std::int32_t value) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// |value| without the overflow of negating INT32_MIN.
std::uint32_t magnitude(std::int32_t value) {
  return value < 0 ? 0U - as_bits(value) : as_bits(value);
}

// A row of n three-byte pixels is padded to a multiple of four bytes; the
// padding, (4 - 3n mod 4) mod 4, equals n mod 4.
std::uint32_t row_padding(std::uint64_t pixels) { return static_cast<std::uint32_t>(pixels & 3U); }

// A refusal: the check that failed, with what the file says.
Outcome refuse(Failure failure, std::uint64_t have, std::uint64_t want = 0) {
  return failed(failure, 0, have, want);
}

}  // namespace

Outcome check_input_header(const std::uint8_t (&header)[kHeaderBytes], std::size_t header_bytes,
                           std::uint64_t file_bytes, InputLayout& layout) {
  if (header_bytes < 2 || get_u16le(header + kBfType) != kSignatureBM) {
    return refuse(Failure::not_bmp, header_bytes >= 2 ? get_u16le(header + kBfType) : 0);
  }
  if (header_bytes < kHeaderBytes) {
    return refuse(Failure::header_truncated, header_bytes, kHeaderBytes);
  }
  // Checked in the order that gives the most useful answer: the header kind,
  // then the pixel format, then where the pixels start.
  const std::uint32_t info_size = get_u32le(header + kBiSize);
  if (info_size != kInfoHeaderSize) {
    return refuse(Failure::info_header_size, info_size);
  }
  const std::uint16_t bit_count = get_u16le(header + kBiBitCount);
  if (bit_count != kBitsPerPixel) {
    return refuse(Failure::bit_count, bit_count);
  }
  const std::uint32_t compression = get_u32le(header + kBiCompression);
  if (compression != kBiRgb) {
    return refuse(Failure::compression, compression);
  }
  // The pixel data must follow the two headers directly; a colour table or a
  // gap moves it.
  const std::uint32_t offset = get_u32le(header + kBfOffBits);
  if (offset != kHeaderBytes) {
    return refuse(Failure::pixel_offset, offset);
  }
  const std::int32_t width = get_i32le(header + kBiWidth);
  if (width < 0) {
    return refuse(Failure::negative_width, as_bits(width));
  }
  const std::int32_t height = get_i32le(header + kBiHeight);

  InputLayout in;
  in.width = static_cast<std::uint32_t>(width);
  in.rows = magnitude(height);
  in.top_down = height < 0;
  in.pad_bytes = row_padding(in.width);
  in.row_bytes = kPixelBytes * in.width + in.pad_bytes;  // < 2^33, no overflow
  // Every row but the last needs its padding; the last row's may be missing.
  std::uint64_t needed = 0;
  if (in.rows > 0) {
    std::uint64_t full_rows = 0;
    if (!checked_mul(in.row_bytes, in.rows - 1U, full_rows) ||
        !checked_add(full_rows, kPixelBytes * in.width, needed)) {
      return refuse(Failure::pixels_truncated, file_bytes, UINT64_MAX);
    }
  }
  std::uint64_t needed_file_bytes = 0;
  if (!checked_add(needed, kHeaderBytes, needed_file_bytes) || file_bytes < needed_file_bytes) {
    return refuse(Failure::pixels_truncated, file_bytes, needed_file_bytes);
  }
  in.needed_bytes = needed_file_bytes;
  layout = in;
  return Outcome{};
}

Outcome derive_output_header(const std::uint8_t (&header)[kHeaderBytes], const InputLayout& input,
                             std::int32_t factor, std::uint8_t (&out_header)[kHeaderBytes],
                             OutputLayout& layout) {
  if (factor < 1) {
    return refuse(Failure::factor_below_one, as_bits(factor));
  }
  OutputLayout out;
  out.factor = static_cast<std::uint32_t>(factor);
  std::uint64_t width = 0;
  std::uint64_t rows = 0;
  // Both products are below 2^63, but they are checked like every other size.
  if (!checked_mul(input.width, out.factor, width) || width > kMaxDimension) {
    return refuse(Failure::width_too_large, 0, width);
  }
  if (!checked_mul(input.rows, out.factor, rows) || rows > kMaxDimension) {
    return refuse(Failure::height_too_large, 0, rows);
  }
  out.width = static_cast<std::uint32_t>(width);
  out.rows = static_cast<std::uint32_t>(rows);
  out.pad_bytes = row_padding(out.width);
  out.row_bytes = kPixelBytes * out.width + out.pad_bytes;
  std::uint64_t image_bytes = 0;
  std::uint64_t file_bytes = 0;
  if (!checked_mul(out.row_bytes, out.rows, image_bytes) ||
      !checked_add(image_bytes, kHeaderBytes, file_bytes) || file_bytes > kMaxFileBytes) {
    return refuse(Failure::file_too_large, 0, file_bytes == 0 ? UINT64_MAX : file_bytes);
  }
  out.file_bytes = file_bytes;

  std::memcpy(out_header, header, kHeaderBytes);
  const std::int32_t signed_rows = static_cast<std::int32_t>(out.rows);
  put_u32le(out_header + kBfSize, static_cast<std::uint32_t>(file_bytes));
  put_u32le(out_header + kBiWidth, out.width);
  put_u32le(out_header + kBiHeight, input.top_down ? as_bits(-signed_rows) : out.rows);
  put_u32le(out_header + kBiSizeImage, static_cast<std::uint32_t>(image_bytes));
  layout = out;
  return Outcome{};
}

}  // namespace bmpresizer
