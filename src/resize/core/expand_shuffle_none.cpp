// For processors without a byte shuffle the build knows of: every pixel goes
// through the portable paths of expand_row.
#include "expand_shuffle.h"

namespace bmpresizer {

bool have_shuffles() { return false; }

std::uint32_t shuffle_times2(std::uint8_t*, const std::uint8_t*, std::uint32_t) { return 0; }

std::uint32_t shuffle_times3(std::uint8_t*, const std::uint8_t*, std::uint32_t) { return 0; }

std::uint32_t shuffle_bytes(std::uint8_t*, const std::uint8_t*, std::uint32_t, std::uint32_t) {
  return 0;
}

}  // namespace bmpresizer
