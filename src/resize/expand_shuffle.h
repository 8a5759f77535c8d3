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

// Enlarges the leading pixels of a row for factor 2 or 3, four at a time,
// writing exactly their enlarged bytes; the same overlap rule as expand_row
// holds. Returns how many pixels it did (0 for other factors): all but the
// last few, which it leaves to the caller.
std::uint32_t expand_shuffled(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels,
                              std::uint32_t factor);

}  // namespace bmpresizer

#endif
