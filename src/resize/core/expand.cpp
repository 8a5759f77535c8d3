#include "expand.h"

#include <cstring>

#include "bmp_format.h"
#include "expand_shuffle.h"

namespace bmpresizer {
namespace {

// Pixels at the end of a row that take the exact path of repeat_pixel: the
// 8-byte path writes up to five bytes past its run, which near the end of a
// row could reach stored pixels not yet read.
constexpr std::uint32_t kExactTailPixels = 3;

// The order in which a 64-bit store lays its bytes down.
constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// The eight bytes b0 b1 b2 b0 b1 b2 b0 b1 of the pixel b0 b1 b2, as the
// value that a 64-bit store writes in that order.
std::uint64_t pattern_of(const std::uint8_t* pixel) {
  const std::uint64_t b0 = pixel[0];
  const std::uint64_t b1 = pixel[1];
  const std::uint64_t b2 = pixel[2];
  if (kLittleEndian) {
    const std::uint64_t bits = b0 | b1 << 8 | b2 << 16;
    return bits | bits << 24 | bits << 48;
  }
  const std::uint64_t bits = b0 << 16 | b1 << 8 | b2;
  return bits << 40 | bits << 16 | bits >> 8;
}

void repeat_pixel(std::uint8_t* out, const std::uint8_t* pixel, std::uint32_t factor) {
  for (std::uint32_t k = 0; k < factor; ++k) {
    std::memcpy(out + kBytesPerPixel * k, pixel, kBytesPerPixel);
  }
}

// The pixel b0 b1 b2 repeated in eight bytes, b0 b1 b2 b0 b1 b2 b0 b1, is
// stored every six bytes along its run, for pixels `first` up to `end`.
// kFactor fixes the factor at compile time where it is common (0: `factor`).
template <std::uint32_t kFactor>
void expand_wide(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t first,
                 std::uint32_t end, std::uint32_t factor) {
  const std::size_t run = kBytesPerPixel * (kFactor != 0 ? kFactor : factor);
  for (std::uint32_t i = first; i < end; ++i) {
    const std::uint64_t pattern = pattern_of(source + kBytesPerPixel * i);
    std::uint8_t* out = dest + run * i;
    for (std::size_t at = 0; at < run; at += 6) {
      std::memcpy(out + at, &pattern, sizeof pattern);
    }
  }
}

void expand_wide_any(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t first,
                     std::uint32_t end, std::uint32_t factor) {
  switch (factor) {
    case 2:
      expand_wide<2>(dest, source, first, end, factor);
      break;
    case 3:
      expand_wide<3>(dest, source, first, end, factor);
      break;
    case 4:
      expand_wide<4>(dest, source, first, end, factor);
      break;
    default:
      expand_wide<0>(dest, source, first, end, factor);
      break;
  }
}

}  // namespace

void expand_row(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels,
                std::uint32_t factor) {
  if (factor == 1) {
    if (dest != source) {
      std::memmove(dest, source, kBytesPerPixel * pixels);
    }
    return;
  }
  std::uint32_t i = 0;
  if (factor == 2 && have_shuffles()) {
    i = shuffle_times2(dest, source, pixels);
  } else if (factor == 3 && have_shuffles()) {
    i = shuffle_times3(dest, source, pixels);
  }
  const std::uint32_t wide_end = pixels > kExactTailPixels ? pixels - kExactTailPixels : 0;
  if (i < wide_end) {
    expand_wide_any(dest, source, i, wide_end, factor);
    i = wide_end;
  }
  const std::size_t run = kBytesPerPixel * factor;
  for (; i < pixels; ++i) {
    std::uint8_t pixel[kBytesPerPixel];
    std::memcpy(pixel, source + kBytesPerPixel * i, kBytesPerPixel);
    repeat_pixel(dest + run * i, pixel, factor);
  }
}

void repeat_forward(std::uint8_t* dest, std::size_t unit, std::size_t size) {
  std::size_t filled = unit;
  while (filled < size) {
    const std::size_t step = filled < size - filled ? filled : size - filled;
    std::memcpy(dest + filled, dest, step);
    filled += step;
  }
}

}  // namespace bmpresizer
