/* A host application that loads the library at run time, looks up
 * BMPResizer and calls it through a function pointer, as a program that only
 * has the shared library and the public header would:
 *
 *   cc load_at_run_time.c -ldl -o load_at_run_time
 *   ./load_at_run_time /path/to/libbmpresizer.so INPUT.bmp OUTPUT.bmp FACTOR
 *   load_at_run_time.exe C:\path\to\BMPResizer.dll INPUT.bmp OUTPUT.bmp FACTOR
 *
 * It loads with LoadLibraryW on Windows and dlopen elsewhere, enlarges INPUT
 * FACTOR times into OUTPUT, says what became of it and unloads the library.
 */
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "bmpresizer.h"

typedef int (*resizer_fn)(const wchar_t*, const wchar_t*, int);

/* Converts a byte string in the locale's encoding; NULL when it can't. */
static wchar_t* widen(const char* text) {
  size_t length = mbstowcs(NULL, text, 0);
  if (length == (size_t)-1) {
    return NULL;
  }
  wchar_t* wide = malloc((length + 1) * sizeof *wide);
  if (wide != NULL) {
    mbstowcs(wide, text, length + 1);
  }
  return wide;
}

/* The platform's run-time loader: load a library, find BMPResizer in it,
 * unload it. Each prints what went wrong and returns NULL or 0 on failure. */
#ifdef _WIN32
typedef HMODULE library_handle;

static library_handle load(const char* path) {
  wchar_t* wide = widen(path);
  HMODULE library = wide != NULL ? LoadLibraryW(wide) : NULL;
  free(wide);
  if (library == NULL) {
    fprintf(stderr, "LoadLibraryW %s: error %lu\n", path, (unsigned long)GetLastError());
  }
  return library;
}

static resizer_fn find_resizer(library_handle library) {
  /* Through a function type without parameters, which converts to any other. */
  resizer_fn resize = (resizer_fn)(void (*)(void))GetProcAddress(library, "BMPResizer");
  if (resize == NULL) {
    fprintf(stderr, "GetProcAddress: error %lu\n", (unsigned long)GetLastError());
  }
  return resize;
}

static int unload(library_handle library) {
  if (!FreeLibrary(library)) {
    fprintf(stderr, "FreeLibrary: error %lu\n", (unsigned long)GetLastError());
    return 0;
  }
  return 1;
}
#else
typedef void* library_handle;

static library_handle load(const char* path) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
  }
  return library;
}

static resizer_fn find_resizer(library_handle library) {
  resizer_fn resize = NULL;
  *(void**)&resize = dlsym(library, "BMPResizer");
  if (resize == NULL) {
    fprintf(stderr, "dlsym: %s\n", dlerror());
  }
  return resize;
}

static int unload(library_handle library) {
  if (dlclose(library) != 0) {
    fprintf(stderr, "dlclose: %s\n", dlerror());
    return 0;
  }
  return 1;
}
#endif

/* What a result code of BMPResizer means. */
static const char* meaning(int code) {
  switch (code) {
    case BMPRESIZER_CANNOT_OPEN_INPUT:
      return "the input cannot be opened";
    case BMPRESIZER_CANNOT_OPEN_OUTPUT:
      return "the output cannot be created";
    case BMPRESIZER_UNSUPPORTED_INPUT:
      return "the input is not a 24-bit uncompressed BMP";
    case BMPRESIZER_OUTPUT_TOO_LARGE:
      return "the enlargement cannot be a BMP";
    default:
      return "a read or write failed";
  }
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: load_at_run_time LIBRARY INPUT OUTPUT FACTOR\n");
    return 2;
  }
  setlocale(LC_ALL, "");
  library_handle library = load(argv[1]);
  if (library == NULL) {
    return 1;
  }
  resizer_fn resize = find_resizer(library);
  wchar_t* input = widen(argv[2]);
  wchar_t* output = widen(argv[3]);
  int status = 1;
  if (resize != NULL && input != NULL && output != NULL) {
    const int code = resize(input, output, atoi(argv[4]));
    if (code == BMPRESIZER_SUCCESS) {
      printf("enlarged %s %s times into %s\n", argv[2], argv[4], argv[3]);
      status = 0;
    } else {
      fprintf(stderr, "load_at_run_time: %s: %s (BMPResizer returned %d)\n",
              code == BMPRESIZER_CANNOT_OPEN_OUTPUT ? argv[3] : argv[2], meaning(code), code);
    }
  } else if (input == NULL || output == NULL) {
    fprintf(stderr, "load_at_run_time: a path is not valid in this locale\n");
  }
  free(input);
  free(output);
  if (!unload(library)) {
    status = 1;
  }
  return status;
}
