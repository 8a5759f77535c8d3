// The file operations behind the core, over the platform's own handles: the
// opening and closing that bmpresizer_core.h declares, and the reading and
// writing that only the core does. None allocates memory or throws; each
// reports failure through its result and leaves the system's error number in
// `error`.
#ifndef BMPRESIZER_RESIZE_FILE_IO_H
#define BMPRESIZER_RESIZE_FILE_IO_H

#include <cstddef>
#include <cstdint>

#include "bmpresizer_core.h"

namespace bmpresizer {

// A run of bytes to be written.
struct ByteSpan {
  const std::uint8_t* data;
  std::size_t size;
};

// What the core needs to know of an input before reading it.
struct InputInfo {
  bool regular = false;     // a regular file; pipes and devices hold no image
  std::uint64_t bytes = 0;  // its length
};

bool describe_input(FileHandle handle, InputInfo& info, int& error);

// Reads exactly `size` bytes at `offset` into `buffer`. Sets `read` to the
// bytes obtained; false on an error (`error` set) or when the file ends
// early (`error` 0).
bool read_at(FileHandle handle, std::uint64_t offset, void* buffer, std::size_t size,
             std::size_t& read, int& error);

// Writes all `count` spans, in order, at the file's current position.
bool write_spans(FileHandle handle, const ByteSpan* spans, std::size_t count, int& error);

}  // namespace bmpresizer

#endif
