// Facts of the BMP format that the core relies on: the sizes of the
// headers, where their fields lie, and the kinds of pixel data.
#ifndef BMPRESIZER_RESIZE_BMP_FORMAT_H
#define BMPRESIZER_RESIZE_BMP_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace bmpresizer {

constexpr std::size_t kFileHeaderBytes = 14;                 // BITMAPFILEHEADER
constexpr std::size_t kHeaderBytes = kFileHeaderBytes + 40;  // and BITMAPINFOHEADER
// The largest information header, BITMAPV5HEADER, after the file header.
constexpr std::size_t kMaxHeaderBytes = kFileHeaderBytes + 124;

// The classic kind's information header (biSize); the others are in
// kHeaderKinds below.
constexpr std::uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER

// Field offsets from the start of the file.
constexpr std::size_t kBfType = 0;
constexpr std::size_t kBfSize = 2;
constexpr std::size_t kBfOffBits = 10;
constexpr std::size_t kBiSize = 14;
constexpr std::size_t kBiWidth = 18;
constexpr std::size_t kBiHeight = 22;
constexpr std::size_t kBiBitCount = 28;
constexpr std::size_t kBiCompression = 30;

// biCompression values.
constexpr std::uint32_t kBiRgb = 0;             // uncompressed
constexpr std::uint32_t kBiRle8 = 1;            // 8-bit pixels, run-length encoded
constexpr std::uint32_t kBiRle4 = 2;            // 4-bit pixels, run-length encoded
constexpr std::uint32_t kOs2Rle24 = 4;          // 24-bit pixels, run-length encoded (OS/2 2.x)
constexpr std::uint32_t kBiBitfields = 3;       // uncompressed, with colour masks
constexpr std::uint32_t kBiAlphaBitfields = 6;  // uncompressed, with an alpha mask too

// bV5CSType values that say where a profile is: a file name, or the
// profile itself.
constexpr std::uint32_t kProfileLinked = 0x4C494E4B;    // 'LINK'
constexpr std::uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'

// A 24-bit pixel: blue, green, red.
constexpr std::size_t kBytesPerPixel = 3;

// What each kind of information header holds, and where (offsets from the
// file's start, 0 for a field the kind lacks), from the format's own
// descriptions: OS/2 1.x's BITMAPCOREHEADER, OS/2 2.x's BITMAPINFOHEADER2
// (and its 16-byte short form, cut after the bit count), Windows'
// BITMAPINFOHEADER, the V2 and V3 headers that add the colour masks,
// BITMAPV4HEADER and BITMAPV5HEADER.
struct HeaderKind {
  std::uint32_t size;            // biSize
  std::uint8_t dimension_bytes;  // 2: unsigned 16-bit width and height (OS/2 1.x); 4: signed 32-bit
  std::uint8_t width_at, height_at, planes_at, bit_count_at;
  // biCompression; without it (OS/2's 12 and 16 bytes) the pixels are
  // uncompressed.
  std::uint8_t compression_at;
  std::uint8_t size_image_at;  // biSizeImage, rewritten in the output
  // biClrUsed; without it the colour table ends where the pixels start.
  std::uint8_t colours_used_at;
  std::uint8_t colour_bytes;  // per table entry: RGBTRIPLE (3) or RGBQUAD (4)
  // Where colour masks lie with BI_BITFIELDS: in the header's own fields
  // (V2 and later), or right after it (BITMAPINFOHEADER); OS/2 2.x has no
  // masks and uses compressions 3 and 4 for Huffman 1D and RLE24.
  bool masks_in_header;
  bool masks_after_header;
  // bV5CSType, bV5ProfileData (from the V5 header's start), bV5ProfileSize.
  std::uint8_t profile_type_at, profile_data_at, profile_size_at;
  // Compression 4 is OS/2's RLE24 (elsewhere it is JPEG).
  bool rle24;
};

constexpr HeaderKind kHeaderKinds[] = {
    // size dim  w   h  planes bits comp image used entry in-hdr after  profile    rle24
    {12, 2, 18, 20, 22, 24, 0, 0, 0, 3, false, false, 0, 0, 0, false},
    {16, 4, 18, 22, 26, 28, 0, 0, 0, 4, false, false, 0, 0, 0, false},
    {40, 4, 18, 22, 26, 28, 30, 34, 46, 4, false, true, 0, 0, 0, false},
    {52, 4, 18, 22, 26, 28, 30, 34, 46, 4, true, false, 0, 0, 0, false},
    {56, 4, 18, 22, 26, 28, 30, 34, 46, 4, true, false, 0, 0, 0, false},
    {64, 4, 18, 22, 26, 28, 30, 34, 46, 4, false, false, 0, 0, 0, true},
    {108, 4, 18, 22, 26, 28, 30, 34, 46, 4, true, false, 0, 0, 0, false},
    {124, 4, 18, 22, 26, 28, 30, 34, 46, 4, true, false, 70, 126, 130, false},
};

// The kind of a header of `size` bytes, or null for a size no kind has.
constexpr const HeaderKind* header_kind(std::uint32_t size) {
  for (const HeaderKind& kind : kHeaderKinds) {
    if (kind.size == size) {
      return &kind;
    }
  }
  return nullptr;
}

}  // namespace bmpresizer

#endif
