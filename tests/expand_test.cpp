// The pixel kernel on its own: every factor and every row length up to a few
// vector steps past the shortest one a shuffle kernel takes (SSSE3 on x86,
// NEON on aarch64, the scalar paths elsewhere), into a separate buffer and in
// place at the tightest overlap the kernel allows. Expected rows are built
// here, pixel by pixel.
#include "expand.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kGuard = 32;  // bytes checked on each side of a row
constexpr std::uint8_t kGuardByte = 0xA5;

// `pixels` three-byte pixels of a fixed pseudo-random sequence (a linear
// congruential generator), different for every `seed`.
Bytes random_pixels(std::uint32_t pixels, std::uint32_t seed) {
  Bytes out(std::size_t{3} * pixels);
  std::uint32_t state = seed * 2654435761U + 1U;
  for (std::uint8_t& byte : out) {
    state = state * 1664525U + 1013904223U;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return out;
}

// Each pixel written `factor` times in a row.
Bytes enlarged(const Bytes& pixels, std::uint32_t factor) {
  Bytes out;
  for (std::size_t p = 0; p + 3 <= pixels.size(); p += 3) {
    for (std::uint32_t k = 0; k < factor; ++k) {
      out.insert(out.end(), pixels.begin() + static_cast<std::ptrdiff_t>(p),
                 pixels.begin() + static_cast<std::ptrdiff_t>(p + 3));
    }
  }
  return out;
}

// The first byte where `buffer` (a row between two guards) differs from
// `want` between the guards or from kGuardByte in them, or "".
std::string first_difference(const Bytes& buffer, const Bytes& want) {
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    const bool in_row = i >= kGuard && i < kGuard + want.size();
    const std::uint8_t expected = in_row ? want[i - kGuard] : kGuardByte;
    if (buffer[i] != expected) {
      const long long at = static_cast<long long>(i) - static_cast<long long>(kGuard);
      return (in_row ? "row byte " : "outside the row, byte ") + std::to_string(at) + ": got " +
             std::to_string(buffer[i]) + ", want " + std::to_string(expected);
    }
  }
  return "";
}

constexpr std::uint32_t kFactors[] = {1, 2, 3, 4, 5, 6, 7, 9, 16};
constexpr std::uint32_t kMaxPixels = 40;

TEST(ExpandRow, IntoASeparateBuffer) {
  for (std::uint32_t factor : kFactors) {
    for (std::uint32_t pixels = 0; pixels <= kMaxPixels; ++pixels) {
      const Bytes source = random_pixels(pixels, pixels * 100 + factor);
      const Bytes want = enlarged(source, factor);
      // The stored pixels sit inside a larger buffer, as in the resizer (which
      // also keeps the pointer valid for zero pixels).
      Bytes stored(kGuard + source.size() + kGuard, kGuardByte);
      std::copy(source.begin(), source.end(), stored.begin() + kGuard);
      Bytes buffer(kGuard + want.size() + kGuard, kGuardByte);
      bmpresizer::expand_row(buffer.data() + kGuard, stored.data() + kGuard, pixels, factor);
      EXPECT_EQ(first_difference(buffer, want), "") << pixels << " pixels, factor " << factor;
    }
  }
}

// The stored pixels inside the room for their enlargement, `gap` bytes after
// its start, as the resizer lays out a row it reads into its buffer.
void expect_in_place(std::uint32_t pixels, std::uint32_t factor, std::size_t gap) {
  const Bytes source = random_pixels(pixels, pixels * 100 + factor + 7);
  const Bytes want = enlarged(source, factor);
  Bytes buffer(kGuard + want.size() + kGuard, kGuardByte);
  std::uint8_t* row = buffer.data() + kGuard;
  std::copy(source.begin(), source.end(), row + gap);
  bmpresizer::expand_row(row, row + gap, pixels, factor);
  EXPECT_EQ(first_difference(buffer, want), "")
      << pixels << " pixels, factor " << factor << ", stored " << gap << " bytes in";
}

TEST(ExpandRow, InPlaceAtTheEndOfTheRoom) {
  for (std::uint32_t factor : kFactors) {
    for (std::uint32_t pixels = 0; pixels <= kMaxPixels; ++pixels) {
      expect_in_place(pixels, factor, std::size_t{3} * (factor - 1) * pixels);
    }
  }
}

TEST(ExpandRow, InPlaceThreeBytesShortOfTheEnd) {
  // The closest the stored pixels may start: an enlarged row's padding can be
  // three bytes shorter than the stored row's.
  for (std::uint32_t factor : kFactors) {
    for (std::uint32_t pixels = 1; pixels <= kMaxPixels; ++pixels) {
      const std::size_t end_gap = std::size_t{3} * (factor - 1) * pixels;
      expect_in_place(pixels, factor, end_gap >= 3 ? end_gap - 3 : 0);
    }
  }
}

TEST(RepeatForward, FillsWithCopiesOfTheFirstUnit) {
  for (std::size_t unit : {std::size_t{1}, std::size_t{3}, std::size_t{7}}) {
    for (std::size_t size = unit; size <= 100; ++size) {
      const Bytes first = random_pixels(3, static_cast<std::uint32_t>(unit * 1000 + size));
      Bytes want(size);
      for (std::size_t i = 0; i < size; ++i) {
        want[i] = first[i % unit];
      }
      Bytes buffer(kGuard + size + kGuard, kGuardByte);
      std::copy(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(unit),
                buffer.begin() + static_cast<std::ptrdiff_t>(kGuard));
      bmpresizer::repeat_forward(buffer.data() + kGuard, unit, size);
      EXPECT_EQ(first_difference(buffer, want), "") << "unit " << unit << ", size " << size;
    }
  }
}

}  // namespace
