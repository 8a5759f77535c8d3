// The resize core as its callers see it: the library's exported frame, the
// bmpresize tool, the fuzz target and the tests. It opens, checks and
// enlarges files on the platform's own paths and handles, and says precisely
// what happened; it prints nothing, keeps no state and allocates nothing.
#ifndef BMPRESIZER_CORE_H
#define BMPRESIZER_CORE_H

#include <cstddef>
#include <cstdint>

namespace bmpresizer {

#ifdef _WIN32
// Paths as Windows keeps them (UTF-16); handles are HANDLEs held as the
// integers the C runtime's _get_osfhandle gives (INVALID_HANDLE_VALUE is -1).
using PathChar = wchar_t;
using FileHandle = std::intptr_t;
#else
// Paths as the file system takes them (bytes, UTF-8 by convention).
using PathChar = char;
using FileHandle = int;
#endif
// A null-terminated path; null stands for one that cannot be used.
using NativePath = const PathChar*;
constexpr FileHandle kNoFile = -1;

enum class Failure : std::uint8_t {
  none,
  // The input could not be opened for reading.
  input_open,          // the system refused it; `error` holds its error number
  input_is_directory,  // a folder holds no image
  input_path_invalid,  // null, too long, or not convertible to a native path
  // The output could not be opened for writing.
  output_open,          // the system refused it; `error` holds its error number
  output_path_invalid,  // null, too long, or not convertible to a native path
  output_is_input,      // the output names the input file (through any link)
  output_no_reader,     // a named pipe that no process is reading
  // The input is not a BMP of the accepted kind (have = what the file says).
  input_not_regular,  // a pipe, device or socket: no file to read twice
  not_bmp,            // no "BM" signature; have = the first two bytes, little-endian
  header_truncated,   // have = bytes in the file, want = 54
  info_header_size,   // have = biSize
  bit_count,          // have = biBitCount
  compression,        // have = biCompression
  pixel_offset,       // have = bfOffBits
  negative_width,     // have = biWidth as an unsigned image of the signed value
  pixels_truncated,   // have = bytes in the file, want = bytes the rows need
  // The enlarged image cannot be written as a BMP.
  factor_below_one,  // have = factor as an unsigned image of the signed value
  width_too_large,   // want = enlarged width in pixels
  height_too_large,  // want = enlarged height in rows
  file_too_large,    // want = enlarged file size in bytes
  // Input or output failed after both files were open (`error` set).
  read_failed,
  input_shrank,  // have = bytes read, want = bytes needed at that point
  write_failed,
  close_failed,
};

// The failures grouped by what they leave behind; each group is one public
// result code.
enum class FailureGroup : std::uint8_t {
  none,
  input_unopened,   // nothing was touched
  output_unopened,  // nothing was created or changed
  input_refused,    // both files open, nothing written
  size_refused,     // both files open, nothing written
  io_failed,        // something may have been written
};

FailureGroup group_of(Failure failure);

struct Outcome {
  Failure failure = Failure::none;
  int error = 0;                   // the failing system call's error number, 0 if none
  std::uint64_t have = 0;          // see Failure
  std::uint64_t want = 0;          // see Failure
  std::uint64_t output_bytes = 0;  // length of the complete output on success

  bool ok() const { return failure == Failure::none; }
  // The output was opened but not one byte was written to it.
  bool wrote_nothing() const {
    return group_of(failure) == FailureGroup::input_refused ||
           group_of(failure) == FailureGroup::size_refused;
  }
};

// The one way to make a failed outcome.
inline Outcome failed(Failure failure, int error = 0, std::uint64_t have = 0,
                      std::uint64_t want = 0) {
  Outcome outcome;
  outcome.failure = failure;
  outcome.error = error;
  outcome.have = have;
  outcome.want = want;
  return outcome;
}

// The public result code (3, 4, 5, 6, 7 or 999) of an outcome.
int result_code(const Outcome& outcome);

// Called after each block of output reaches the file.
struct Progress {
  void (*report)(void* context, std::uint64_t bytes_written, std::uint64_t bytes_total) = nullptr;
  void* context = nullptr;
};

// Memory for enlarged rows, owned by the caller. Larger buffers mean fewer,
// larger writes; without one a call uses kDefaultWorkBytes of its own stack.
struct WorkBuffer {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
};
constexpr std::size_t kDefaultWorkBytes = std::size_t{62} * 1024;
// Smaller caller buffers are not used: they would only add system calls.
constexpr std::size_t kMinWorkBytes = kDefaultWorkBytes;

// One of `count` parts of an enlargement, by stored rows, for a caller that
// writes one regular file with several threads at once.
struct Part {
  std::uint32_t index = 0;
  std::uint32_t count = 1;
};

// Opens `path` for reading. Fails with input_is_directory for a folder and
// input_open otherwise (`outcome.error` set). A pipe or device opens (without
// waiting for a writer) and is refused by resize_open_files.
Outcome open_input(NativePath path, FileHandle& handle);

// Opens `path` for writing, creating it (through a dangling symbolic link,
// its target) when missing, and empties a regular file. A named pipe
// without a reader fails at once with output_no_reader. Refuses with
// output_is_input, before anything is changed, when the path names the open
// `input` itself; a file this call created is removed again when the open
// fails after all.
Outcome open_output(NativePath path, FileHandle input, FileHandle& handle);

// Closes the file; fails with close_failed when the system reports an error
// (for example a delayed write error). The handle is released either way.
Outcome close_file(FileHandle handle);

// Empties a regular file (best effort), through its handle or its path.
void truncate_to_empty(FileHandle handle);
void truncate_to_empty(NativePath path);

// Enlarges the BMP in the open `input` by `factor` into the open `output`,
// written in sequence from its current position (a pipe, or a file the caller
// emptied). Checks the input's kind, headers and size first
// (input_not_regular ... pixels_truncated), then the size of the
// enlargement (factor_below_one ... file_too_large); nothing is written
// unless both pass. Read and write errors end it with read_failed,
// input_shrank or write_failed. Opens, closes and empties nothing. On
// success `output_bytes` is the length of the output.
//
// With `part` one of several, the call writes only its share of the rows, at
// their place in `output` (explicit offsets: a regular file, new and empty),
// part 0 the headers too; progress then counts this part's bytes.
Outcome resize_open_files(FileHandle input, FileHandle output, std::int32_t factor,
                          const Progress* progress = nullptr, WorkBuffer work = {}, Part part = {});

// Enlarges the BMP file `input` by `factor` into the file `output`, with the
// library's handling of the files: the input is opened first, and if that
// fails nothing else is touched; then the output (see open_output), which is
// emptied; if that fails, the input is closed. A regular output is written
// at explicit offsets and left exactly as long as the image, whatever else
// was written through its descriptor. A refused input or
// enlargement leaves the output empty and closes the output, then the input;
// an I/O failure (a failing close included) empties the output as far as
// possible; success closes the input, then the output.
Outcome resize_files(NativePath input, NativePath output, std::int32_t factor,
                     const Progress* progress = nullptr);

}  // namespace bmpresizer

#endif
