// Facts of the BMP format that the core relies on: the sizes of the
// headers, where their fields lie, and the kinds of pixel data.
#ifndef BMPRESIZER_RESIZE_BMP_FORMAT_H
#define BMPRESIZER_RESIZE_BMP_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace bmpresizer {

constexpr std::size_t kFileHeaderBytes = 14;  // BITMAPFILEHEADER
constexpr std::size_t kInfoHeaderBytes = 40;  // BITMAPINFOHEADER
constexpr std::size_t kHeaderBytes = kFileHeaderBytes + kInfoHeaderBytes;
// The largest information header, BITMAPV5HEADER, after the file header.
constexpr std::size_t kMaxHeaderBytes = kFileHeaderBytes + 124;

// The sizes an information header may have (biSize).
constexpr std::uint32_t kCoreHeaderSize = 12;      // OS/2 1.x BITMAPCOREHEADER: 16-bit sizes
constexpr std::uint32_t kOs2ShortHeaderSize = 16;  // OS/2 2.x, cut after the bit count
constexpr std::uint32_t kInfoHeaderSize = 40;      // BITMAPINFOHEADER
constexpr std::uint32_t kV2HeaderSize = 52;        // with the red, green and blue masks
constexpr std::uint32_t kV3HeaderSize = 56;        // and the alpha mask
constexpr std::uint32_t kOs2HeaderSize = 64;       // OS/2 2.x BITMAPINFOHEADER2
constexpr std::uint32_t kV4HeaderSize = 108;       // BITMAPV4HEADER
constexpr std::uint32_t kV5HeaderSize = 124;       // BITMAPV5HEADER

// Field offsets from the start of the file.
constexpr std::size_t kBfType = 0;
constexpr std::size_t kBfSize = 2;
constexpr std::size_t kBfOffBits = 10;
constexpr std::size_t kBiSize = 14;
constexpr std::size_t kBiWidth = 18;
constexpr std::size_t kBiHeight = 22;
constexpr std::size_t kBiPlanes = 26;
constexpr std::size_t kBiBitCount = 28;
constexpr std::size_t kBiCompression = 30;
constexpr std::size_t kBiSizeImage = 34;
constexpr std::size_t kBiClrUsed = 46;
// BITMAPCOREHEADER's 16-bit fields.
constexpr std::size_t kBcWidth = 18;
constexpr std::size_t kBcHeight = 20;
constexpr std::size_t kBcPlanes = 22;
constexpr std::size_t kBcBitCount = 24;
// BITMAPV5HEADER's colour space and profile.
constexpr std::size_t kBV5CSType = 70;
constexpr std::size_t kBV5ProfileData = 126;  // from the start of the V5 header
constexpr std::size_t kBV5ProfileSize = 130;

// biCompression values.
constexpr std::uint32_t kBiRgb = 0;             // uncompressed
constexpr std::uint32_t kBiBitfields = 3;       // uncompressed, with colour masks
constexpr std::uint32_t kBiAlphaBitfields = 6;  // uncompressed, with an alpha mask too

// bV5CSType values that say where a profile is: a file name, or the
// profile itself.
constexpr std::uint32_t kProfileLinked = 0x4C494E4B;    // 'LINK'
constexpr std::uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'

// A 24-bit pixel: blue, green, red.
constexpr std::size_t kBytesPerPixel = 3;

}  // namespace bmpresizer

#endif
