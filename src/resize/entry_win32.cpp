// The exported function on Windows: the frame around the resize core. The
// caller's UTF-16 paths are opened as they are; the one console line shows
// the input path in the ANSI code page, as the program's other narrow
// console output.
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "bmpresizer.h"
#include "resize_files.h"

namespace {

void write_stdout(const char* text, int bytes) {
  if (bytes > 0) {
    _write(1, text, static_cast<unsigned>(bytes));
  }
}

// "Could not open <path>.\n" on standard output, after whatever the host
// has buffered there, without the C runtime's buffer. The path is converted
// a piece at a time (characters the code page lacks replaced), so that no
// path is too long to be shown.
void print_could_not_open(const wchar_t* path) {
  std::fflush(stdout);
  write_stdout("Could not open ", 15);
  constexpr int kPieceUnits = 256;
  // Up to four bytes a UTF-16 unit: three in UTF-8 (an active code page of
  // 65001), four in GB18030.
  char piece[4 * kPieceUnits];
  for (int start = 0; path != nullptr && path[start] != L'\0';) {
    int units = 0;
    while (units < kPieceUnits && path[start + units] != L'\0') {
      ++units;
    }
    // A surrogate pair stays whole.
    if (units == kPieceUnits && IS_HIGH_SURROGATE(path[start + units - 1])) {
      --units;
    }
    write_stdout(piece, WideCharToMultiByte(CP_ACP, 0, path + start, units, piece,
                                            static_cast<int>(sizeof piece), nullptr, nullptr));
    start += units;
  }
  write_stdout(".\n", 2);
}

}  // namespace

extern "C" BMPRESIZER_API int BMPResizer(const wchar_t* input, const wchar_t* output, int factor) {
  const bmpresizer::Outcome outcome = bmpresizer::resize_files(input, output, factor);
  const int code = bmpresizer::result_code(outcome);
  if (code == BMPRESIZER_CANNOT_OPEN_INPUT) {
    print_could_not_open(input);
  }
  return code;
}
