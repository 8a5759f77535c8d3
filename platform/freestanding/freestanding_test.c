/* The stand-ins' portable parts checked against the C library on the build
 * machine, where they can run: the memory and string functions (renamed
 * freestanding_*), the formatting, and on ARM (under qemu-user) the
 * compiler's helpers, which Windows on ARM calls as Linux does apart from
 * the names. The DLLs' start-up, heap, console and thread-local storage need
 * Windows and are checked from outside (tests/windows/check_dll.py).
 *
 *   cc -ffreestanding -O2 freestanding_test.c -o freestanding_test
 *
 * Prints each failure and "N passed, N failed"; exits 1 if any failed. */
#include <float.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define memcpy freestanding_memcpy
#define memmove freestanding_memmove
#define memset freestanding_memset
#define memcmp freestanding_memcmp
#define memchr freestanding_memchr
#define strlen freestanding_strlen
#define strchr freestanding_strchr
#define strcmp freestanding_strcmp
#define wcslen freestanding_wcslen
#define wcsncmp freestanding_wcsncmp
#define wcsrchr freestanding_wcsrchr
#include "memory.c"
#undef memcpy
#undef memmove
#undef memset
#undef memcmp
#undef memchr
#undef strlen
#undef strchr
#undef strcmp
#undef wcslen
#undef wcsncmp
#undef wcsrchr

#include "format.c"

#if defined(__arm__) || defined(__aarch64__)
#include "compiler_helpers.c"
#endif

static int passed, failed;

static void check(int ok, const char* what, long long detail) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    printf("FAILED: %s (%lld)\n", what, detail);
  }
}

static uint32_t next_random(void) {
  static uint64_t state = 0x9E3779B97F4A7C15u;
  state = state * 6364136223846793005u + 1442695040888963407u;
  return (uint32_t)(state >> 33);
}

static int sign(int n) { return (n > 0) - (n < 0); }

static void check_memory(void) {
  unsigned char source[512], have[512], want[512];
  for (int round = 0; round < 3000; ++round) {
    for (size_t i = 0; i < sizeof source; ++i) {
      source[i] = (unsigned char)next_random();
    }
    const size_t n = next_random() % 200, from = next_random() % 64, to = next_random() % 64;
    memcpy(have, source, sizeof have);
    memcpy(want, source, sizeof want);
    freestanding_memmove(have + to, have + from, n); /* overlapping either way */
    memmove(want + to, want + from, n);
    check(memcmp(have, want, sizeof have) == 0, "memmove", (long long)n);
    freestanding_memcpy(have + 300, source + from, n);
    check(memcmp(have + 300, source + from, n) == 0, "memcpy", (long long)n);
    const int value = (int)next_random() - (1 << 30);
    memcpy(have, source, sizeof have);
    memcpy(want, source, sizeof want);
    freestanding_memset(have + to, value, n);
    memset(want + to, value, n);
    check(memcmp(have, want, sizeof have) == 0, "memset", (long long)n);
    memcpy(have, source, sizeof have);
    have[n] ^= 0x80;
    check(sign(freestanding_memcmp(have, source, n + 1)) == sign(memcmp(have, source, n + 1)),
          "memcmp", (long long)n);
    check(freestanding_memchr(source, source[n], n + 1) == memchr(source, source[n], n + 1) &&
              freestanding_memchr(source, 0x100 + source[n], n) ==
                  memchr(source, 0x100 + source[n], n),
          "memchr", (long long)n);
  }
  const char* words[] = {"", "a", "ab", "abc", "abd", "b", "\xC3\xA9", "abcdefghijkl"};
  for (size_t i = 0; i < sizeof words / sizeof words[0]; ++i) {
    check(freestanding_strlen(words[i]) == strlen(words[i]), "strlen", (long long)i);
    for (int c = -1; c < 256; c += 1) {
      check(freestanding_strchr(words[i], c) == strchr(words[i], c), "strchr", c);
    }
    for (size_t j = 0; j < sizeof words / sizeof words[0]; ++j) {
      check(sign(freestanding_strcmp(words[i], words[j])) == sign(strcmp(words[i], words[j])),
            "strcmp", (long long)(i * 100 + j));
    }
  }
  const wchar_t* wide[] = {L"", L"\\", L"a\\b", L"C:\\x\\y.bmp", L"\\\\?\\UNC"};
  for (size_t i = 0; i < sizeof wide / sizeof wide[0]; ++i) {
    check(freestanding_wcslen(wide[i]) == wcslen(wide[i]), "wcslen", (long long)i);
    check(freestanding_wcsrchr(wide[i], L'\\') == wcsrchr(wide[i], L'\\') &&
              freestanding_wcsrchr(wide[i], L'\0') == wcsrchr(wide[i], L'\0'),
          "wcsrchr", (long long)i);
    for (size_t j = 0; j < sizeof wide / sizeof wide[0]; ++j) {
      for (size_t n = 0; n < 6; ++n) {
        check(sign(freestanding_wcsncmp(wide[i], wide[j], n)) == sign(wcsncmp(wide[i], wide[j], n)),
              "wcsncmp", (long long)(i * 100 + j * 10 + n));
      }
    }
  }
}

/* One format and its arguments through both: the same text and length, and
 * the stand-in's text cut at each buffer size as C99 says. */
static void compare(const char* format, ...) {
  char want[2048], have[2048];
  va_list args;
  va_start(args, format);
  const int want_length = vsnprintf(want, sizeof want, format, args);
  va_end(args);
  va_start(args, format);
  const int have_length = __mingw_vsnprintf(have, sizeof have, format, args);
  va_end(args);
  const int same = want_length == have_length && strcmp(want, have) == 0;
  check(same, format, have_length);
  if (!same) {
    printf("  want %d \"%s\"\n  have %d \"%s\"\n", want_length, want, have_length, have);
  }
  for (size_t size = 0; size < 8; ++size) {
    char cut[8] = "#######";
    va_start(args, format);
    const int length = __mingw_vsnprintf(cut, size, format, args);
    va_end(args);
    const size_t kept = size == 0 ? 0 : (size_t)want_length < size ? (size_t)want_length : size - 1;
    check(length == want_length && memcmp(cut, want, kept) == 0 &&
              (size == 0 ? cut[0] == '#' : cut[kept] == '\0'),
          "a cut text", (long long)size);
  }
}

static int wide_format(wchar_t* buffer, size_t size, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int length = __mingw_vsnwprintf(buffer, size, format, args);
  va_end(args);
  return length;
}

static void check_formats(void) {
  /* The engine's own: numbers, sizes, escapes. */
  compare("%llu", 18446744073709551615ull);
  compare("%lld|%lld", -9223372036854775807ll - 1, 0ll);
  compare("%.0f %s|%.1f %s", 1023.0, "bytes", 1.25, "KiB");
  compare("'$'\\%03o''", 7);
  compare("%lu-%x-%llx", 4294967295ul, 0xdeadbeefu, 0x123456789abcdefull);
  /* Flags, widths and precisions. */
  compare("[%5d|%-5d|%05d|%+d|% d|%.3d|%.0d|%8.3d|%-+6d]", 42, 42, -42, 42, 42, 7, 0, -5, 3);
  compare("[%#o|%#x|%#X|%#.0o|%o]", 8u, 255u, 255u, 0u, 0u);
  compare("[%*d|%-*d|%.*d|%*.*s]", 6, 1, -6, 2, 4, 3, 5, 2, "abcdef");
  compare("[%hhd|%hhu|%hd|%hu|%zu|%td|%jd]", 300, 300, 70000, 70000, (size_t)12345, (ptrdiff_t)-3,
          (intmax_t)-99);
  compare("[%s|%10s|%-10s|%.2s|%c|%3c|%-3c|%%]", "text", "right", "left", "cut", 'x', 'y', 'z');
  /* Exact decimals: halves, the smallest and largest doubles, long
   * fractions, signs. */
  const double values[] = {0.0,
                           -0.0,
                           0.5,
                           1.5,
                           2.5,
                           0.125,
                           0.375,
                           1e-5,
                           0.1,
                           2.675,
                           1e15 + 0.5,
                           123456789.987654321,
                           9007199254740993.0,
                           1e22,
                           1e300,
                           DBL_MAX,
                           DBL_MIN,
                           5e-324,
                           -1234.5678,
                           1.0 / 3};
  const char* formats[] = {"%f",       "%.0f",  "%.1f",  "%.2f",    "%.17f", "%.40f", "%12.3f",
                           "%-12.3f|", "%+.2f", "% .3f", "%012.4f", "%#.0f", "%F"};
  for (size_t i = 0; i < sizeof values / sizeof values[0]; ++i) {
    for (size_t j = 0; j < sizeof formats / sizeof formats[0]; ++j) {
      compare(formats[j], values[i]);
    }
  }
  compare("%.100f", 5e-324);
  for (int round = 0; round < 20000; ++round) {
    uint64_t bits = (uint64_t)next_random() << 32 | next_random();
    double value;
    memcpy(&value, &bits, sizeof value);
    if (value != value || value - value != 0) {
      continue; /* NaN or infinity */
    }
    compare(round % 2 ? "%.1f" : "%.0f", value / (double)(1ull << (round % 40)));
  }
  compare("%f %F %f", 1.0 / 0.0, -1.0 / 0.0, 0.0 / 0.0 * 0.0);

  /* Wide text: swprintf's format of the temporary names, and a cut. */
  wchar_t wide[64];
  const int length = wide_format(wide, 64, L".bmpresize-%lu-%x-%llx", 4242ul, 17u, 0x1234ull);
  check(length == 23 && wcscmp(wide, L".bmpresize-4242-11-1234") == 0, "swprintf", length);
  const int cut = wide_format(wide, 5, L"%ls|%s", L"wide", "narrow");
  check(cut == 11 && wcscmp(wide, L"wide") == 0, "swprintf cut", cut);
}

#if defined(__arm__)
/* The 64-bit helpers give the remainder in r2:r3, where C cannot see it. */
static void divide64(const char* helper, uint64_t divisor, uint64_t dividend, uint64_t* quotient,
                     uint64_t* remainder) {
  register uint32_t r0 __asm__("r0") = (uint32_t)divisor;
  register uint32_t r1 __asm__("r1") = (uint32_t)(divisor >> 32);
  register uint32_t r2 __asm__("r2") = (uint32_t)dividend;
  register uint32_t r3 __asm__("r3") = (uint32_t)(dividend >> 32);
  if (helper[0] == 'u') {
    __asm__ volatile("bl __rt_udiv64"
                     : "+r"(r0), "+r"(r1), "+r"(r2), "+r"(r3)
                     :
                     : "r12", "lr", "cc", "memory");
  } else {
    __asm__ volatile("bl __rt_sdiv64"
                     : "+r"(r0), "+r"(r1), "+r"(r2), "+r"(r3)
                     :
                     : "r12", "lr", "cc", "memory");
  }
  *quotient = (uint64_t)r1 << 32 | r0;
  *remainder = (uint64_t)r3 << 32 | r2;
}
#endif

static void check_helpers(void) {
#if defined(__arm__)
  for (int round = 0; round < 20000; ++round) {
    const uint32_t a = next_random() >> (next_random() % 32);
    const uint32_t b = (next_random() >> (next_random() % 32)) | 1u;
    const uint64_t u = __rt_udiv(b, a);
    check((uint32_t)u == a / b && (uint32_t)(u >> 32) == a % b, "__rt_udiv", a);
    const int32_t sa = (int32_t)(a >> 1) * (round % 3 == 0 ? -1 : 1);
    const int32_t sb = (int32_t)(b >> 1 | 1u) * (round % 5 == 0 ? -1 : 1);
    const uint64_t s = __rt_sdiv(sb, sa);
    check((int32_t)(uint32_t)s == sa / sb && (int32_t)(uint32_t)(s >> 32) == sa % sb, "__rt_sdiv",
          sa);
    const uint64_t x = ((uint64_t)next_random() << 32 | next_random()) >> (next_random() % 64);
    const uint64_t y =
        (((uint64_t)next_random() << 32 | next_random()) >> (next_random() % 64)) | 1u;
    uint64_t q, r;
    divide64("u", y, x, &q, &r);
    check(q == x / y && r == x % y, "__rt_udiv64", (long long)x);
    const int64_t sx = (int64_t)(x >> 1) * (round % 3 == 0 ? -1 : 1);
    const int64_t sy = (int64_t)(y >> 1 | 1u) * (round % 5 == 0 ? -1 : 1);
    divide64("s", (uint64_t)sy, (uint64_t)sx, &q, &r);
    check((int64_t)q == sx / sy && (int64_t)r == sx % sy, "__rt_sdiv64", sx);
    check(__u64tod(x) == (double)x, "__u64tod", (long long)x);
  }
  /* __chkstk: r4 in words, out in bytes; r0-r3 and r5-r11 kept. */
  for (uint32_t pages = 0; pages < 40; pages += 3) {
    register uint32_t r0 __asm__("r0") = 0xA0;
    register uint32_t r3 __asm__("r3") = 0xA3;
    register uint32_t r4 __asm__("r4") = pages * 1024 + 5;
    register uint32_t r5 __asm__("r5") = 0xA5;
    register uint32_t r6 __asm__("r6") = 0xA6;
    __asm__ volatile("bl __chkstk"
                     : "+r"(r0), "+r"(r3), "+r"(r4), "+r"(r5), "+r"(r6)
                     :
                     : "r12", "lr", "cc", "memory");
    check(r0 == 0xA0 && r3 == 0xA3 && r4 == (pages * 1024 + 5) * 4 && r5 == 0xA5 && r6 == 0xA6,
          "__chkstk", pages);
  }
#elif defined(__aarch64__)
  /* __chkstk: x15 in units of 16 bytes, kept, as are x0-x14. */
  for (uint64_t pages = 0; pages < 40; pages += 3) {
    register uint64_t x0 __asm__("x0") = 0xA0;
    register uint64_t x9 __asm__("x9") = 0xA9;
    register uint64_t x14 __asm__("x14") = 0xAE;
    register uint64_t x15 __asm__("x15") = pages * 256 + 3;
    __asm__ volatile("bl __chkstk"
                     : "+r"(x0), "+r"(x9), "+r"(x14), "+r"(x15)
                     :
                     : "x16", "x17", "x30", "cc", "memory");
    check(x0 == 0xA0 && x9 == 0xA9 && x14 == 0xAE && x15 == pages * 256 + 3, "__chkstk",
          (long long)pages);
  }
#endif
}

int main(void) {
  check_memory();
  check_formats();
  check_helpers();
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
