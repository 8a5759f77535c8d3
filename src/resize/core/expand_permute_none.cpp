// For builds without the wide permutes (other processors, and Windows, where
// the compiler cannot keep the stack aligned for 512-bit registers): the
// shuffles and the portable paths do every pixel.
#include "expand_shuffle.h"

namespace bmpresizer {

bool have_wide_permutes() { return false; }

std::uint32_t permute_pixels(std::uint8_t*, const std::uint8_t*, std::uint32_t, std::uint32_t,
                             std::uint32_t) {
  return 0;
}

std::uint32_t permute_bits(std::uint8_t*, const std::uint8_t*, std::uint32_t, std::uint32_t,
                           std::uint32_t) {
  return 0;
}

}  // namespace bmpresizer
