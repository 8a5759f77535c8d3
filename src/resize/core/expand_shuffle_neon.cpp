// The shuffle kernels with NEON (AArch64, where every processor has it): one
// load and two or three table lookups per four pixels.
#include <arm_neon.h>

#include <cstring>

#include "bmp_format.h"
#include "expand_shuffle.h"
#include "expand_shuffle_tables.h"

namespace bmpresizer {

std::uint32_t shuffle_times2(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels) {
  const uint8x16_t low = vld1q_u8(kTimes2);
  const uint8x8_t high = vld1_u8(kTimes2 + 16);
  std::uint32_t i = 0;
  for (; i + kShuffleReach <= pixels; i += kShufflePixels) {
    const uint8x16_t in = vld1q_u8(source + kBytesPerPixel * i);
    std::uint8_t* out = dest + std::size_t{6} * i;
    vst1q_u8(out, vqtbl1q_u8(in, low));
    vst1_u8(out + 16, vqtbl1_u8(in, high));
  }
  return i;
}

std::uint32_t shuffle_times3(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels) {
  const uint8x16_t first = vld1q_u8(kTimes3);
  const uint8x16_t second = vld1q_u8(kTimes3 + 16);
  const uint8x16_t third = vld1q_u8(kTimes3 + 32);
  std::uint32_t i = 0;
  for (; i + kShuffleReach <= pixels; i += kShufflePixels) {
    const uint8x16_t in = vld1q_u8(source + kBytesPerPixel * i);
    std::uint8_t* out = dest + std::size_t{9} * i;
    vst1q_u8(out, vqtbl1q_u8(in, first));
    vst1q_u8(out + 16, vqtbl1q_u8(in, second));
    const std::uint32_t last = vgetq_lane_u32(vreinterpretq_u32_u8(vqtbl1q_u8(in, third)), 0);
    std::memcpy(out + 32, &last, sizeof last);
  }
  return i;
}

bool have_shuffles() { return true; }

std::uint32_t shuffle_bytes(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels,
                            std::uint32_t factor) {
  std::uint8_t masks[kByteShufflePixels * kMaxByteShuffleFactor];
  make_byte_masks(masks, factor);
  std::uint32_t i = 0;
  for (; i + kByteShuffleReach <= pixels; i += kByteShufflePixels) {
    const uint8x16_t in = vld1q_u8(source + i);
    std::uint8_t* out = dest + std::size_t{factor} * i;
    for (std::size_t k = 0; k < factor; ++k) {
      vst1q_u8(out + kByteShufflePixels * k,
               vqtbl1q_u8(in, vld1q_u8(masks + kByteShufflePixels * k)));
    }
  }
  return i;
}

}  // namespace bmpresizer
