/* The public headers as a program includes them, compiled as C99 and as
 * C++ (public_headers test): each twice, both in one translation unit, and
 * every kind of declaration used once. */
#include <bmpresize.h>
#include <bmpresizer.h>

int use_the_headers(void);

int use_the_headers(void) {
  bmpresize_options options = bmpresize_default_options(3, 2);
  bmpresize_result result;
  bmpresize_image image;
  unsigned char head[BMPRESIZE_HEADER_BYTES] = {0};
  options.kinds = BMPRESIZE_KINDS_CLASSIC;
  options.flags = BMPRESIZE_STANDARD_STREAMS;
  if (bmpresize_describe(head, sizeof head, BMPRESIZE_UNKNOWN_LENGTH, &options, &image, &result) ==
      BMPRESIZE_E_NOT_BMP) {
    return bmpresize_exit_status(result.error);
  }
  return BMPResizer(L"in.bmp", L"out.bmp", BMPRESIZE_VERSION_MAJOR) == BMPRESIZER_SUCCESS;
}
