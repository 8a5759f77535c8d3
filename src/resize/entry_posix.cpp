// The exported function on POSIX systems: the frame around the resize core.
// It turns the caller's wide paths into UTF-8, runs the library's resize,
// prints the one console line and maps the outcome to the public code, as a
// guest in the host's process: it never kills the host with SIGPIPE or
// SIGXFSZ and allocates nothing.
#include <cstdio>
#include <cstring>

#include "bmpresizer.h"
#include "call_memory.h"
#include "resize_files.h"
#include "wide_path.h"
#include "write_signals.h"

namespace {

// "Could not open <path>.\n" on standard output, after whatever the host
// has buffered there, in one write and without the C library's buffer (which
// it would allocate on first use). A path too long for the buffer is written
// whole, a piece at a time. A closed or broken standard output just loses
// the line.
void print_could_not_open(const char* path, const wchar_t* whole) {
  std::fflush(stdout);
  const char before[] = "Could not open ";
  const char after[] = ".\n";
  const auto span = [](const char* text, std::size_t size) {
    return bmpresizer::ByteSpan{reinterpret_cast<const std::uint8_t*>(text), size};
  };
  int error = 0;
  if (whole == nullptr) {
    const bmpresizer::ByteSpan parts[] = {span(before, sizeof before - 1),
                                          span(path, std::strlen(path)),
                                          span(after, sizeof after - 1)};
    bmpresizer::write_all(bmpresizer::standard_output(), parts, 3, error);
    return;
  }
  char piece[1024];
  std::size_t at = 0;
  bmpresizer::ByteSpan part = span(before, sizeof before - 1);
  do {
    bmpresizer::write_all(bmpresizer::standard_output(), &part, 1, error);
    part = span(piece, bmpresizer::next_byte_piece(whole, at, piece, sizeof piece));
  } while (part.size > 0);
  part = span(after, sizeof after - 1);
  bmpresizer::write_all(bmpresizer::standard_output(), &part, 1, error);
}

}  // namespace

extern "C" BMPRESIZER_API int BMPResizer(const wchar_t* input, const wchar_t* output, int factor) {
  using bmpresizer::PathConversion;
  const bmpresizer::WriteSignalsBlocked write_signals_blocked;
  bmpresizer::FilePair files;
  bmpresizer::Outcome outcome;
  {
    const bmpresizer::BorrowedPaths paths;
    bmpresizer::PathRoom& room = paths.room();
    // Both paths are converted before any file is opened.
    const PathConversion input_conversion = bmpresizer::to_byte_path(input, room.input);
    const bool input_usable = input_conversion == PathConversion::converted;
    const bool output_usable =
        bmpresizer::to_byte_path(output, room.output) == PathConversion::converted;
    outcome = bmpresizer::open_files(input_usable ? room.input : nullptr,
                                     output_usable ? room.output : nullptr, room.scratch, files);
    if (bmpresizer::result_code(outcome) == BMPRESIZER_CANNOT_OPEN_INPUT) {
      print_could_not_open(room.input,
                           input_conversion == PathConversion::too_long ? input : nullptr);
      return BMPRESIZER_CANNOT_OPEN_INPUT;
    }
  }
  if (outcome.ok()) {
    const bmpresizer::BorrowedWork work;
    bool empty_by_name = false;
    outcome = bmpresizer::resize_open_files(files, factor, work.buffer(), empty_by_name);
    if (empty_by_name) {
      const bmpresizer::BorrowedPaths paths;
      char(&path)[bmpresizer::kPathBufferBytes] = paths.room().output;
      if (bmpresizer::to_byte_path(output, path) == PathConversion::converted) {
        bmpresizer::truncate_to_empty(static_cast<bmpresizer::NativePath>(path));
      }
    }
  }
  return bmpresizer::result_code(outcome);
}
