// The BMP formats at both ends of a resize: checking the input's headers and
// deriving the enlarged output's headers from them.
//
// Headers are handled as the raw little-endian bytes they are in the file
// (the 14-byte file header, then the information header, 12 to 124 bytes).
// The 32-bit fields at offsets 2 and 10 are unaligned, so fields are always
// read and written byte by byte, never through a struct or a cast pointer.
#ifndef BMPRESIZER_RESIZE_BMP_HEADER_H
#define BMPRESIZER_RESIZE_BMP_HEADER_H

#include <cstddef>
#include <cstdint>

#include "bmp_format.h"
#include "bmpresizer_core.h"

namespace bmpresizer {

// The shape of an accepted input.
struct InputLayout {
  std::uint32_t info_size = kInfoHeaderSize;  // biSize
  std::uint32_t bits_per_pixel = 24;          // 1, 2, 4, 8, 16, 24 or 32
  std::uint32_t compression = 0;              // biCompression: 0, or 3 and 6 with masks
  std::uint32_t width = 0;                    // W, pixels per row (never negative)
  std::uint32_t rows = 0;                     // |H|, stored rows
  bool top_down = false;                      // biHeight < 0
  std::uint64_t row_data_bytes = 0;           // the bytes of a row that hold its W pixels
  std::uint32_t pad_bytes = 0;                // the rest of a row, up to a multiple of four
  std::uint64_t row_bytes = 0;                // stride between stored rows
  // Everything before the pixels (headers, masks, colour table, any gap):
  // bfOffBits bytes, copied.
  std::uint64_t prefix_bytes = kHeaderBytes;
  // Where the headers, masks and colour table end; a gap may follow.
  std::uint64_t tables_end = kHeaderBytes;
  std::uint64_t first_row_at = kHeaderBytes;  // file offset of the first row to read
  // A V5 colour profile after the pixels, copied after the enlarged ones (0
  // bytes: none, or one inside the prefix).
  std::uint64_t profile_at = 0;
  std::uint64_t profile_bytes = 0;
  std::uint64_t needed_bytes = kHeaderBytes;  // of the file, to its last needed byte
  // Run-length encoded pixels (BI_RLE8, BI_RLE4, OS/2's RLE24): the bits of
  // the pixels they encode (8, 4 or 24), else 0; and the encoded bytes from
  // first_row_at (biSizeImage, or to the file's end where that is 0).
  std::uint32_t encoded_bits = 0;
  std::uint64_t encoded_bytes = 0;
};

// Checks the input headers `header` (kMaxHeaderBytes bytes, of which
// `header_bytes` could be read; the rest zero) against a file of
// `file_bytes` bytes. Kinds::classic accepts only 24-bit, uncompressed BMPs
// with a 40-byte information header, pixel data at byte 54, a width of zero
// or more, and enough bytes for every declared row; on failure it returns
// the first check that failed, in this order: signature, header length,
// header kind, bit depth, compression, pixel offset, width, file length.
// Kinds::uncompressed accepts every uncompressed BMP, checked in the order:
// signature, header length, header kind, planes, compression, bit depth,
// masks, pixel offset, colour table, palette, width, encoded rows, profile,
// file length. Kinds::every accepts run-length encoded pixels too: RLE8 at 8
// bits, RLE4 at 4 bits (every header with a compression field) and RLE24
// at 24 bits (OS/2 2.x's 64-byte header), stored bottom-up, their encoded
// bytes within the file.
Outcome check_input_header(const std::uint8_t* header, std::size_t header_bytes,
                           std::uint64_t file_bytes, Kinds kinds, InputLayout& layout);

// The shape of the enlarged output.
struct OutputLayout {
  bool encoded = false;                    // rows run-length encoded as the input's
  std::uint32_t across = 0;                // each pixel's copies across its row
  std::uint32_t down = 0;                  // each row's copies down the image
  std::uint32_t width = 0;                 // W x across
  std::uint32_t rows = 0;                  // |H| x down
  std::uint64_t row_data_bytes = 0;        // the bytes of a row that hold its pixels
  std::uint32_t pad_bytes = 0;             // zero bytes closing each row
  std::uint64_t row_bytes = 0;             // row_data_bytes + pad_bytes, a multiple of four
  std::uint64_t pixels_at = kHeaderBytes;  // the input's prefix comes first
  std::uint64_t pixel_bytes = 0;           // row_bytes x rows
  std::uint64_t profile_at = 0;            // where a profile after the pixels goes
  std::uint64_t file_bytes = 0;            // everything, at most 4 GiB - 1
};

// Derives the output headers from the input `header` for `factors`: a copy of
// its first 14 + biSize bytes with bfSize, the width, the height (its sign
// carried over), biSizeImage and a V5 profile's offset rewritten, as far as
// the header has them. Encoded rows stay encoded, `encoded_bytes` long
// (measure_encoded tells), unless `form` asks for uncompressed ones, when
// the compression becomes BI_RGB. Refuses a factor below 1 (`have` the first such, across
// before down) and enlargements whose width
// or height exceed the header's fields (2^31 - 1, or 65535 in a 12-byte
// header; `have` the limit) or whose file exceeds 4 GiB - 1 bytes;
// `out_header` and `layout` are then unspecified.
Outcome derive_output_header(const std::uint8_t* header, const InputLayout& input, Factors factors,
                             OutputForm form, std::uint64_t encoded_bytes,
                             std::uint8_t (&out_header)[kMaxHeaderBytes], OutputLayout& layout);

}  // namespace bmpresizer

#endif
