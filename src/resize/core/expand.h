// Pixel kernels: repeating pixels in memory, of whole bytes (1 to 4) and of
// bits (1, 2 or 4, the first pixel of a byte in its most significant bits).
#ifndef BMPRESIZER_RESIZE_EXPAND_H
#define BMPRESIZER_RESIZE_EXPAND_H

#include <cstddef>
#include <cstdint>

namespace bmpresizer {

// The kernels that expand rows, each kind including those before it.
enum class Kernels { portable, shuffles, permutes };

// From now on, expands rows with no kernels beyond `most` (the best this
// processor runs, when not called): the tests run every kind on one machine.
// Not while another thread expands rows.
void limit_kernels(Kernels most);

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

// expand_row for pixels of `bytes` bytes each, 1, 2, 3 or 4: the stored
// pixels may lie inside the destination, provided `source` - `dest` >=
// `bytes` x (factor - 1) x pixels.
void expand_pixels(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels,
                   std::uint32_t bytes, std::uint32_t factor);

// The largest factor for which make_bit_table is worth its room.
constexpr std::uint32_t kMaxBitTableFactor = 16;

// The room make_bit_table takes: an entry per stored byte, each a whole
// number of 8-byte words.
constexpr std::size_t bit_table_bytes(std::uint32_t factor) {
  return std::size_t{256} * ((std::size_t{factor} + 7) / 8 * 8);
}

// The `factor` bytes that each of the 256 stored bytes of `bits`-bit
// pixels becomes, into `table` (bit_table_bytes(factor) bytes).
void make_bit_table(std::uint8_t* table, std::uint32_t bits, std::uint32_t factor);

// A byte holding nothing but the `bits`-bit pixel `value`, over and over.
std::uint8_t fill_of(std::uint32_t value, std::uint32_t bits);

// Writes the `pixels` pixels of `bits` bits (1, 2 or 4) at `source`, each
// repeated `factor` times, to `dest` from its first bit: ceil(pixels x
// factor x bits / 8) bytes, the bits after the last pixel zero. With a
// `table` from make_bit_table, whole stored bytes take one lookup each. The
// stored pixels may lie inside the destination, provided `source` - `dest`
// >= ceil(pixels x factor x bits / 8) - ceil(pixels x bits / 8).
void expand_bits(std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels,
                 std::uint32_t bits, std::uint32_t factor, const std::uint8_t* table);

}  // namespace bmpresizer

#endif
