/* A host application that links the library:
 *
 *   cc link_host.c -lbmpresizer -o link_host
 *   ./link_host INPUT.bmp OUTPUT.bmp FACTOR
 *
 * BMPResizer takes wide-character paths; this host widens its byte
 * arguments with the C library's own conversion, as a program would.
 */
#include <bmpresizer.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

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

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: link_host INPUT.bmp OUTPUT.bmp FACTOR\n");
    return 2;
  }
  setlocale(LC_ALL, "");
  wchar_t* input = widen(argv[1]);
  wchar_t* output = widen(argv[2]);
  int code = BMPResizer(input, output, atoi(argv[3]));
  free(input);
  free(output);
  switch (code) {
    case BMPRESIZER_SUCCESS:
      printf("enlarged %s into %s\n", argv[1], argv[2]);
      return 0;
    case BMPRESIZER_CANNOT_OPEN_INPUT:
      return 3; /* BMPResizer has printed "Could not open ..." */
    case BMPRESIZER_CANNOT_OPEN_OUTPUT:
      fprintf(stderr, "%s: cannot be written\n", argv[2]);
      return code;
    case BMPRESIZER_UNSUPPORTED_INPUT:
      fprintf(stderr, "%s: not a plain 24-bit BMP\n", argv[1]);
      return code;
    case BMPRESIZER_OUTPUT_TOO_LARGE:
      fprintf(stderr, "%s: too large as a BMP at this factor\n", argv[2]);
      return code;
    default:
      fprintf(stderr, "%s: read or write failed\n", argv[2]);
      return code;
  }
}
