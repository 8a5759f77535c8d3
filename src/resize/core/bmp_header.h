// The BMP subset at both ends of a resize: checking the input's two headers
// and deriving the enlarged output's headers from them.
//
// Headers are handled as the 54 raw little-endian bytes they are in the file
// (14-byte file header, then the 40-byte information header). The 32-bit
// fields at offsets 2 and 10 are unaligned, so fields are always read and
// written byte by byte, never through a struct or a cast pointer.
#ifndef BMPRESIZER_RESIZE_BMP_HEADER_H
#define BMPRESIZER_RESIZE_BMP_HEADER_H

#include <cstddef>
#include <cstdint>

#include "bmp_format.h"
#include "bmpresizer_core.h"

namespace bmpresizer {

// The shape of the pixel data of an accepted input.
struct InputLayout {
  std::uint32_t width = 0;                    // W, pixels per row (biWidth, never negative)
  std::uint32_t rows = 0;                     // |H|, stored rows
  bool top_down = false;                      // biHeight < 0
  std::uint32_t pad_bytes = 0;                // W & 3: zero bytes closing each stored row
  std::uint64_t row_bytes = 0;                // 3W + pad: stride between stored rows
  std::uint64_t first_row_at = kHeaderBytes;  // file offset of the first row to read
  std::uint64_t needed_bytes = kHeaderBytes;  // of the file: headers and rows
};

// Checks the input headers `header` (of which `header_bytes` bytes could be
// read) against a file of `file_bytes` bytes. Accepts only 24-bit,
// uncompressed BMPs with a 40-byte information header, pixel data at byte 54,
// a width of zero or more, and enough bytes for every declared row. On
// success fills `layout`; otherwise returns the first check that failed, in
// this order: signature, header length, header kind, bit depth, compression,
// pixel offset, width, file length.
Outcome check_input_header(const std::uint8_t (&header)[kHeaderBytes], std::size_t header_bytes,
                           std::uint64_t file_bytes, InputLayout& layout);

// The shape of the enlarged output.
struct OutputLayout {
  std::uint32_t factor = 0;
  std::uint32_t width = 0;       // W x factor
  std::uint32_t rows = 0;        // |H| x factor
  std::uint32_t pad_bytes = 0;   // (W x factor) & 3
  std::uint64_t row_bytes = 0;   // 3 x width + pad_bytes
  std::uint64_t file_bytes = 0;  // 54 + row_bytes x rows, at most 4 GiB - 1
};

// Derives the output headers from the input `header` for `factor`: a copy of
// the input's 54 bytes with bfSize, biWidth, biHeight and biSizeImage
// rewritten (the sign of biHeight carries over). Refuses factors below 1 and
// enlargements whose width or height exceed 2^31 - 1 or whose file exceeds
// 4 GiB - 1 bytes; `out_header` and `layout` are then unspecified.
Outcome derive_output_header(const std::uint8_t (&header)[kHeaderBytes], const InputLayout& input,
                             std::int32_t factor, std::uint8_t (&out_header)[kHeaderBytes],
                             OutputLayout& layout);

}  // namespace bmpresizer

#endif
