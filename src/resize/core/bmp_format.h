// Facts of the BMP format that the core relies on: the sizes of the two
// headers, where their fields lie, and the size of a 24-bit pixel.
#ifndef BMPRESIZER_RESIZE_BMP_FORMAT_H
#define BMPRESIZER_RESIZE_BMP_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace bmpresizer {

constexpr std::size_t kFileHeaderBytes = 14;  // BITMAPFILEHEADER
constexpr std::size_t kInfoHeaderBytes = 40;  // BITMAPINFOHEADER
constexpr std::size_t kHeaderBytes = kFileHeaderBytes + kInfoHeaderBytes;

// Field offsets from the start of the file.
constexpr std::size_t kBfType = 0;
constexpr std::size_t kBfSize = 2;
constexpr std::size_t kBfOffBits = 10;
constexpr std::size_t kBiSize = 14;
constexpr std::size_t kBiWidth = 18;
constexpr std::size_t kBiHeight = 22;
constexpr std::size_t kBiBitCount = 28;
constexpr std::size_t kBiCompression = 30;
constexpr std::size_t kBiSizeImage = 34;

// A 24-bit pixel: blue, green, red.
constexpr std::size_t kBytesPerPixel = 3;

}  // namespace bmpresizer

#endif
