/* The C library's memory and string functions that the DLLs call, or that
 * the compiler calls for copies and fills of its own. Compiled with
 * -ffreestanding, so that the compiler does not turn these loops back into
 * calls of themselves.
 *
 * The core copies rows with memcpy and memmove: these move eight bytes at a
 * time, four words an iteration, every load of an iteration before its
 * stores (which keeps memmove's forward and backward copies right when the
 * ranges overlap). The processors allow unaligned words. */
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

typedef uint64_t __attribute__((may_alias, aligned(1))) unaligned_word;

#define WORD(p) (*(unaligned_word*)(void*)(p))
#define CONST_WORD(p) (*(const unaligned_word*)(const void*)(p))

static void copy_forward(unsigned char* to, const unsigned char* from, size_t n) {
  for (; n >= 32; n -= 32, to += 32, from += 32) {
    const uint64_t a = CONST_WORD(from);
    const uint64_t b = CONST_WORD(from + 8);
    const uint64_t c = CONST_WORD(from + 16);
    const uint64_t d = CONST_WORD(from + 24);
    WORD(to) = a;
    WORD(to + 8) = b;
    WORD(to + 16) = c;
    WORD(to + 24) = d;
  }
  for (; n >= 8; n -= 8, to += 8, from += 8) {
    WORD(to) = CONST_WORD(from);
  }
  for (; n > 0; --n) {
    *to++ = *from++;
  }
}

static void copy_backward(unsigned char* to, const unsigned char* from, size_t n) {
  to += n;
  from += n;
  for (; n >= 32; n -= 32) {
    to -= 32;
    from -= 32;
    const uint64_t a = CONST_WORD(from);
    const uint64_t b = CONST_WORD(from + 8);
    const uint64_t c = CONST_WORD(from + 16);
    const uint64_t d = CONST_WORD(from + 24);
    WORD(to) = a;
    WORD(to + 8) = b;
    WORD(to + 16) = c;
    WORD(to + 24) = d;
  }
  for (; n >= 8; n -= 8) {
    to -= 8;
    from -= 8;
    WORD(to) = CONST_WORD(from);
  }
  while (n-- > 0) {
    *--to = *--from;
  }
}

void* memcpy(void* restrict to, const void* restrict from, size_t n) {
  copy_forward(to, from, n);
  return to;
}

void* memmove(void* to, const void* from, size_t n) {
  if ((uintptr_t)to - (uintptr_t)from >= n) {
    copy_forward(to, from, n); /* the destination starts before or past the source */
  } else {
    copy_backward(to, from, n);
  }
  return to;
}

void* memset(void* to, int value, size_t n) {
  unsigned char* at = to;
  const uint64_t word = (unsigned char)value * UINT64_C(0x0101010101010101);
  for (; n >= 32; n -= 32, at += 32) {
    WORD(at) = word;
    WORD(at + 8) = word;
    WORD(at + 16) = word;
    WORD(at + 24) = word;
  }
  for (; n >= 8; n -= 8, at += 8) {
    WORD(at) = word;
  }
  for (; n > 0; --n) {
    *at++ = (unsigned char)value;
  }
  return to;
}

int memcmp(const void* a, const void* b, size_t n) {
  const unsigned char* x = a;
  const unsigned char* y = b;
  for (; n > 0; --n, ++x, ++y) {
    if (*x != *y) {
      return *x < *y ? -1 : 1;
    }
  }
  return 0;
}

void* memchr(const void* in, int c, size_t n) {
  const unsigned char* at = in;
  for (; n > 0; --n, ++at) {
    if (*at == (unsigned char)c) {
      return (void*)(uintptr_t)at;
    }
  }
  return NULL;
}

size_t strlen(const char* text) {
  const char* end = text;
  while (*end != '\0') {
    ++end;
  }
  return (size_t)(end - text);
}

char* strchr(const char* text, int c) {
  for (;; ++text) {
    if (*text == (char)c) {
      return (char*)(uintptr_t)text;
    }
    if (*text == '\0') {
      return NULL;
    }
  }
}

int strcmp(const char* a, const char* b) {
  const unsigned char* x = (const unsigned char*)a;
  const unsigned char* y = (const unsigned char*)b;
  for (; *x != '\0' && *x == *y; ++x, ++y) {
  }
  return *x < *y ? -1 : *x > *y ? 1 : 0;
}

size_t wcslen(const wchar_t* text) {
  const wchar_t* end = text;
  while (*end != L'\0') {
    ++end;
  }
  return (size_t)(end - text);
}

int wcsncmp(const wchar_t* a, const wchar_t* b, size_t n) {
  for (; n > 0; --n, ++a, ++b) {
    if (*a != *b) {
      return *a < *b ? -1 : 1;
    }
    if (*a == L'\0') {
      break;
    }
  }
  return 0;
}

wchar_t* wcsrchr(const wchar_t* text, wchar_t c) {
  const wchar_t* last = NULL;
  for (;; ++text) {
    if (*text == c) {
      last = text;
    }
    if (*text == L'\0') {
      return (wchar_t*)(uintptr_t)last;
    }
  }
}
