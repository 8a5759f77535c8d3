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

// Where the output's bytes go: in sequence, at the handle's position, or
// at explicit offsets from the start of a regular file.
struct OutputSink {
  FileHandle handle = kNoFile;
  bool positional = false;
  std::uint64_t offset = 0;  // bytes written so far
};

// Writes in sequence, as for a pipe, or a file a caller positioned.
OutputSink sequential_sink(FileHandle handle);

// Writes a regular file at explicit offsets from its start, whatever its
// descriptor's position (on POSIX; elsewhere in sequence).
bool positional_sink(FileHandle handle, OutputSink& sink, int& error);

// Writes all `count` spans, in order, after what the sink has written.
bool write_spans(OutputSink& sink, const ByteSpan* spans, std::size_t count, int& error);

// Allocates the disk space for the `bytes` a sink is about to write, from
// its offset or position, without changing the file's length: one
// allocation up front instead of one per block makes the writes markedly
// faster. Best effort: where the system cannot, the writes allocate as
// they go.
void reserve_space(const OutputSink& sink, std::uint64_t bytes);

// Leaves a positionally written file exactly as long as what was written,
// and its position after it.
bool finish_sink(const OutputSink& sink, int& error);

}  // namespace bmpresizer

#endif
