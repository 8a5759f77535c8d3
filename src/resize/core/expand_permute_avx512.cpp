// The permute kernels with AVX-512 VBMI (x86 processors since Ice Lake and
// Zen 4): each 64 enlarged bytes come from one load, one byte permute across
// the whole register and one store, where the shuffles take four to eight
// 16-byte stores for as many.
#include <cpuid.h>
#include <immintrin.h>

#include <atomic>

#include "expand_shuffle.h"

namespace bmpresizer {
namespace {

constexpr std::uint32_t kChunkBytes = 64;
// Bytes 3 x factor 3 repeat every 576 bytes: nine chunks, the most of any
// kind the tables hold.
constexpr std::uint32_t kMaxChunks = 9;
constexpr std::uint32_t kMinFactor = 2;
constexpr std::uint32_t kMaxFactor = 4;

// One pixel size and factor: a step writes `chunks` whole chunks, the
// enlargement of `pixels` stored pixels; chunk c loads 64 stored bytes from
// `from[c]` (counted from the step's first stored byte) and permutes them by
// `index[c]`. A step's loads end `reach` bytes after its first stored byte.
struct alignas(kChunkBytes) PermuteTable {
  std::uint8_t index[kMaxChunks][kChunkBytes] = {};
  std::uint32_t from[kMaxChunks] = {};
  std::uint32_t chunks = 0;
  std::uint32_t pixels = 0;
  std::uint32_t reach = 0;
};

constexpr PermuteTable make_table(std::uint32_t bytes, std::uint32_t factor) {
  PermuteTable table;
  const std::uint32_t run = bytes * factor;  // enlarged bytes of one pixel
  std::uint32_t step = kChunkBytes;
  while (step % run != 0) {
    step += kChunkBytes;
  }
  table.chunks = step / kChunkBytes;
  table.pixels = step / run;
  for (std::uint32_t c = 0; c < table.chunks; ++c) {
    const std::uint32_t first = kChunkBytes * c;
    table.from[c] = bytes * (first / run);
    for (std::uint32_t j = 0; j < kChunkBytes; ++j) {
      const std::uint32_t out = first + j;
      // Output byte `out` is byte out % bytes of stored pixel out / run.
      table.index[c][j] =
          static_cast<std::uint8_t>(bytes * (out / run) + out % bytes - table.from[c]);
    }
  }
  table.reach = table.from[table.chunks - 1] + kChunkBytes;
  return table;
}

constexpr PermuteTable kTables[4][kMaxFactor - kMinFactor + 1] = {
    {make_table(1, 2), make_table(1, 3), make_table(1, 4)},
    {make_table(2, 2), make_table(2, 3), make_table(2, 4)},
    {make_table(3, 2), make_table(3, 3), make_table(3, 4)},
    {make_table(4, 2), make_table(4, 3), make_table(4, 4)},
};

// Every index must name a byte of its chunk's load.
constexpr bool indexes_in_range() {
  for (const auto& row : kTables) {
    for (const PermuteTable& table : row) {
      for (std::uint32_t c = 0; c < table.chunks; ++c) {
        for (const std::uint8_t index : table.index[c]) {
          if (index >= kChunkBytes) {
            return false;
          }
        }
      }
    }
  }
  return true;
}
static_assert(indexes_in_range(), "a permute reaches past its 64-byte load");

constexpr int kNotAsked = 0;
constexpr int kHasNot = 1;
constexpr int kHas = 2;
std::atomic<int> permutes_known{kNotAsked};

// What the processor and the operating system offer: AVX-512 F, BW and VBMI,
// and the operating system saving the 512-bit registers (XCR0's SSE, AVX,
// opmask and both upper-register bits).
bool ask_processor() {
  unsigned int a = 0;
  unsigned int b = 0;
  unsigned int c = 0;
  unsigned int d = 0;
  constexpr unsigned int kOsSaves = 1U << 27;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & kOsSaves) == 0) {
    return false;
  }
  constexpr unsigned int kAvx512f = 1U << 16;
  constexpr unsigned int kAvx512bw = 1U << 30;
  constexpr unsigned int kAvx512vbmi = 1U << 1;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0 || (b & kAvx512f) == 0 || (b & kAvx512bw) == 0 ||
      (c & kAvx512vbmi) == 0) {
    return false;
  }
  unsigned int low = 0;
  unsigned int high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  constexpr unsigned int kStates = 0xE6;
  return (low & kStates) == kStates;
}

}  // namespace

bool have_wide_permutes() {
  // Asked once, as have_shuffles is, and for the same reasons.
  int known = permutes_known.load(std::memory_order_relaxed);
  if (known == kNotAsked) {
    known = ask_processor() ? kHas : kHasNot;
    permutes_known.store(known, std::memory_order_relaxed);
  }
  return known == kHas;
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::uint32_t permute_pixels(
    std::uint8_t* dest, const std::uint8_t* source, std::uint32_t pixels, std::uint32_t bytes,
    std::uint32_t factor) {
  if (bytes < 1 || bytes > 4 || factor < kMinFactor || factor > kMaxFactor) {
    return 0;
  }
  const PermuteTable& table = kTables[bytes - 1][factor - kMinFactor];
  const std::size_t stored = std::size_t{bytes} * pixels;
  const std::size_t stored_step = std::size_t{bytes} * table.pixels;
  std::uint32_t done = 0;
  std::size_t at = 0;
  std::uint8_t* out = dest;
  // Each chunk is loaded before it is stored, and a chunk's store ends
  // before the next chunk's load starts wherever a whole step's loads stay
  // inside the row: the overlap rule of expand_pixels holds.
  for (; at + table.reach <= stored; at += stored_step, done += table.pixels) {
    for (std::uint32_t c = 0; c < table.chunks; ++c) {
      const __m512i in = _mm512_loadu_si512(source + at + table.from[c]);
      const __m512i index = _mm512_load_si512(table.index[c]);
      // (The zero-masking form with every lane kept: GCC 12 warns of the
      // plain form's undefined start value.)
      _mm512_storeu_si512(out, _mm512_maskz_permutexvar_epi8(~__mmask64{0}, index, in));
      out += kChunkBytes;
    }
  }
  return done;
}

}  // namespace bmpresizer
