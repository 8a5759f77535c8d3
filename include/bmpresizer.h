/*
 * bmpresizer: enlarge a 24-bit BMP file by a whole-number factor.
 *
 * The one public header of the library. It can be included from C and C++.
 */
#ifndef BMPRESIZER_H
#define BMPRESIZER_H

#include <wchar.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(BMPRESIZER_BUILDING)
#define BMPRESIZER_API __declspec(dllexport)
#else
#define BMPRESIZER_API __declspec(dllimport)
#endif
#elif defined(BMPRESIZER_BUILDING) && defined(__GNUC__)
#define BMPRESIZER_API __attribute__((visibility("default")))
#else
#define BMPRESIZER_API
#endif

#define BMPRESIZER_VERSION_MAJOR 1
#define BMPRESIZER_VERSION_MINOR 0
#define BMPRESIZER_VERSION_PATCH 0
#define BMPRESIZER_VERSION_TWEAK 1
#define BMPRESIZER_VERSION_STRING "1.0.0.1"

/* Result codes of BMPResizer. No other value is ever returned. */
enum {
  /* The input could not be opened for reading: it is missing, unreadable or a
   * directory, the pointer is null, or the path is too long. */
  BMPRESIZER_CANNOT_OPEN_INPUT = 3,
  /* The output could not be opened for writing (missing folder, a directory,
   * no permission, null pointer, path too long), or it names the same file as
   * the input. */
  BMPRESIZER_CANNOT_OPEN_OUTPUT = 4,
  /* The input is not a BMP of the accepted kind, or it is shorter than its
   * header says. */
  BMPRESIZER_UNSUPPORTED_INPUT = 5,
  /* The enlarged image cannot be written as a BMP: factor below 1, a
   * dimension above 2^31 - 1, or a file above 4 GiB - 1 bytes. */
  BMPRESIZER_OUTPUT_TOO_LARGE = 6,
  /* A read, write, seek or close failed once both files were open (disk full,
   * I/O error, the input changed during the call). */
  BMPRESIZER_IO_ERROR = 7,
  /* The output file is complete. */
  BMPRESIZER_SUCCESS = 999
};

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Enlarges the BMP file `input` by `factor` in both directions and writes the
 * result to `output`: every pixel is repeated `factor` times across its row
 * and every row `factor` times down the image, in the order the input stores
 * them (bottom-up stays bottom-up, top-down stays top-down).
 *
 * Accepted inputs: 24 bits per pixel, uncompressed, with the 40-byte
 * information header and the pixel data at byte 54 (no colour table), width
 * zero or more, and at least as many bytes as the declared rows need.
 *
 * `input` and `output` are null-terminated wide-character paths; on POSIX
 * systems they are converted to UTF-8 whatever the locale. `factor` is at
 * least 1. The call keeps no state, allocates nothing on the heap, uses a
 * fixed amount of memory whatever the image size and may run on several
 * threads at once for different output files.
 *
 * Returns BMPRESIZER_SUCCESS (999) once the output is complete, exactly as
 * long as its header says. Otherwise returns one of the codes above:
 *  - 3: "Could not open <input>.\n" is printed on standard output; the output
 *       is not touched.
 *  - 4: nothing is printed and nothing is created or changed.
 *  - 5, 6: the output file exists and is empty.
 *  - 7: the output file is emptied as far as possible.
 * The input file is never changed.
 */
BMPRESIZER_API int BMPResizer(const wchar_t* input, const wchar_t* output, int factor);

#ifdef __cplusplus
}
#endif

#endif /* BMPRESIZER_H */
