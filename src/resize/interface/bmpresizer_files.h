// The file layer: everything the library's frame and the bmpresize tool do
// with files, on the platform's own paths and handles (POSIX descriptors or
// Windows HANDLEs). Interrupted and short transfers are handled here, once
// for reading and once for writing; nothing here allocates memory or throws.
// Failures say which system call failed through `error` (errno, or
// GetLastError on Windows).
#ifndef BMPRESIZER_FILES_H
#define BMPRESIZER_FILES_H

#include <cstddef>
#include <cstdint>

#include "bmpresizer_core.h"

namespace bmpresizer {

#ifdef _WIN32
// Paths as Windows keeps them (UTF-16); handles are HANDLEs held as integers
// (INVALID_HANDLE_VALUE is -1).
using PathChar = wchar_t;
using FileHandle = std::intptr_t;
constexpr std::size_t kMaxPathUnits = 4096;
#else
// Paths as the file system takes them (bytes, UTF-8 by convention).
using PathChar = char;
using FileHandle = int;
constexpr std::size_t kMaxPathUnits = 4096;  // PATH_MAX on Linux
#endif
// A null-terminated path; null stands for one that cannot be used.
using NativePath = const PathChar*;
constexpr FileHandle kNoFile = -1;

// Room for the names that opening an output works out on the way (where a
// chain of symbolic links ends), lent by the caller: a path is too large for
// the stack of a small host thread.
struct PathScratch {
#ifndef _WIN32
  PathChar made[kMaxPathUnits];
  PathChar link[kMaxPathUnits];
#endif
};

// ---- Streams over open files --------------------------------------------

// An open regular file read as a byte source.
class FileSource final : public ByteSource {
 public:
  // Reads `handle` from now on, its bytes from `from` on as the source's
  // (a file handed over at a position, as standard input may be). Fails
  // with input_not_regular for a pipe, device or socket (nothing can be
  // read twice there), and with read_failed when the system cannot
  // describe the file.
  Outcome attach(FileHandle handle, std::uint64_t from = 0);
  std::uint64_t size() const override { return size_; }
  std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t size, int& error) override;

 private:
  FileHandle handle_ = kNoFile;
  std::uint64_t from_ = 0;
  std::uint64_t size_ = 0;
};

// Where a regular file's handle stands, and moving it (false where the
// handle cannot tell or move: a pipe).
bool position_of(FileHandle handle, std::uint64_t& position);
bool move_to(FileHandle handle, std::uint64_t position);

// An open file written as a byte sink.
class FileSink final : public ByteSink {
 public:
  // Writes `handle` from now on: a regular file at explicit offsets from its
  // start (unless `at_position`: then, like a pipe, at the handle's own
  // position, as a file a shell opened for the caller), anything else in
  // sequence. False with `error` set when the system cannot describe it.
  bool attach(FileHandle handle, bool at_position, int& error);
  // Writes `handle`, a regular file this process has just made and alone
  // holds (an output not yet in place), at explicit offsets: nothing to ask
  // of it first, nothing to cut or reposition at the end.
  void attach_new(FileHandle handle);
  bool positional() const override { return positional_; }
  bool write(const ByteSpan* spans, std::size_t count, std::uint64_t offset, int& error) override;
  // Allocates the disk space ahead, without changing the file's length:
  // one allocation instead of one per block makes the writes markedly
  // faster. Best effort.
  void reserve(std::uint64_t offset, std::uint64_t bytes) override;
  // A positionally written file is cut to `length` bytes and its position
  // left after them, as sequential writes leave it.
  bool finish(std::uint64_t length, int& error) override;

 private:
  FileHandle handle_ = kNoFile;
  bool positional_ = false;
  bool new_file_ = false;
};

// Writes all `count` spans at the handle's position (a console line).
bool write_all(FileHandle handle, const ByteSpan* spans, std::size_t count, int& error);

// Reads `size` bytes at the handle's position, fewer only where the stream
// ends (`error` 0) or fails (`error` set); returns the bytes read.
std::size_t read_all(FileHandle handle, void* buffer, std::size_t size, int& error);

// ---- Opening and closing, the library's way ------------------------------

// Opens `path` for reading. Fails with input_is_directory for a folder and
// input_open otherwise (`outcome.error` set). A pipe or device opens without
// waiting for a writer.
Outcome open_input(NativePath path, FileHandle& handle);

// Opens `path` for writing, creating it (through a dangling symbolic link,
// its target) when missing, and empties a regular file. A named pipe
// without a reader fails at once with output_no_reader. Refuses with
// output_is_input, before anything is changed, when the path names the open
// `input` itself; a file this call created is removed again when the open
// fails after all.
Outcome open_output(NativePath path, FileHandle input, FileHandle& handle, PathScratch& scratch);

// Closes the file; fails with close_failed when the system reports an error
// (a delayed write error, say). The handle is released either way.
Outcome close_file(FileHandle handle);

// Empties a regular file (best effort), through its handle or its path.
void truncate_to_empty(FileHandle handle);
void truncate_to_empty(NativePath path);

// ---- What paths and handles name -----------------------------------------

struct FileFacts {
  int error = 0;  // why the file could not be looked at (it may not exist)
  bool regular = false;
  bool directory = false;
  std::uint64_t size = 0;  // of a regular file
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
};

// What `path` names (after its symbolic links) or `handle` is.
FileFacts facts_of(NativePath path);
FileFacts facts_of(FileHandle handle);

// Whether two looked-at files are one (two names, or a name and a handle).
bool same_file(const FileFacts& a, const FileFacts& b);

FileHandle standard_input();
FileHandle standard_output();
FileHandle standard_error();

}  // namespace bmpresizer

#endif
