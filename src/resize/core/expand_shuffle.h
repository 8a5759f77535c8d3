// The byte-shuffle kernels for the commonest factors, one file per
// instruction set (SSSE3, NEON, or none), chosen by the build.
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

}  // namespace bmpresizer

#endif
