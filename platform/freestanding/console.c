/* The C runtime's stdout, fflush and _write as the module's console line
 * uses them (the input path it could not open, after whatever the host has
 * printed). The module has no C runtime of its own: it holds no buffered
 * output to flush, and cannot reach the host's. _write writes to the
 * process's standard output or error handle as a C runtime writes to a
 * descriptor in text mode, each line end as CR LF. The headers import
 * __acrt_iob_func and _write from the C runtime's DLL: the pointers
 * __imp___acrt_iob_func and __imp__write stand for those imports. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <io.h>
#include <stdio.h>

static FILE streams[3];

static FILE* stream(unsigned index) { return index < 3 ? &streams[index] : NULL; }
FILE* (*__imp___acrt_iob_func)(unsigned) = stream;

int fflush(FILE* file) {
  (void)file;
  return 0;
}

static int write_to(int descriptor, const void* data, unsigned bytes) {
  const HANDLE handle = descriptor == 1   ? GetStdHandle(STD_OUTPUT_HANDLE)
                        : descriptor == 2 ? GetStdHandle(STD_ERROR_HANDLE)
                                          : INVALID_HANDLE_VALUE;
  if (handle == INVALID_HANDLE_VALUE || handle == NULL) {
    return -1;
  }
  const char* text = data;
  unsigned start = 0;
  for (unsigned i = 0; i <= bytes; ++i) {
    if (i < bytes && text[i] != '\n') {
      continue;
    }
    DWORD wrote = 0;
    if ((i > start && !WriteFile(handle, text + start, i - start, &wrote, NULL)) ||
        (i < bytes && !WriteFile(handle, "\r\n", 2, &wrote, NULL))) {
      return -1;
    }
    start = i + 1;
  }
  return (int)bytes;
}
int (*__imp__write)(int, const void*, unsigned) = write_to;
