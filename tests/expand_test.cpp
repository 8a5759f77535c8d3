// The pixel kernels on their own: pixels of 1 to 4 bytes, every factor and
// every row length up to a few vector steps past the shortest one a kernel
// takes, with each kind of kernel this machine runs (the portable paths, the
// shuffles of SSSE3 or NEON, the permutes of AVX-512 VBMI), into a separate
// buffer and in place at the tightest overlap the kernels allow. Expected
// rows are built here, pixel by pixel.
#include "expand.h"

#include <gtest/gtest.h>

#include "expand_shuffle.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
#include <cpuid.h>
#endif
#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif
#include <cstdlib>

namespace {

using Bytes = std::vector<std::uint8_t>;

// `pixels` pixels of `bytes` bytes of a fixed pseudo-random sequence (a
// linear congruential generator), different for every `seed`.
Bytes random_pixels(std::uint32_t pixels, std::uint32_t bytes, std::uint32_t seed) {
  Bytes out(std::size_t{bytes} * pixels);
  std::uint32_t state = seed * 2654435761U + 1U;
  for (std::uint8_t& byte : out) {
    state = state * 1664525U + 1013904223U;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return out;
}

// Each pixel of `bytes` bytes written `factor` times in a row.
Bytes enlarged(const Bytes& pixels, std::uint32_t bytes, std::uint32_t factor) {
  Bytes out;
  for (std::size_t p = 0; p + bytes <= pixels.size(); p += bytes) {
    for (std::uint32_t k = 0; k < factor; ++k) {
      out.insert(out.end(), pixels.begin() + static_cast<std::ptrdiff_t>(p),
                 pixels.begin() + static_cast<std::ptrdiff_t>(p + bytes));
    }
  }
  return out;
}

// The first byte where `have` differs from `want`, or "".
std::string first_difference(const Bytes& have, const Bytes& want) {
  if (have.size() != want.size()) {
    return "length " + std::to_string(have.size()) + ", want " + std::to_string(want.size());
  }
  for (std::size_t i = 0; i < have.size(); ++i) {
    if (have[i] != want[i]) {
      return "byte " + std::to_string(i) + ": got " + std::to_string(have[i]) + ", want " +
             std::to_string(want[i]);
    }
  }
  return "";
}

// Every buffer is allocated to its exact size (one byte at least), its
// last byte right before a page that may not be touched: a kernel that
// reads or writes past an end faults in the ordinary build, not only under
// AddressSanitizer. (Where pages cannot be guarded, plain memory.)
class Guarded {
 public:
  explicit Guarded(std::size_t size) : size_(size == 0 ? 1 : size) {
#ifdef _WIN32
    data_ = new std::uint8_t[size_];
#else
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    mapped_ = (size_ + page - 1) / page * page + page;
    void* base = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
      std::abort();
    }
    auto* bytes = static_cast<std::uint8_t*>(base);
    mprotect(bytes + mapped_ - page, page, PROT_NONE);
    data_ = bytes + mapped_ - page - size_;
#endif
  }
  ~Guarded() {
#ifdef _WIN32
    delete[] data_;
#else
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    munmap(data_ + size_ + page - mapped_, mapped_);
#endif
  }
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;
  std::uint8_t* get() const { return data_; }

 private:
  std::size_t size_;
  std::size_t mapped_ = 0;
  std::uint8_t* data_ = nullptr;
};

constexpr std::uint32_t kFactors[] = {1, 2, 3, 4, 5, 6, 7, 9, 16};

std::unique_ptr<Guarded> exact_copy(const Bytes& bytes) {
  auto copy = std::make_unique<Guarded>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), copy->get());
  return copy;
}
// Two steps of the longest permute (three-byte pixels enlarged 3 times) take
// 142 pixels.
constexpr std::uint32_t kMaxPixels = 160;
constexpr std::uint32_t kPixelBytes[] = {1, 2, 3, 4};
constexpr bmpresizer::Kernels kKernels[] = {
    bmpresizer::Kernels::portable, bmpresizer::Kernels::shuffles, bmpresizer::Kernels::permutes};

// Runs the test body once with each kind of kernel, the best one last (and
// so left in place for the tests that follow).
class ExpandRow : public testing::TestWithParam<bmpresizer::Kernels> {
 protected:
  void SetUp() override { bmpresizer::limit_kernels(GetParam()); }
  void TearDown() override { bmpresizer::limit_kernels(bmpresizer::Kernels::permutes); }
};
std::string kernel_name(const testing::TestParamInfo<bmpresizer::Kernels>& kind) {
  const char* const names[] = {"Portable", "Shuffles", "Permutes"};
  return names[static_cast<int>(kind.param)];
}
INSTANTIATE_TEST_SUITE_P(EachKernel, ExpandRow, testing::ValuesIn(kKernels), kernel_name);

TEST_P(ExpandRow, IntoASeparateBuffer) {
  for (std::uint32_t bytes : kPixelBytes) {
    for (std::uint32_t factor : kFactors) {
      for (std::uint32_t pixels = 0; pixels <= kMaxPixels; ++pixels) {
        const Bytes source = random_pixels(pixels, bytes, pixels * 100 + factor);
        const Bytes want = enlarged(source, bytes, factor);
        const std::unique_ptr<Guarded> stored = exact_copy(source);
        const Guarded dest(want.size());
        bmpresizer::expand_pixels(dest.get(), stored->get(), pixels, bytes, factor);
        EXPECT_EQ(first_difference(Bytes(dest.get(), dest.get() + want.size()), want), "")
            << pixels << " pixels of " << bytes << " bytes, factor " << factor;
      }
    }
  }
}

// The stored pixels inside the room for their enlargement, `gap` bytes after
// its start, as the resizer lays out a row it reads into its buffer; the
// allocation ends where the room or the stored pixels end, whichever is later.
void expect_in_place(std::uint32_t pixels, std::uint32_t bytes, std::uint32_t factor,
                     std::size_t gap) {
  const Bytes source = random_pixels(pixels, bytes, pixels * 100 + factor + 7);
  const Bytes want = enlarged(source, bytes, factor);
  const std::size_t size = std::max({want.size(), gap + source.size(), std::size_t{1}});
  const Guarded row(size);
  std::copy(source.begin(), source.end(), row.get() + gap);
  bmpresizer::expand_pixels(row.get(), row.get() + gap, pixels, bytes, factor);
  EXPECT_EQ(first_difference(Bytes(row.get(), row.get() + want.size()), want), "")
      << pixels << " pixels of " << bytes << " bytes, factor " << factor << ", stored " << gap
      << " bytes in";
}

TEST_P(ExpandRow, InPlaceAtTheEndOfTheRoom) {
  for (std::uint32_t bytes : kPixelBytes) {
    for (std::uint32_t factor : kFactors) {
      for (std::uint32_t pixels = 0; pixels <= kMaxPixels; ++pixels) {
        expect_in_place(pixels, bytes, factor, std::size_t{bytes} * (factor - 1) * pixels);
      }
    }
  }
}

TEST_P(ExpandRow, InPlaceThreeBytesShortOfTheEnd) {
  // The closest three-byte pixels may start: an enlarged row's padding can be
  // three bytes shorter than the stored row's.
  for (std::uint32_t factor : kFactors) {
    for (std::uint32_t pixels = 1; pixels <= kMaxPixels; ++pixels) {
      const std::size_t end_gap = std::size_t{3} * (factor - 1) * pixels;
      expect_in_place(pixels, 3, factor, end_gap >= 3 ? end_gap - 3 : 0);
    }
  }
}

// Pixels of `bits` bits, the first in the high bits of a byte, each written
// `factor` times in a row, the bits after the last one zero.
Bytes enlarged_bits(const Bytes& stored, std::uint32_t pixels, std::uint32_t bits,
                    std::uint32_t factor) {
  Bytes out((std::size_t{pixels} * factor * bits + 7) / 8);
  std::size_t at = 0;  // bits written
  for (std::uint32_t p = 0; p < pixels; ++p) {
    for (std::uint32_t b = 0; b < bits; ++b) {
      const std::size_t from = std::size_t{p} * bits + b;
      const bool set = (stored[from / 8] >> (7 - from % 8) & 1) != 0;
      for (std::uint32_t k = 0; k < factor; ++k) {
        const std::size_t to = at + std::size_t{k} * bits + b;
        if (set) {
          out[to / 8] = static_cast<std::uint8_t>(out[to / 8] | 0x80U >> to % 8);
        }
      }
    }
    at += std::size_t{factor} * bits;
  }
  return out;
}

// Rows of pixels smaller than a byte, short ones and ones long enough for
// two permute steps, into a separate buffer and in place at the end of the
// room, with and without the lookup table.
TEST_P(ExpandRow, PixelsSmallerThanAByte) {
  std::vector<std::uint32_t> lengths;
  for (std::uint32_t pixels = 0; pixels <= 40; ++pixels) {
    lengths.push_back(pixels);
  }
  for (std::uint32_t pixels : {339U, 340U, 341U, 700U, 1407U, 1408U, 1409U, 1411U}) {
    lengths.push_back(pixels);
  }
  for (std::uint32_t bits : {1U, 2U, 4U}) {
    for (std::uint32_t factor : kFactors) {
      Bytes table(bmpresizer::bit_table_bytes(factor));
      bmpresizer::make_bit_table(table.data(), bits, factor);
      for (std::uint32_t pixels : lengths) {
        const Bytes stored = random_pixels((pixels * bits + 7) / 8, 1, pixels + bits * 7);
        Bytes want = enlarged_bits(stored, pixels, bits, factor);
        for (const std::uint8_t* lookup : {static_cast<const std::uint8_t*>(nullptr),
                                           static_cast<const std::uint8_t*>(table.data())}) {
          const Guarded dest(want.size());
          const std::unique_ptr<Guarded> source = exact_copy(stored);
          bmpresizer::expand_bits(dest.get(), source->get(), pixels, bits, factor, lookup);
          EXPECT_EQ(first_difference(Bytes(dest.get(), dest.get() + want.size()), want), "")
              << pixels << " pixels of " << bits << " bits, factor " << factor
              << (lookup != nullptr ? ", table" : "");
          const std::size_t gap = want.size() - stored.size();
          const Guarded row(want.size());
          std::copy(stored.begin(), stored.end(), row.get() + gap);
          bmpresizer::expand_bits(row.get(), row.get() + gap, pixels, bits, factor, lookup);
          EXPECT_EQ(first_difference(Bytes(row.get(), row.get() + want.size()), want), "")
              << pixels << " pixels of " << bits << " bits, factor " << factor
              << (lookup != nullptr ? ", table" : "") << ", in place";
        }
      }
    }
  }
}

TEST(RepeatForward, FillsWithCopiesOfTheFirstUnit) {
  for (std::size_t unit : {std::size_t{1}, std::size_t{3}, std::size_t{7}}) {
    for (std::size_t size = unit; size <= 100; ++size) {
      const Bytes first = random_pixels(3, 3, static_cast<std::uint32_t>(unit * 1000 + size));
      Bytes want(size);
      for (std::size_t i = 0; i < size; ++i) {
        want[i] = first[i % unit];
      }
      const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
      std::copy(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(unit), buffer.get());
      bmpresizer::repeat_forward(buffer.get(), unit, size);
      EXPECT_EQ(first_difference(Bytes(buffer.get(), buffer.get() + size), want), "")
          << "unit " << unit << ", size " << size;
    }
  }
}

#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
// The kernels chosen follow what the processor says when asked here
// directly (CPUID, and XGETBV for the registers the system saves), whoever
// the library asks: a kernel it wrongly trusts faults; one it wrongly
// distrusts costs half the speed without a test failing.
TEST(Kernels, FollowWhatTheProcessorSays) {
  unsigned int a = 0, b = 0, c = 0, d = 0;
  ASSERT_NE(__get_cpuid(1, &a, &b, &c, &d), 0);
  EXPECT_EQ(bmpresizer::have_shuffles(), (c & bit_SSSE3) != 0);
  bool permutes = false;
  if ((c & bit_OSXSAVE) != 0 && __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0) {
    unsigned int low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    const unsigned int k512BitStates = 0xE6;  // SSE, AVX, opmask, both upper halves
    permutes = (b & bit_AVX512F) != 0 && (b & bit_AVX512BW) != 0 && (c & bit_AVX512VBMI) != 0 &&
               (low & k512BitStates) == k512BitStates;
  }
  EXPECT_EQ(bmpresizer::have_wide_permutes(), permutes);
}
#endif

}  // namespace
