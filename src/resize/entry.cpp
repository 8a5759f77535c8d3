// The exported function: the thin frame around the resize core.
#include <cstdio>

#include "bmpresizer.h"
#include "byte_path.h"
#include "resize.h"

extern "C" BMPRESIZER_API int BMPResizer(const wchar_t* input, const wchar_t* output, int factor) {
  using bmpresizer::PathConversion;
  // Both paths are converted before any file is opened.
  char input_path[bmpresizer::kPathBufferBytes];
  char output_path[bmpresizer::kPathBufferBytes];
  const bool input_usable =
      bmpresizer::to_byte_path(input, input_path) == PathConversion::converted;
  const bool output_usable =
      bmpresizer::to_byte_path(output, output_path) == PathConversion::converted;

  const bmpresizer::Outcome outcome = bmpresizer::resize_files(
      input_usable ? input_path : nullptr, output_usable ? output_path : nullptr, factor);
  const int code = bmpresizer::result_code(outcome);
  if (code == BMPRESIZER_CANNOT_OPEN_INPUT) {
    std::printf("Could not open %s.\n", input_path);
    std::fflush(stdout);
  }
  return code;
}
