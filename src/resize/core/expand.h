// Pixel kernels: repeating 24-bit pixels in memory.
#ifndef BMPRESIZER_RESIZE_EXPAND_H
#define BMPRESIZER_RESIZE_EXPAND_H

#include <cstddef>
#include <cstdint>

namespace bmpresizer {

// Writes the `pixels` three-byte pixels at `source`, each repeated `factor`
// times (factor >= 1), to `dest`.
//
// The stored pixels may lie inside the destination, provided
// `source` - `dest` >= 3 x (factor - 1) x pixels - 3: that holds when they
// sit at the end of the room for the enlarged row, whose padding may be up to
// three bytes shorter than theirs. Working forward, no write then reaches a
// stored pixel that is still to be read.
void expand_row(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels,
                std::uint32_t factor);

// Fills `size` bytes at `dest` with copies of the `unit` bytes already there.
void repeat_forward(std::uint8_t* dest, std::size_t unit, std::size_t size);

}  // namespace bmpresizer

#endif
