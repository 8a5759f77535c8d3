// The byte-shuffle kernels for the commonest factors, one file per
// instruction set (SSSE3, NEON, or none), and the wider permute kernels
// (AVX-512 VBMI, or none), chosen by the build.
#ifndef BMPRESIZER_RESIZE_EXPAND_SHUFFLE_H
#define BMPRESIZER_RESIZE_EXPAND_SHUFFLE_H

#include <cstdint>

namespace bmpresizer {

// Pixels handled per step by a shuffle kernel, and how many pixels must
// follow a step's first pixel: its 16-byte load reaches into the sixth.
constexpr std::uint32_t kShufflePixels = 4;
constexpr std::uint32_t kShuffleReach = 6;

// Whether this processor runs the shuffle kernels.
bool have_shuffles();

// Enlarge the leading pixels of a row 2 or 3 times, four at a time, writing
// exactly their enlarged bytes; the same overlap rule as expand_row holds.
// Return how many pixels they did: all but the last few, which they leave to
// the caller (0 where there is no shuffle).
std::uint32_t shuffle_times2(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels);
std::uint32_t shuffle_times3(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels);

// One-byte pixels (palette indices) enlarged `factor` times, 2 to
// kMaxByteShuffleFactor, sixteen at a step: one load, then `factor` shuffles
// and stores, exactly the enlarged bytes. The same overlap rule as
// expand_pixels holds: each step reads its pixels before it writes. Returns
// how many pixels it did, stopping kByteShuffleReach short of the end (0
// where there is no shuffle).
constexpr std::uint32_t kMaxByteShuffleFactor = 16;
constexpr std::uint32_t kByteShufflePixels = 16;
constexpr std::uint32_t kByteShuffleReach = 20;
std::uint32_t shuffle_bytes(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels,
                            std::uint32_t factor);

// The shuffle masks of shuffle_bytes: output byte j of step k takes stored
// byte (16 k + j) / factor, for k < factor, into `masks` (16 factor bytes).
inline void make_byte_masks(std::uint8_t* masks, std::uint32_t factor) {
  for (std::uint32_t at = 0; at < kByteShufflePixels * factor; ++at) {
    masks[at] = static_cast<std::uint8_t>(at / factor);
  }
}

// Whether this processor runs permute_pixels.
bool have_wide_permutes();

// Pixels of `bytes` bytes (1 to 4) enlarged `factor` times (2 to 4), a step
// of whole pixels enlarging into whole 64-byte chunks, with the overlap rule
// of expand_pixels. Returns how many pixels it did, stopping where a step's
// loads would pass the last stored byte (0 for another size or factor, or
// where there is no permute).
std::uint32_t permute_pixels(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels,
                             std::uint32_t bytes, std::uint32_t factor);

// The whole stored bytes of pixels of `bits` bits (1, 2 or 4) enlarged
// `factor` times (2 to 4), each becoming `factor` bytes, with the overlap
// rule of expand_bits. Returns how many stored bytes it did, stopping where
// a step's loads would pass the last of the `stored` ones (0 for another
// size or factor, or where the processor lacks GFNI or there is no permute).
std::uint32_t permute_bits(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t stored,
                           std::uint32_t bits, std::uint32_t factor);

}  // namespace bmpresizer

#endif
