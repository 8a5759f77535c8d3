// Index tables of the byte shuffles: byte k of four pixels enlarged F times
// comes from byte 3 x (pixel / F) + channel of the four stored pixels.
#ifndef BMPRESIZER_RESIZE_EXPAND_SHUFFLE_TABLES_H
#define BMPRESIZER_RESIZE_EXPAND_SHUFFLE_TABLES_H

#include <cstdint>

namespace bmpresizer {

alignas(16) constexpr std::uint8_t kTimes2[32] = {0,  1,  2, 0, 1, 2, 3, 4, 5,  3,  4,
                                                  5,  6,  7, 8, 6, 7, 8, 9, 10, 11, 9,
                                                  10, 11, 0, 0, 0, 0, 0, 0, 0,  0};
alignas(16) constexpr std::uint8_t kTimes3[48] = {
    0, 1, 2, 0, 1,  2,  0, 1,  2,  3, 4,  5,  3, 4, 5, 3, 4, 5, 6, 7, 8, 6, 7, 8,
    6, 7, 8, 9, 10, 11, 9, 10, 11, 9, 10, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

}  // namespace bmpresizer

#endif
