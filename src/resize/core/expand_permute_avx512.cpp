// The permute kernels with AVX-512 VBMI (x86 processors since Ice Lake and
// Zen 4): each 64 enlarged bytes come from one load, one byte permute across
// the whole register and one store, where the shuffles take four to eight
// 16-byte stores for as many.
#include <cpuid.h>
#include <immintrin.h>

#include <atomic>

#include "expand_shuffle.h"
#include "libc_cpu_features.h"

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

// Stretching stored bytes of pixels smaller than a byte: stored byte i
// becomes output bytes f i to f i + f - 1, output byte f i + k the bits of
// stored byte i that matrix[k] picks (a bit-matrix multiply, GFNI). The
// stored bytes are first spread under their output bytes as one-byte pixels
// are (kTables[0]); then in chunk c of such a step the bytes of each k,
// chosen by `lanes[c][k]`, are multiplied by matrix[k].
struct BitTable {
  std::uint64_t lanes[kMaxChunks][kMaxFactor] = {};
  std::uint64_t matrix[kMaxFactor] = {};
};

constexpr BitTable make_bit_table(std::uint32_t bits, std::uint32_t factor) {
  BitTable table;
  const std::uint32_t chunks = kTables[0][factor - kMinFactor].chunks;
  for (std::uint32_t c = 0; c < chunks; ++c) {
    for (std::uint32_t j = 0; j < kChunkBytes; ++j) {
      table.lanes[c][(kChunkBytes * c + j) % factor] |= std::uint64_t{1} << j;
    }
  }
  for (std::uint32_t k = 0; k < factor; ++k) {
    // Bit i of a byte (0 the least significant) is row 7 - i of its matrix,
    // a byte naming the stored bits whose sum it is: here one, the bit of
    // the stored pixel it repeats (the first pixel in the high bits).
    for (std::uint32_t i = 0; i < 8; ++i) {
      const std::uint32_t at = 8 * k + 7 - i;  // from the group's first bit
      const std::uint32_t pixel = at / bits / factor;
      const std::uint32_t stored_bit = 7 - (pixel * bits + at % bits);
      table.matrix[k] |= (std::uint64_t{1} << stored_bit) << (8 * (7 - i));
    }
  }
  return table;
}

constexpr BitTable kBitTables[3][kMaxFactor - kMinFactor + 1] = {
    {make_bit_table(1, 2), make_bit_table(1, 3), make_bit_table(1, 4)},
    {make_bit_table(2, 2), make_bit_table(2, 3), make_bit_table(2, 4)},
    {make_bit_table(4, 2), make_bit_table(4, 3), make_bit_table(4, 4)},
};

constexpr int kNotAsked = 0;
constexpr int kAsked = 1;
constexpr int kPermutes = 2;     // AVX-512 F, BW and VBMI
constexpr int kBitMatrices = 4;  // and GFNI
std::atomic<int> features_known{kNotAsked};

#ifdef CPU_FEATURE_ACTIVE
// What the processor and the operating system offer, as feature bits: the
// C library asked both when the program started ("active" includes the
// operating system saving the 512-bit registers). Each CPUID is an exit to
// the host in a virtual machine, about 9 microseconds here: asking again
// cost a small image a fiftieth of its time.
int ask_processor() {
  if (!CPU_FEATURE_ACTIVE(AVX512F) || !CPU_FEATURE_ACTIVE(AVX512BW) ||
      !CPU_FEATURE_ACTIVE(AVX512_VBMI)) {
    return kAsked;
  }
  return kAsked | kPermutes | (CPU_FEATURE_ACTIVE(GFNI) ? kBitMatrices : 0);
}
#else
// What the processor and the operating system offer: AVX-512 F, BW and VBMI
// and GFNI, and the operating system saving the 512-bit registers (XCR0's
// SSE, AVX, opmask and both upper-register bits), as feature bits.
int ask_processor() {
  unsigned int a = 0;
  unsigned int b = 0;
  unsigned int c = 0;
  unsigned int d = 0;
  constexpr unsigned int kOsSaves = 1U << 27;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & kOsSaves) == 0) {
    return kAsked;
  }
  constexpr unsigned int kAvx512f = 1U << 16;
  constexpr unsigned int kAvx512bw = 1U << 30;
  constexpr unsigned int kAvx512vbmi = 1U << 1;
  constexpr unsigned int kGfni = 1U << 8;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0 || (b & kAvx512f) == 0 || (b & kAvx512bw) == 0 ||
      (c & kAvx512vbmi) == 0) {
    return kAsked;
  }
  const bool gfni = (c & kGfni) != 0;
  unsigned int low = 0;
  unsigned int high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  constexpr unsigned int kStates = 0xE6;
  if ((low & kStates) != kStates) {
    return kAsked;
  }
  return kAsked | kPermutes | (gfni ? kBitMatrices : 0);
}
#endif

int features() {
  // Asked once, as have_shuffles is, and for the same reasons.
  int known = features_known.load(std::memory_order_relaxed);
  if (known == kNotAsked) {
    known = ask_processor();
    features_known.store(known, std::memory_order_relaxed);
  }
  return known;
}

}  // namespace

bool have_wide_permutes() { return (features() & kPermutes) != 0; }

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

__attribute__((target("avx512f,avx512bw,avx512vbmi,gfni"))) std::uint32_t permute_bits(
    std::uint8_t* dest, const std::uint8_t* source, std::uint32_t stored, std::uint32_t bits,
    std::uint32_t factor) {
  const std::uint32_t which = bits == 1 ? 0 : bits == 2 ? 1 : bits == 4 ? 2 : 3;
  if (which > 2 || factor < kMinFactor || factor > kMaxFactor || (features() & kBitMatrices) == 0) {
    return 0;
  }
  const PermuteTable& spread = kTables[0][factor - kMinFactor];
  const BitTable& table = kBitTables[which][factor - kMinFactor];
  std::uint32_t at = 0;
  std::uint8_t* out = dest;
  // The order of permute_pixels, and the same overlap rule, one stored byte
  // being to its `factor` output bytes what a one-byte pixel is.
  for (; at + spread.reach <= stored; at += spread.pixels) {
    for (std::uint32_t c = 0; c < spread.chunks; ++c) {
      const __m512i in = _mm512_loadu_si512(source + at + spread.from[c]);
      const __m512i spread_bytes =
          _mm512_maskz_permutexvar_epi8(~__mmask64{0}, _mm512_load_si512(spread.index[c]), in);
      __m512i bytes = _mm512_setzero_si512();
      for (std::uint32_t k = 0; k < factor; ++k) {
        bytes = _mm512_mask_gf2p8affine_epi64_epi8(
            bytes, table.lanes[c][k], spread_bytes,
            _mm512_set1_epi64(static_cast<long long>(table.matrix[k])), 0);
      }
      _mm512_storeu_si512(out, bytes);
      out += kChunkBytes;
    }
  }
  return at;
}

}  // namespace bmpresizer
