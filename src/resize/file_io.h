// The few file operations a resize needs, over the platform's own handles.
//
// Every function reports failure through its return value and leaves the
// system's error number in `error`; none allocates memory or throws.
#ifndef BMPRESIZER_RESIZE_FILE_IO_H
#define BMPRESIZER_RESIZE_FILE_IO_H

#include <cstddef>
#include <cstdint>

namespace bmpresizer {

#ifdef _WIN32
// A Windows file HANDLE, held as the integer the C runtime's _get_osfhandle
// gives; INVALID_HANDLE_VALUE is -1.
using FileHandle = std::intptr_t;
#else
using FileHandle = int;
#endif
constexpr FileHandle kNoFile = -1;

// A run of bytes to be written.
struct ByteSpan {
  const std::uint8_t* data;
  std::size_t size;
};

enum class OpenResult : std::uint8_t { opened, failed, is_directory, same_as_input };

// Opens `path` for reading. A directory is refused with is_directory (POSIX
// lets it be opened, but it holds no image).
OpenResult open_input(const char* path, FileHandle& handle, int& error);

// Opens `path` for writing, creating it if needed, and empties it. Refuses
// with same_as_input, before anything is emptied, when the path names the
// same file as the open `input` (the same path, a symbolic or a hard link).
OpenResult open_output(const char* path, FileHandle input, FileHandle& handle, int& error);

// Reads exactly `size` bytes at `offset` into `buffer`. Sets `read` to the
// bytes obtained; false on an error (`error` set) or when the file ends
// early (`error` 0).
bool read_at(FileHandle handle, std::uint64_t offset, void* buffer, std::size_t size,
             std::size_t& read, int& error);

// Writes all `count` spans, in order, at the file's current position.
bool write_spans(FileHandle handle, const ByteSpan* spans, std::size_t count, int& error);

// The size of an open file in bytes (0 for pipes and devices).
bool file_size(FileHandle handle, std::uint64_t& bytes, int& error);

// Empties an output file as far as the platform allows (best effort), through
// its open handle or, once it is closed, through its path.
void truncate_to_empty(FileHandle handle);
void truncate_to_empty(const char* path);

// Closes the file; false when the system reports a failure (for example a
// delayed write error).
bool close_file(FileHandle handle, int& error);

}  // namespace bmpresizer

#endif
