// What a resize call ended with, in enough detail for a precise message.
//
// The core reports every failure once, here, with the values it saw; the
// exported function maps it to a public result code and the tool maps it to a
// sentence. Nothing in this file touches files or text.
#ifndef BMPRESIZER_RESIZE_OUTCOME_H
#define BMPRESIZER_RESIZE_OUTCOME_H

#include <cstdint>

namespace bmpresizer {

enum class Failure : std::uint8_t {
  none,
  // The input could not be opened for reading.
  input_open,          // the system refused it; `error` holds errno
  input_is_directory,  // opening a directory "succeeds" on POSIX, reading it does not
  input_path_invalid,  // null, too long, or not convertible to a byte path
  // The output could not be opened for writing.
  output_open,          // the system refused it; `error` holds errno
  output_path_invalid,  // null, too long, or not convertible to a byte path
  output_is_input,      // the output names the input file (same device and inode)
  // The input is not a BMP of the accepted kind (have = what the file says).
  not_bmp,           // no "BM" signature
  header_truncated,  // have = bytes in the file, want = 54
  info_header_size,  // have = biSize
  pixel_offset,      // have = bfOffBits
  bit_count,         // have = biBitCount
  compression,       // have = biCompression
  negative_width,    // have = biWidth as an unsigned image of the signed value
  pixels_truncated,  // have = bytes in the file, want = bytes the rows need
  // The enlarged image cannot be written as a BMP.
  factor_below_one,  // have = factor as an unsigned image of the signed value
  width_too_large,   // want = enlarged width in pixels
  height_too_large,  // want = enlarged height in rows
  file_too_large,    // want = enlarged file size in bytes
  // Input or output failed after both files were open (`error` holds errno).
  read_failed,
  input_shrank,  // have = bytes read, want = bytes needed at that point
  write_failed,
  close_failed,
};

struct Outcome {
  Failure failure = Failure::none;
  int error = 0;                   // errno of the failing system call, 0 if none
  std::uint64_t have = 0;          // see Failure
  std::uint64_t want = 0;          // see Failure
  std::uint64_t output_bytes = 0;  // size of the complete output on success

  bool ok() const { return failure == Failure::none; }
};

// The public result code (3, 4, 5, 6, 7 or 999) for an outcome.
int result_code(const Outcome& outcome);

}  // namespace bmpresizer

#endif
