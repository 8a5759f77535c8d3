/* The start of a C program that takes its C library from the system's
 * msvcrt.dll, as MinGW-w64's start-up files would do it: the arguments from
 * __getmainargs, main, and exit with what main returns (which flushes the
 * streams). For the example hosts; the DLLs never link it.
 *
 * The headers reach stdin, stdout and stderr through __acrt_iob_func, which
 * msvcrt.dll does not have: here it is, over msvcrt.dll's own table of
 * streams (_iob, which the headers read through __iob_func on ARM64 and
 * through the imported array on ARMv7). */
#include <stdio.h>
#include <stdlib.h>

typedef struct {
  int new_mode;
} StartupInfo;

int __getmainargs(int* argc, char*** argv, char*** environment, int expand, StartupInfo* info);
int main(int argc, char** argv, char** environment);

static FILE* stream(unsigned index) { return &_iob[index]; }
FILE* (*__imp___acrt_iob_func)(unsigned) = stream;

void mainCRTStartup(void) {
  int argc = 0;
  char** argv = NULL;
  char** environment = NULL;
  StartupInfo info = {0};
  if (__getmainargs(&argc, &argv, &environment, 0, &info) != 0) {
    exit(255);
  }
  exit(main(argc, argv, environment));
}
