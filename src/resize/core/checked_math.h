// Overflow-checked unsigned 64-bit arithmetic for size computations.
#ifndef BMPRESIZER_RESIZE_CHECKED_MATH_H
#define BMPRESIZER_RESIZE_CHECKED_MATH_H

#include <cstdint>

namespace bmpresizer {

// Sets `result` to a x b and returns true, or returns false if that overflows.
inline bool checked_mul(std::uint64_t a, std::uint64_t b, std::uint64_t& result) {
  return !__builtin_mul_overflow(a, b, &result);
}

// Sets `result` to a + b and returns true, or returns false if that overflows.
inline bool checked_add(std::uint64_t a, std::uint64_t b, std::uint64_t& result) {
  return !__builtin_add_overflow(a, b, &result);
}

}  // namespace bmpresizer

#endif
