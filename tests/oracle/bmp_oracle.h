// What a correct enlargement looks like, decided from the BMP format's own
// rules and nothing of the library's: one small library for the tests and
// the fuzz target, with no test framework.
#ifndef BMPRESIZER_TESTS_BMP_ORACLE_H
#define BMPRESIZER_TESTS_BMP_ORACLE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace bmporacle {

// Checks that `output` is `input` (an uncompressed BMP of any kind the
// tool or the library accepts: headers of 12 to 124 bytes, 1 to 32 bits per
// pixel) enlarged `factor` times by pixel repetition: the same bytes before
// the pixels but for the size fields (bfSize, the width and height, biSizeImage,
// a V5 profile's offset), which must give the enlarged sizes; pixel (x, y)
// equal to input pixel (x / factor, y / factor), bit for bit; zero bits and
// bytes after each row's pixels; a V5 profile after the pixels copied after
// the enlarged ones; nothing else. Returns "" or the first difference.
std::string check_enlargement(const std::uint8_t* input, std::size_t input_size,
                              const std::uint8_t* output, std::size_t output_size, int factor);
// The same with pixels repeated `across` times along the rows and rows
// `down` times down the image.
std::string check_enlargement(const std::uint8_t* input, std::size_t input_size,
                              const std::uint8_t* output, std::size_t output_size, int across,
                              int down);

// Checks that `output` is the run-length encoded `input` (RLE8, RLE4, or
// OS/2's RLE24, accepted) enlarged by `across` x `down`: the same bytes
// before the pixels but for the size fields (and the compression, 0, when
// not `kept`), and the picture the codes draw, read as the format describes
// them (runs into a row's padding cut at its width), with each pixel
// repeated: drawn by codes of the same encoding where `kept`, with the same
// pixels undrawn; else as uncompressed rows, undrawn pixels 0. Returns ""
// or the first difference.
std::string check_encoded_enlargement(const std::uint8_t* input, std::size_t input_size,
                                      const std::uint8_t* output, std::size_t output_size,
                                      int across, int down, bool kept);

// Bytes per stored row of `width` 24-bit pixels: rows of bits are rounded up
// to whole 32-bit words.
std::uint64_t stride_of(std::uint64_t width);

}  // namespace bmporacle

#endif
