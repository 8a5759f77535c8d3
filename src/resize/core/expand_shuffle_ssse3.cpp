// The shuffle kernels with SSSE3 (x86 and x86-64), used when the processor
// has it: one unaligned load and two or three byte shuffles per four pixels.
#include <cpuid.h>
#include <immintrin.h>

#include <atomic>
#include <cstring>

#include "bmp_format.h"
#include "expand_shuffle.h"
#include "expand_shuffle_tables.h"
#include "libc_cpu_features.h"

namespace bmpresizer {
namespace {

constexpr int kNotAsked = 0;
constexpr int kHasNot = 1;
constexpr int kHas = 2;
std::atomic<int> ssse3_known{kNotAsked};

}  // namespace

__attribute__((target("ssse3"))) std::uint32_t shuffle_times2(std::uint8_t* dest,
                                                              const std::uint8_t* source,
                                                              std::uint32_t pixels) {
  const __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(kTimes2));
  const __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(kTimes2 + 16));
  std::uint32_t i = 0;
  for (; i + kShuffleReach <= pixels; i += kShufflePixels) {
    const __m128i in =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + kBytesPerPixel * i));
    std::uint8_t* out = dest + std::size_t{6} * i;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(in, low));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm_shuffle_epi8(in, high));
  }
  return i;
}

__attribute__((target("ssse3"))) std::uint32_t shuffle_times3(std::uint8_t* dest,
                                                              const std::uint8_t* source,
                                                              std::uint32_t pixels) {
  const __m128i first = _mm_load_si128(reinterpret_cast<const __m128i*>(kTimes3));
  const __m128i second = _mm_load_si128(reinterpret_cast<const __m128i*>(kTimes3 + 16));
  const __m128i third = _mm_load_si128(reinterpret_cast<const __m128i*>(kTimes3 + 32));
  std::uint32_t i = 0;
  for (; i + kShuffleReach <= pixels; i += kShufflePixels) {
    const __m128i in =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + kBytesPerPixel * i));
    std::uint8_t* out = dest + std::size_t{9} * i;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(in, first));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_shuffle_epi8(in, second));
    const auto last = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi8(in, third)));
    std::memcpy(out + 32, &last, sizeof last);
  }
  return i;
}

__attribute__((target("ssse3"))) std::uint32_t shuffle_bytes(std::uint8_t* dest,
                                                             const std::uint8_t* source,
                                                             std::uint32_t pixels,
                                                             std::uint32_t factor) {
  alignas(16) std::uint8_t masks[kByteShufflePixels * kMaxByteShuffleFactor];
  make_byte_masks(masks, factor);
  std::uint32_t i = 0;
  for (; i + kByteShuffleReach <= pixels; i += kByteShufflePixels) {
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
    std::uint8_t* out = dest + std::size_t{factor} * i;
    for (std::size_t k = 0; k < factor; ++k) {
      const __m128i mask =
          _mm_load_si128(reinterpret_cast<const __m128i*>(masks + kByteShufflePixels * k));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kByteShufflePixels * k),
                       _mm_shuffle_epi8(in, mask));
    }
  }
  return i;
}

namespace {

bool processor_has_ssse3() {
#ifdef CPU_FEATURE_ACTIVE
  // The C library asked when the program started: no exit to the host.
  return CPU_FEATURE_ACTIVE(SSSE3);
#else
  unsigned int a = 0;
  unsigned int b = 0;
  unsigned int c = 0;
  unsigned int d = 0;
  return __get_cpuid(1, &a, &b, &c, &d) != 0 && (c & bit_SSSE3) != 0;
#endif
}

}  // namespace

bool have_shuffles() {
  // Asked once (twice in a race, harmlessly), of the C library where it
  // knows, else of the processor: one CPUID leaf, where the compiler's
  // run-time support would ask a dozen when the program starts, each a
  // costly exit to the host in a virtual machine. Kept in an atomic, not a
  // local static, whose guarded initialisation would tie a static library
  // to the C++ run-time.
  int known = ssse3_known.load(std::memory_order_relaxed);
  if (known == kNotAsked) {
    known = processor_has_ssse3() ? kHas : kHasNot;
    ssse3_known.store(known, std::memory_order_relaxed);
  }
  return known == kHas;
}

}  // namespace bmpresizer
