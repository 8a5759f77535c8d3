// The exported function: the thin frame around the resize core.
#include <cstdio>

#include "bmpresizer.h"
#include "byte_path.h"
#include "resize.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace bmpresizer {
namespace {

// A UTF-8 path in the ANSI code page, characters it lacks replaced; the
// bytes as they are if they do not convert.
struct AnsiPath {
  explicit AnsiPath(const char* utf8) {
    wchar_t wide[kPathBufferBytes];
    const bool converted =
        MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, static_cast<int>(kPathBufferBytes)) > 0 &&
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, static_cast<int>(sizeof text), nullptr,
                            nullptr) > 0;
    if (!converted) {
      lstrcpynA(text, utf8, static_cast<int>(sizeof text));
    }
  }
  // Two bytes per character at most, in double-byte code pages.
  char text[2 * kPathBufferBytes];
};

}  // namespace
}  // namespace bmpresizer
#endif

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
#ifdef _WIN32
    // The console shows the path in the ANSI code page, as the program's
    // other narrow output.
    std::printf("Could not open %s.\n", bmpresizer::AnsiPath(input_path).text);
#else
    std::printf("Could not open %s.\n", input_path);
#endif
    std::fflush(stdout);
  }
  return code;
}
