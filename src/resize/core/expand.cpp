#include "expand.h"

#include <atomic>
#include <cstring>

#include "bmp_format.h"
#include "expand_shuffle.h"

namespace bmpresizer {
namespace {

std::atomic<Kernels> kernel_limit{Kernels::permutes};

bool use_shuffles() {
  return kernel_limit.load(std::memory_order_relaxed) >= Kernels::shuffles && have_shuffles();
}

bool use_permutes() {
  return kernel_limit.load(std::memory_order_relaxed) >= Kernels::permutes && have_wide_permutes();
}

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

void limit_kernels(Kernels most) { kernel_limit.store(most, std::memory_order_relaxed); }

void expand_row(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels,
                std::uint32_t factor) {
  if (factor == 1) {
    if (dest != source) {
      std::memmove(dest, source, kBytesPerPixel * pixels);
    }
    return;
  }
  std::uint32_t i =
      use_permutes() ? permute_pixels(dest, source, pixels, kBytesPerPixel, factor) : 0;
  const std::size_t run = kBytesPerPixel * factor;
  if (factor == 2 && use_shuffles()) {
    i += shuffle_times2(dest + run * i, source + kBytesPerPixel * i, pixels - i);
  } else if (factor == 3 && use_shuffles()) {
    i += shuffle_times3(dest + run * i, source + kBytesPerPixel * i, pixels - i);
  }
  const std::uint32_t wide_end = pixels > kExactTailPixels ? pixels - kExactTailPixels : 0;
  if (i < wide_end) {
    expand_wide_any(dest, source, i, wide_end, factor);
    i = wide_end;
  }
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

namespace {

// The pixel of `Bytes` bytes (1, 2 or 4) at `pixel`, over and over in the
// eight bytes that a 64-bit store writes.
template <std::uint32_t Bytes>
std::uint64_t spread(const std::uint8_t* pixel) {
  std::uint64_t unit = 0;
  for (std::uint32_t k = 0; k < Bytes; ++k) {
    unit |= std::uint64_t{pixel[k]} << (kLittleEndian ? 8 * k : 8 * (7 - k));
  }
  for (std::uint32_t width = 8 * Bytes; width < 64; width *= 2) {
    unit |= kLittleEndian ? unit << width : unit >> width;
  }
  return unit;
}

// Two copies of each of the eight bytes at `source`, at `dest`: b0 b0 b1 b1
// ... b7 b7, the stored bytes read before any is written. Little-endian.
template <std::uint32_t Bytes>
void double_eight_bytes(std::uint8_t* dest, const std::uint8_t* source) {
  std::uint64_t x = 0;
  std::memcpy(&x, source, sizeof x);
  std::uint64_t halves[2] = {x & 0xFFFFFFFFu, x >> 32};
  for (std::uint64_t& t : halves) {
    if (Bytes == 1) {
      t = (t | t << 16) & 0x0000FFFF0000FFFFu;
      t = (t | t << 8) & 0x00FF00FF00FF00FFu;
      t |= t << 8;
    } else if (Bytes == 2) {
      t = (t | t << 16) & 0x0000FFFF0000FFFFu;
      t |= t << 16;
    } else {
      t |= t << 32;
    }
  }
  std::memcpy(dest, halves, sizeof halves);
}

// Pixels (or stored bytes) at the end of a row that take the exact path:
// the 8-byte stores write up to seven bytes past a run, which near the end
// of a row could reach stored pixels not yet read.
constexpr std::uint32_t kExactTailWords = 8;

template <std::uint32_t Bytes>
void expand_whole_bytes(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels,
                        std::uint32_t factor) {
  const std::size_t run = std::size_t{Bytes} * factor;
  std::uint32_t i = use_permutes() ? permute_pixels(dest, source, pixels, Bytes, factor) : 0;
  if (Bytes == 1 && factor <= kMaxByteShuffleFactor && use_shuffles()) {
    i += shuffle_bytes(dest + run * i, source + i, pixels - i, factor);
  }
  if (factor == 2 && kLittleEndian) {
    // Eight bytes in, sixteen out, the stored ones read first: a write never
    // passes the next stored byte to be read.
    for (; i + 8 / Bytes <= pixels; i += 8 / Bytes) {
      double_eight_bytes<Bytes>(dest + run * i, source + std::size_t{Bytes} * i);
    }
  } else {
    // The pixel over and over in 8-byte stores along its run; the next
    // pixel's run overwrites what a store wrote past this one's.
    const std::uint32_t wide_end = pixels > kExactTailWords ? pixels - kExactTailWords : 0;
    for (; i < wide_end; ++i) {
      const std::uint64_t pattern = spread<Bytes>(source + std::size_t{Bytes} * i);
      for (std::size_t at = 0; at < run; at += 8) {
        std::memcpy(dest + run * i + at, &pattern, sizeof pattern);
      }
    }
  }
  for (; i < pixels; ++i) {
    std::uint8_t pixel[Bytes];
    std::memcpy(pixel, source + std::size_t{Bytes} * i, Bytes);
    for (std::uint32_t k = 0; k < factor; ++k) {
      std::memcpy(dest + run * i + std::size_t{Bytes} * k, pixel, Bytes);
    }
  }
}

// Writes `count` bits of `fill` at bit `at` of `dest`; the bits of the byte
// at `at` before it are kept, those after the run are left undefined.
void write_run(std::uint8_t* dest, std::uint64_t at, std::uint8_t fill, std::uint64_t count) {
  std::uint8_t* byte = dest + at / 8;
  const auto shift = static_cast<std::uint32_t>(at % 8);
  if (shift != 0) {
    const std::uint32_t take = count < 8 - shift ? static_cast<std::uint32_t>(count) : 8 - shift;
    const auto mask = static_cast<std::uint8_t>((0xFFu >> shift) & ~(0xFFu >> (shift + take)));
    *byte = static_cast<std::uint8_t>((*byte & ~mask) | (fill & mask));
    ++byte;
    count -= take;
  }
  std::memset(byte, fill, static_cast<std::size_t>((count + 7) / 8));
}

}  // namespace

void expand_pixels(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels,
                   std::uint32_t bytes, std::uint32_t factor) {
  if (factor == 1) {
    if (dest != source) {
      std::memmove(dest, source, std::size_t{bytes} * pixels);
    }
    return;
  }
  switch (bytes) {
    case 1:
      expand_whole_bytes<1>(dest, source, pixels, factor);
      break;
    case 2:
      expand_whole_bytes<2>(dest, source, pixels, factor);
      break;
    case 3:
      expand_row(dest, source, pixels, factor);
      break;
    default:
      expand_whole_bytes<4>(dest, source, pixels, factor);
      break;
  }
}

std::uint8_t fill_of(std::uint32_t value, std::uint32_t bits) {
  // 0b1 -> 0xFF, 0b10 -> 0xAA, 0b0110 -> 0x66.
  return static_cast<std::uint8_t>(value * (0xFFu / ((1u << bits) - 1)));
}

void make_bit_table(std::uint8_t* table, std::uint32_t bits, std::uint32_t factor) {
  const std::size_t entry = bit_table_bytes(factor) / 256;
  for (std::uint32_t value = 0; value < 256; ++value) {
    const auto stored = static_cast<std::uint8_t>(value);
    expand_bits(table + entry * value, &stored, 8 / bits, bits, factor, nullptr);
  }
}

void expand_bits(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels,
                 std::uint32_t bits, std::uint32_t factor, const std::uint8_t* table) {
  const std::uint32_t per_byte = 8 / bits;
  std::uint32_t whole = 0;  // stored bytes done
  if (factor == 1) {
    // The stored bits as they are; the words below would pass the next byte.
    const std::uint64_t used = std::uint64_t{pixels} * bits;
    std::memmove(dest, source, static_cast<std::size_t>((used + 7) / 8));
    if (used % 8 != 0) {
      dest[used / 8] = static_cast<std::uint8_t>(dest[used / 8] & ~(0xFFu >> (used % 8)));
    }
    return;
  }
  if (use_permutes()) {
    whole = permute_bits(dest, source, pixels / per_byte, bits, factor);
  }
  if (table != nullptr) {
    // Each stored byte is read before its `factor` bytes are written, as
    // whole words of its entry; the next byte's overwrite what a word wrote
    // past them. The last few stored bytes take exact copies.
    const std::size_t entry = bit_table_bytes(factor) / 256;
    const std::uint32_t bytes = pixels / per_byte;
    const std::uint32_t wide_end = bytes > kExactTailWords ? bytes - kExactTailWords : 0;
    for (; whole < wide_end; ++whole) {
      const std::uint8_t* from = table + entry * source[whole];
      std::uint8_t* to = dest + std::size_t{factor} * whole;
      std::memcpy(to, from, 8);
      if (entry > 8) {
        std::memcpy(to + 8, from + 8, 8);
      }
    }
    for (; whole < bytes; ++whole) {
      const std::uint8_t stored = source[whole];
      std::memcpy(dest + std::size_t{factor} * whole, table + entry * stored, factor);
    }
  }
  const std::uint64_t run = std::uint64_t{factor} * bits;
  std::uint64_t at = run * per_byte * whole;
  for (std::uint32_t i = whole * per_byte; i < pixels;) {
    // A stored byte is read whole before its first run is written.
    const std::uint8_t stored = source[i / per_byte];
    for (std::uint32_t k = i % per_byte; k < per_byte && i < pixels; ++k, ++i) {
      const std::uint32_t value =
          (std::uint32_t{stored} >> (8 - bits * (k + 1))) & ((1u << bits) - 1);
      write_run(dest, at, fill_of(value, bits), run);
      at += run;
    }
  }
  if (at % 8 != 0) {
    dest[at / 8] = static_cast<std::uint8_t>(dest[at / 8] & ~(0xFFu >> (at % 8)));
  }
}

}  // namespace bmpresizer
