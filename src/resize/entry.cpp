// The exported function: the thin frame around the resize core. It turns
// the caller's paths into native ones, runs the library's resize and maps
// the outcome to the public result code, printing the one console line.
#include <cstdio>

#include "bmpresizer.h"
#include "bmpresizer_core.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include "wide_path.h"
#endif

namespace {

#ifdef _WIN32
// The path in the ANSI code page, as the program's other narrow console
// output, characters it lacks replaced. Converted a piece at a time, so that
// no path is too long to be shown.
void print_ansi(const wchar_t* path) {
  constexpr int kPieceUnits = 256;
  char piece[2 * kPieceUnits];  // two bytes a character at most, in double-byte code pages
  for (int start = 0; path[start] != L'\0';) {
    int units = 0;
    while (units < kPieceUnits && path[start + units] != L'\0') {
      ++units;
    }
    // A surrogate pair stays whole.
    if (units == kPieceUnits && IS_HIGH_SURROGATE(path[start + units - 1])) {
      --units;
    }
    const int bytes = WideCharToMultiByte(CP_ACP, 0, path + start, units, piece,
                                          static_cast<int>(sizeof piece), nullptr, nullptr);
    std::fwrite(piece, 1, static_cast<std::size_t>(bytes > 0 ? bytes : 0), stdout);
    start += units;
  }
}

// Windows opens the caller's UTF-16 paths as they are.
int resize(const wchar_t* input, const wchar_t* output, int factor) {
  const bmpresizer::Outcome outcome = bmpresizer::resize_files(input, output, factor);
  const int code = bmpresizer::result_code(outcome);
  if (code == BMPRESIZER_CANNOT_OPEN_INPUT) {
    std::fputs("Could not open ", stdout);
    print_ansi(input != nullptr ? input : L"");
    std::fputs(".\n", stdout);
    std::fflush(stdout);
  }
  return code;
}
#else
int resize(const wchar_t* input, const wchar_t* output, int factor) {
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
#endif

}  // namespace

extern "C" BMPRESIZER_API int BMPResizer(const wchar_t* input, const wchar_t* output, int factor) {
  return resize(input, output, factor);
}
