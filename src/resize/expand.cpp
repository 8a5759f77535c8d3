#include "expand.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define BMPRESIZER_HAVE_SSSE3 1
#elif defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#define BMPRESIZER_HAVE_NEON 1
#endif

namespace bmpresizer {
namespace {

constexpr std::size_t kBytesPerPixel = 3;

#if defined(BMPRESIZER_HAVE_SSSE3) || defined(BMPRESIZER_HAVE_NEON)
// Pixels handled per step by the shuffle kernels, and how many pixels must
// follow a step's first pixel: its 16-byte load reaches into the sixth.
constexpr std::uint32_t kShufflePixels = 4;
constexpr std::uint32_t kShuffleReach = 6;
#endif

// Pixels at the end of a row that take the exact path of repeat_pixel: the
// 8-byte path reads one byte past its pixel and writes up to five bytes past
// its run, which near the end of a row could reach stored pixels not yet read.
constexpr std::uint32_t kExactTailPixels = 3;

void repeat_pixel(std::uint8_t* out, const std::uint8_t* pixel, std::uint32_t factor) {
  for (std::uint32_t k = 0; k < factor; ++k) {
    std::memcpy(out + kBytesPerPixel * k, pixel, kBytesPerPixel);
  }
}

#if defined(BMPRESIZER_HAVE_SSSE3) || defined(BMPRESIZER_HAVE_NEON)
// Byte k of four pixels enlarged F times comes from byte 3 x (pixel / F) +
// channel of the four stored pixels: index tables for the byte shuffles.
alignas(16) const std::uint8_t kTimes2[32] = {0, 1, 2, 0,  1,  2, 3,  4,  5, 3, 4, 5, 6, 7, 8, 6,
                                              7, 8, 9, 10, 11, 9, 10, 11, 0, 0, 0, 0, 0, 0, 0, 0};
alignas(16) const std::uint8_t kTimes3[48] = {0,  1, 2,  0,  1, 2, 0, 1, 2, 3, 4, 5, 3,  4,  5, 3,
                                              4,  5, 6,  7,  8, 6, 7, 8, 6, 7, 8, 9, 10, 11, 9, 10,
                                              11, 9, 10, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0,  0, 0};
#endif

#if defined(BMPRESIZER_HAVE_SSSE3)
// Factors 2 and 3, four pixels per step with one load and two or three
// shuffles; writes exactly the enlarged bytes. Returns the pixels done.
__attribute__((target("ssse3"))) std::uint32_t expand_shuffled(std::uint8_t* dest,
                                                               const std::uint8_t* source,
                                                               std::uint32_t pixels,
                                                               std::uint32_t factor) {
  std::uint32_t i = 0;
  if (factor == 2) {
    const __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(kTimes2));
    const __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(kTimes2 + 16));
    for (; i + kShuffleReach <= pixels; i += kShufflePixels) {
      const __m128i in =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + kBytesPerPixel * i));
      std::uint8_t* out = dest + std::size_t{6} * i;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(in, low));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm_shuffle_epi8(in, high));
    }
  } else if (factor == 3) {
    const __m128i first = _mm_load_si128(reinterpret_cast<const __m128i*>(kTimes3));
    const __m128i second = _mm_load_si128(reinterpret_cast<const __m128i*>(kTimes3 + 16));
    const __m128i third = _mm_load_si128(reinterpret_cast<const __m128i*>(kTimes3 + 32));
    for (; i + kShuffleReach <= pixels; i += kShufflePixels) {
      const __m128i in =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + kBytesPerPixel * i));
      std::uint8_t* out = dest + std::size_t{9} * i;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(in, first));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_shuffle_epi8(in, second));
      const auto last = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi8(in, third)));
      std::memcpy(out + 32, &last, sizeof last);
    }
  }
  return i;
}

bool have_shuffles() {
  // The builtin itself converts a bool inside; nothing to change here.
  // NOLINTNEXTLINE(readability-implicit-bool-conversion)
  static const bool supported = __builtin_cpu_supports("ssse3") != 0;
  return supported;
}
#elif defined(BMPRESIZER_HAVE_NEON)
std::uint32_t expand_shuffled(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels,
                              std::uint32_t factor) {
  std::uint32_t i = 0;
  if (factor == 2) {
    const uint8x16_t low = vld1q_u8(kTimes2);
    const uint8x8_t high = vld1_u8(kTimes2 + 16);
    for (; i + kShuffleReach <= pixels; i += kShufflePixels) {
      const uint8x16_t in = vld1q_u8(source + kBytesPerPixel * i);
      std::uint8_t* out = dest + std::size_t{6} * i;
      vst1q_u8(out, vqtbl1q_u8(in, low));
      vst1_u8(out + 16, vqtbl1_u8(in, high));
    }
  } else if (factor == 3) {
    const uint8x16_t first = vld1q_u8(kTimes3);
    const uint8x16_t second = vld1q_u8(kTimes3 + 16);
    const uint8x16_t third = vld1q_u8(kTimes3 + 32);
    for (; i + kShuffleReach <= pixels; i += kShufflePixels) {
      const uint8x16_t in = vld1q_u8(source + kBytesPerPixel * i);
      std::uint8_t* out = dest + std::size_t{9} * i;
      vst1q_u8(out, vqtbl1q_u8(in, first));
      vst1q_u8(out + 16, vqtbl1q_u8(in, second));
      const std::uint32_t last = vgetq_lane_u32(vreinterpretq_u32_u8(vqtbl1q_u8(in, third)), 0);
      std::memcpy(out + 32, &last, sizeof last);
    }
  }
  return i;
}

bool have_shuffles() { return true; }
#else
std::uint32_t expand_shuffled(std::uint8_t*, const std::uint8_t*, std::uint32_t, std::uint32_t) {
  return 0;
}

bool have_shuffles() { return false; }
#endif

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// The pixel b0 b1 b2 repeated in eight bytes, b0 b1 b2 b0 b1 b2 b0 b1, is
// stored every six bytes along its run, for pixels `first` up to `end`.
// kFactor fixes the factor at compile time where it is common (0: `factor`).
template <std::uint32_t kFactor>
void expand_wide(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t first,
                 std::uint32_t end, std::uint32_t factor) {
  const std::size_t run = kBytesPerPixel * (kFactor != 0 ? kFactor : factor);
  for (std::uint32_t i = first; i < end; ++i) {
    std::uint32_t loaded = 0;
    std::memcpy(&loaded, source + kBytesPerPixel * i, sizeof loaded);
    const std::uint64_t pixel = loaded & 0xFFFFFFU;
    const std::uint64_t pattern = pixel | pixel << 24 | pixel << 48;
    std::uint8_t* out = dest + run * i;
    for (std::size_t at = 0; at < run; at += 6) {
      std::memcpy(out + at, &pattern, sizeof pattern);
    }
  }
}
#endif

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
  if ((factor == 2 || factor == 3) && have_shuffles()) {
    i = expand_shuffled(dest, source, pixels, factor);
  }
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  const std::uint32_t wide_end = pixels > kExactTailPixels ? pixels - kExactTailPixels : 0;
  if (i < wide_end) {
    switch (factor) {
      case 2:
        expand_wide<2>(dest, source, i, wide_end, factor);
        break;
      case 3:
        expand_wide<3>(dest, source, i, wide_end, factor);
        break;
      case 4:
        expand_wide<4>(dest, source, i, wide_end, factor);
        break;
      default:
        expand_wide<0>(dest, source, i, wide_end, factor);
        break;
    }
    i = wide_end;
  }
#endif
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
