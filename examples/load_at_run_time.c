/* A host application that loads the library at run time, looks up
 * BMPResizer and calls it through a function pointer, as a program that only
 * has the shared object and the public header would:
 *
 *   cc load_at_run_time.c -ldl -o load_at_run_time
 *   ./load_at_run_time /path/to/libbmpresizer.so INPUT.bmp OUTPUT.bmp
 *
 * It enlarges INPUT twice into OUTPUT, then checks that a missing input is
 * reported as such, and prints "N passed, N failed".
 */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "bmpresizer.h"

typedef int (*resizer_fn)(const wchar_t*, const wchar_t*, int);

static wchar_t* widen(const char* text) {
  size_t n = strlen(text);
  wchar_t* wide = calloc(n + 1, sizeof *wide);
  for (size_t i = 0; wide != NULL && i < n; ++i) {
    wide[i] = (wchar_t)(unsigned char)text[i];
  }
  return wide;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: load_at_run_time LIBRARY INPUT OUTPUT\n");
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  resizer_fn resize = NULL;
  *(void**)&resize = dlsym(library, "BMPResizer");
  if (resize == NULL) {
    fprintf(stderr, "dlsym: %s\n", dlerror());
    return 1;
  }
  wchar_t* input = widen(argv[2]);
  wchar_t* output = widen(argv[3]);
  wchar_t* missing = widen("no-such-file.bmp");
  int failures = 0;
  int code = resize(input, output, 2);
  if (code != BMPRESIZER_SUCCESS) {
    fprintf(stderr, "BMPResizer returned %d, want %d\n", code, BMPRESIZER_SUCCESS);
    ++failures;
  }
  code = resize(missing, output, 2);
  if (code != BMPRESIZER_CANNOT_OPEN_INPUT) {
    fprintf(stderr, "missing input: BMPResizer returned %d, want %d\n", code,
            BMPRESIZER_CANNOT_OPEN_INPUT);
    ++failures;
  }
  free(input);
  free(output);
  free(missing);
  if (dlclose(library) != 0) {
    fprintf(stderr, "dlclose: %s\n", dlerror());
    ++failures;
  }
  printf("%d passed, %d failed\n", 2 - failures, failures);
  return failures == 0 ? 0 : 1;
}
