// What the POSIX file layer's two halves share: the library's half
// (files_posix.cpp) and the tool's outputs (whole_output_posix.cpp).
#ifndef BMPRESIZER_FILES_POSIX_FILES_H
#define BMPRESIZER_FILES_POSIX_FILES_H

#include <cstddef>
#include <cstdint>

#include "bmpresizer_files.h"

namespace bmpresizer {

// `fd` moved to a number above 2 (close-on-exec kept): a library call runs
// in someone else's process, which may have closed its standard descriptors,
// and whatever it prints there next must not land in a file of ours. -1
// with errno set if that fails, and `fd` is closed then.
int above_stdio(int fd);

// Clears O_NONBLOCK, which only kept the open of a named pipe from waiting:
// reads and writes wait as usual.
void make_blocking(int fd);

// Reads up to `size` bytes at `offset` (`positional`) or at the position,
// resuming after interruptions and short reads; returns the bytes read,
// fewer only at the end of the file (`error` 0) or on an error (`error`
// set).
std::size_t read_fully(int fd, bool positional, std::uint64_t offset, void* buffer,
                       std::size_t size, int& error);

// Writes all `count` spans at `offset` (`positional`) or at the position,
// resuming after interruptions and short writes.
bool write_fully(int fd, bool positional, std::uint64_t offset, const ByteSpan* spans,
                 std::size_t count, int& error);

// Follows the symbolic links of `path` to the name that is no link (which
// may not exist) into `target`: the file a rename must replace or a create
// must make; `link` is room for reading each link. False with `error` set
// when a link cannot be read or the chain is too long.
bool follow_links(const char* path, char (&target)[kMaxPathUnits], char (&link)[kMaxPathUnits],
                  int& error);

}  // namespace bmpresizer

#endif
