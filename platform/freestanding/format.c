/* snprintf and swprintf, which MinGW-w64's headers send to
 * __mingw_vsnprintf and __mingw_vsnwprintf (its own C99 formatting, which
 * C++ code always gets). C99's rules for what is written and returned: at
 * most SIZE - 1 units and a terminating null when SIZE is not 0, and the
 * length the whole text would have.
 *
 * The conversions d i u o x X c s p f F and %%, with the flags - + space # 0,
 * a width and a precision (either may be *), and the lengths hh h l ll j z t
 * and MinGW's I64 and I32; %ls and %lc take wide text (UTF-16 units, copied
 * one for one into narrow text, where only ASCII belongs). %f is exact: the
 * double's binary value rounded to the precision, ties to even, as the C
 * libraries do; precisions above 100 give zeros past the hundredth place.
 * Other conversions (e g a n) are written as they stand. */
#include <limits.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

typedef struct Output {
  void* buffer;
  size_t size;   /* in units */
  size_t length; /* units the whole text takes */
  int wide;
} Output;

static void put(Output* out, unsigned unit) {
  if (out->length + 1 < out->size) {
    if (out->wide) {
      ((wchar_t*)out->buffer)[out->length] = (wchar_t)unit;
    } else {
      ((char*)out->buffer)[out->length] = (char)unit;
    }
  }
  ++out->length;
}

static void put_repeated(Output* out, unsigned unit, size_t count) {
  for (; count > 0; --count) {
    put(out, unit);
  }
}

static unsigned unit_at(const void* text, size_t i, int wide) {
  return wide ? (unsigned)((const wchar_t*)text)[i] : (unsigned char)((const char*)text)[i];
}

/* One conversion's flags, width and precision. */
typedef struct Field {
  int left;      /* - */
  int plus;      /* + */
  int space;     /* ' ' */
  int alternate; /* # */
  int zero;      /* 0 */
  size_t width;
  int precision; /* -1: none */
} Field;

/* Writes PREFIX (a sign or 0x), ZEROS zeros and the COUNT bytes of BODY,
 * padded to the width: with spaces, or zeros after the prefix. */
static void put_field(Output* out, const Field* field, const char* prefix, size_t zeros,
                      const char* body, size_t count) {
  size_t prefix_length = 0;
  while (prefix[prefix_length] != '\0') {
    ++prefix_length;
  }
  const size_t total = prefix_length + zeros + count;
  const size_t pad = field->width > total ? field->width - total : 0;
  if (!field->left && !field->zero) {
    put_repeated(out, ' ', pad);
  }
  for (size_t i = 0; i < prefix_length; ++i) {
    put(out, (unsigned char)prefix[i]);
  }
  if (!field->left && field->zero) {
    put_repeated(out, '0', pad);
  }
  put_repeated(out, '0', zeros);
  for (size_t i = 0; i < count; ++i) {
    put(out, (unsigned char)body[i]);
  }
  if (field->left) {
    put_repeated(out, ' ', pad);
  }
}

static void put_integer(Output* out, Field field, uint64_t magnitude, int negative, unsigned base,
                        int upper) {
  const char* const digit_set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[24];
  size_t count = 0;
  char* const end = digits + sizeof digits;
  for (uint64_t rest = magnitude; rest != 0; rest /= base) {
    end[-1 - (ptrdiff_t)count] = digit_set[rest % base];
    ++count;
  }
  if (field.precision >= 0) {
    field.zero = 0; /* a precision sets the zeros */
  }
  size_t want = field.precision >= 0 ? (size_t)field.precision : 1;
  if (field.alternate && base == 8 && want <= count) {
    want = count + 1; /* octal's # makes the first digit a zero */
  }
  const size_t zeros = want > count ? want - count : 0;
  const char* prefix = negative ? "-" : field.plus ? "+" : field.space ? " " : "";
  if (field.alternate && base == 16 && magnitude != 0) {
    prefix = upper ? "0X" : "0x";
  }
  put_field(out, &field, prefix, zeros, end - count, count);
}

/* A natural number of up to 1536 bits, least significant word first. */
enum { kLimbs = 48, kMostPrecision = 100 };
typedef struct Natural {
  uint32_t limb[kLimbs];
  size_t used;
} Natural;

static void multiply_small(Natural* n, uint32_t factor) {
  uint64_t carry = 0;
  for (size_t i = 0; i < n->used; ++i) {
    const uint64_t product = (uint64_t)n->limb[i] * factor + carry;
    n->limb[i] = (uint32_t)product;
    carry = product >> 32;
  }
  if (carry != 0 && n->used < kLimbs) {
    n->limb[n->used++] = (uint32_t)carry;
  }
}

/* Divides by DIVISOR in place; returns the remainder. */
static uint32_t divide_small(Natural* n, uint32_t divisor) {
  uint64_t remainder = 0;
  for (size_t i = n->used; i-- > 0;) {
    const uint64_t part = remainder << 32 | n->limb[i];
    n->limb[i] = (uint32_t)(part / divisor);
    remainder = part % divisor;
  }
  while (n->used > 0 && n->limb[n->used - 1] == 0) {
    --n->used;
  }
  return (uint32_t)remainder;
}

static int bit_at(const Natural* n, size_t bit) {
  return bit / 32 < n->used ? (int)(n->limb[bit / 32] >> (bit % 32) & 1) : 0;
}

static void shift_left(Natural* n, size_t bits) {
  const size_t words = bits / 32;
  const unsigned part = (unsigned)(bits % 32);
  size_t used = n->used + words + 1;
  if (used > kLimbs) {
    used = kLimbs; /* past what a double and the precision can need */
  }
  for (size_t i = used; i-- > 0;) {
    const uint32_t high = i >= words && i - words < n->used ? n->limb[i - words] : 0;
    const uint32_t low = i >= words + 1 && i - words - 1 < n->used ? n->limb[i - words - 1] : 0;
    n->limb[i] = part == 0 ? high : high << part | low >> (32 - part);
  }
  n->used = used;
  while (n->used > 0 && n->limb[n->used - 1] == 0) {
    --n->used;
  }
}

/* Shifts right by BITS, rounding to nearest, ties to even. */
static void shift_right_rounded(Natural* n, size_t bits) {
  const int half = bit_at(n, bits - 1);
  int below = 0;
  for (size_t bit = 0; bit + 1 < bits && bit < 32 * n->used && !below; ++bit) {
    below = bit_at(n, bit);
  }
  const size_t words = bits / 32;
  const unsigned part = (unsigned)(bits % 32);
  size_t used = 0;
  for (size_t i = 0; i + words < n->used; ++i) {
    const uint32_t low = n->limb[i + words];
    const uint32_t high = i + words + 1 < n->used ? n->limb[i + words + 1] : 0;
    n->limb[i] = part == 0 ? low : low >> part | high << (32 - part);
    used = i + 1;
  }
  n->used = used;
  while (n->used > 0 && n->limb[n->used - 1] == 0) {
    --n->used;
  }
  if (half && (below || (n->used > 0 && (n->limb[0] & 1)))) {
    uint64_t carry = 1;
    for (size_t i = 0; i < n->used && carry != 0; ++i) {
      const uint64_t sum = (uint64_t)n->limb[i] + carry;
      n->limb[i] = (uint32_t)sum;
      carry = sum >> 32;
    }
    if (n->used == 0 || (carry != 0 && n->used < kLimbs)) {
      n->limb[n->used++] = (uint32_t)carry;
    }
  }
}

static void put_fixed(Output* out, Field field, double value, int upper) {
  uint64_t bits;
  __builtin_memcpy(&bits, &value, sizeof bits);
  const int negative = (int)(bits >> 63);
  const char* sign = negative ? "-" : field.plus ? "+" : field.space ? " " : "";
  const unsigned exponent = (unsigned)(bits >> 52 & 0x7FF);
  uint64_t mantissa = bits & ((UINT64_C(1) << 52) - 1);
  if (exponent == 0x7FF) {
    field.zero = 0;
    put_field(out, &field, sign, 0,
              mantissa != 0 ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf"), 3);
    return;
  }
  int shift = exponent == 0 ? -1074 : (int)exponent - 1075;
  if (exponent != 0) {
    mantissa |= UINT64_C(1) << 52;
  }
  const int precision = field.precision < 0 ? 6 : field.precision;
  const int exact = precision < kMostPrecision ? precision : kMostPrecision;

  /* value * 10^exact, rounded to a natural number. */
  Natural n = {{(uint32_t)mantissa, (uint32_t)(mantissa >> 32)}, 2};
  for (int i = 0; i < exact; ++i) {
    multiply_small(&n, 10);
  }
  if (shift > 0) {
    shift_left(&n, (size_t)shift);
  } else if (shift < 0) {
    shift_right_rounded(&n, (size_t)-shift);
  }

  /* Its digits, most significant first, at least one more than the
   * fraction's so that the whole part has one. */
  char digits[16 + 10 * kLimbs];
  char* const end = digits + sizeof digits;
  size_t count = 0;
  while (n.used > 0) {
    uint32_t chunk = divide_small(&n, 1000000000u);
    for (int i = 0; i < 9; ++i, chunk /= 10) {
      end[-1 - (ptrdiff_t)count++] = (char)('0' + chunk % 10);
    }
  }
  while (count > 1 && end[-(ptrdiff_t)count] == '0') {
    --count;
  }
  while (count < (size_t)exact + 1) {
    end[-1 - (ptrdiff_t)count++] = '0';
  }
  const char* body = end - count;
  const size_t whole = count - (size_t)exact;
  const int point = precision > 0 || field.alternate;
  const size_t total = whole + (point ? 1u : 0u) + (size_t)precision;

  /* The sign, zeros of the width, the whole part, the point and the
   * fraction, then the spaces of a left-aligned field. */
  size_t sign_length = sign[0] != '\0';
  const size_t pad = field.width > sign_length + total ? field.width - sign_length - total : 0;
  if (!field.left && !field.zero) {
    put_repeated(out, ' ', pad);
  }
  if (sign_length) {
    put(out, (unsigned char)sign[0]);
  }
  if (!field.left && field.zero) {
    put_repeated(out, '0', pad);
  }
  for (size_t i = 0; i < whole; ++i) {
    put(out, (unsigned char)body[i]);
  }
  if (point) {
    put(out, '.');
  }
  for (size_t i = whole; i < count; ++i) {
    put(out, (unsigned char)body[i]);
  }
  put_repeated(out, '0', (size_t)(precision - exact));
  if (field.left) {
    put_repeated(out, ' ', pad);
  }
}

static void put_text(Output* out, const Field* field, const void* text, int wide_text) {
  static const char kNull[] = "(null)";
  if (text == NULL) {
    text = kNull;
    wide_text = 0;
  }
  size_t count = 0;
  while ((field->precision < 0 || count < (size_t)field->precision) &&
         unit_at(text, count, wide_text) != 0) {
    ++count;
  }
  const size_t pad = field->width > count ? field->width - count : 0;
  if (!field->left) {
    put_repeated(out, ' ', pad);
  }
  for (size_t i = 0; i < count; ++i) {
    put(out, unit_at(text, i, wide_text));
  }
  if (field->left) {
    put_repeated(out, ' ', pad);
  }
}

enum Length { kInt, kChar, kShort, kLong, kLongLong, kMax, kSize, kPtrdiff, kLongDouble };

/* The next integer argument, of the size LENGTH says. */
static int64_t signed_argument(va_list* args, enum Length length) {
  switch (length) {
    case kLong:
      return va_arg(*args, long);
    case kLongLong:
      return va_arg(*args, long long);
    case kMax:
      return va_arg(*args, intmax_t);
    case kSize: /* the signed type of size_t's size */
    case kPtrdiff:
      return va_arg(*args, ptrdiff_t);
    case kChar:
      return (signed char)va_arg(*args, int);
    case kShort:
      return (short)va_arg(*args, int);
    default:
      return va_arg(*args, int);
  }
}

static uint64_t unsigned_argument(va_list* args, enum Length length) {
  switch (length) {
    case kLong:
      return va_arg(*args, unsigned long);
    case kLongLong:
      return va_arg(*args, unsigned long long);
    case kMax:
      return va_arg(*args, uintmax_t);
    case kSize:
      return va_arg(*args, size_t);
    case kPtrdiff:
      return (uint64_t)va_arg(*args, ptrdiff_t);
    case kChar:
      return (unsigned char)va_arg(*args, unsigned);
    case kShort:
      return (unsigned short)va_arg(*args, unsigned);
    default:
      return va_arg(*args, unsigned);
  }
}

static int format(Output* out, const void* format_text, va_list* args) {
  const int wide = out->wide;
  for (size_t i = 0; unit_at(format_text, i, wide) != 0; ++i) {
    const unsigned c = unit_at(format_text, i, wide);
    if (c != '%') {
      put(out, c);
      continue;
    }
    const size_t start = i++;
    Field field = {0, 0, 0, 0, 0, 0, -1};
    for (;; ++i) {
      const unsigned flag = unit_at(format_text, i, wide);
      if (flag == '-') {
        field.left = 1;
      } else if (flag == '+') {
        field.plus = 1;
      } else if (flag == ' ') {
        field.space = 1;
      } else if (flag == '#') {
        field.alternate = 1;
      } else if (flag == '0') {
        field.zero = 1;
      } else {
        break;
      }
    }
    if (unit_at(format_text, i, wide) == '*') {
      const int width = va_arg(*args, int);
      field.left |= width < 0;
      field.width = (size_t)(width < 0 ? -(long long)width : width);
      ++i;
    } else {
      for (unsigned d; (d = unit_at(format_text, i, wide)) >= '0' && d <= '9'; ++i) {
        field.width = field.width * 10 + (d - '0');
      }
    }
    if (unit_at(format_text, i, wide) == '.') {
      ++i;
      field.precision = 0;
      if (unit_at(format_text, i, wide) == '*') {
        const int precision = va_arg(*args, int);
        field.precision = precision < 0 ? -1 : precision;
        ++i;
      } else {
        for (unsigned d; (d = unit_at(format_text, i, wide)) >= '0' && d <= '9'; ++i) {
          field.precision =
              field.precision < INT_MAX / 10 ? field.precision * 10 + (int)(d - '0') : INT_MAX;
        }
      }
    }
    enum Length length = kInt;
    const unsigned l = unit_at(format_text, i, wide);
    const unsigned next = l != 0 ? unit_at(format_text, i + 1, wide) : 0;
    if (l == 'h') {
      length = next == 'h' ? kChar : kShort;
      i += next == 'h' ? 2 : 1;
    } else if (l == 'l') {
      length = next == 'l' ? kLongLong : kLong;
      i += next == 'l' ? 2 : 1;
    } else if (l == 'j' || l == 'z' || l == 't' || l == 'L') {
      length = l == 'j' ? kMax : l == 'z' ? kSize : l == 't' ? kPtrdiff : kLongDouble;
      ++i;
    } else if (l == 'I' && next == '6' && unit_at(format_text, i + 2, wide) == '4') {
      length = kLongLong;
      i += 3;
    } else if (l == 'I' && next == '3' && unit_at(format_text, i + 2, wide) == '2') {
      i += 3;
    } else if (l == 'I') {
      length = kSize;
      ++i;
    }
    const unsigned conversion = unit_at(format_text, i, wide);
    switch (conversion) {
      case 'd':
      case 'i': {
        const int64_t value = signed_argument(args, length);
        const uint64_t magnitude = value < 0 ? 0u - (uint64_t)value : (uint64_t)value;
        put_integer(out, field, magnitude, value < 0, 10, 0);
        break;
      }
      case 'u':
      case 'o':
      case 'x':
      case 'X': {
        const unsigned base = conversion == 'u' ? 10u : conversion == 'o' ? 8u : 16u;
        field.plus = field.space = 0;
        put_integer(out, field, unsigned_argument(args, length), 0, base, conversion == 'X');
        break;
      }
      case 'p':
        field.alternate = 1;
        put_integer(out, field, (uintptr_t)va_arg(*args, void*), 0, 16, 0);
        break;
      case 'f':
      case 'F':
        /* long double is double on Windows on ARM. */
        put_fixed(
            out, field,
            length == kLongDouble ? (double)va_arg(*args, long double) : va_arg(*args, double),
            conversion == 'F');
        break;
      case 'c': {
        /* wint_t comes promoted to int. */
        const int argument = va_arg(*args, int);
        const unsigned value = length == kLong ? (unsigned)argument : (unsigned char)argument;
        const size_t pad = field.width > 1 ? field.width - 1 : 0;
        if (!field.left) {
          put_repeated(out, ' ', pad);
        }
        put(out, value);
        if (field.left) {
          put_repeated(out, ' ', pad);
        }
        break;
      }
      case 's':
        put_text(out, &field, va_arg(*args, const void*), length == kLong);
        break;
      case '%':
        put(out, '%');
        break;
      default:
        /* Not one of ours: written as it stands. */
        for (size_t k = start; k <= i && unit_at(format_text, k, wide) != 0; ++k) {
          put(out, unit_at(format_text, k, wide));
        }
        if (conversion == 0) {
          --i;
        }
        break;
    }
  }
  if (out->size > 0) {
    const size_t end = out->length < out->size ? out->length : out->size - 1;
    if (out->wide) {
      ((wchar_t*)out->buffer)[end] = L'\0';
    } else {
      ((char*)out->buffer)[end] = '\0';
    }
  }
  return out->length <= INT_MAX ? (int)out->length : -1;
}

int __mingw_vsnprintf(char* buffer, size_t size, const char* format_text, va_list args) {
  Output out = {buffer, size, 0, 0};
  va_list copy;
  va_copy(copy, args);
  const int length = format(&out, format_text, &copy);
  va_end(copy);
  return length;
}

int __mingw_vsnwprintf(wchar_t* buffer, size_t size, const wchar_t* format_text, va_list args) {
  Output out = {buffer, size, 0, 1};
  va_list copy;
  va_copy(copy, args);
  const int length = format(&out, format_text, &copy);
  va_end(copy);
  return length;
}
