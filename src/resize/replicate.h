// Pixel replication: the output's pixel data, streamed from the input's.
#ifndef BMPRESIZER_RESIZE_REPLICATE_H
#define BMPRESIZER_RESIZE_REPLICATE_H

#include <cstddef>
#include <cstdint>

#include "bmp_header.h"
#include "file_io.h"
#include "outcome.h"

namespace bmpresizer {

// Bytes of the working buffer (on the stack) that holds enlarged rows. An
// enlarged row longer than this is written in pieces, from the stored row
// read again for each repetition.
constexpr std::size_t kReplicateBufferBytes = std::size_t{62} * 1024;

// Called after each block of output reaches the file.
struct Progress {
  void (*report)(void* context, std::uint64_t bytes_written, std::uint64_t bytes_total) = nullptr;
  void* context = nullptr;
};

// Writes the enlarged pixel rows of `output_layout` to `output`, which is
// positioned just after the written headers, reading the stored rows of
// `input_layout` from `input` at byte 54 onwards. Every pixel is repeated
// factor times across, every stored row factor times down, in stored order;
// each output row ends in zero padding. The input's padding bytes and
// anything after its last row are never read.
//
// Uses one fixed working buffer on the stack (under 64 KiB with its span
// list) and no heap. A row whose enlargement fits the buffer is read once and
// written factor times; a longer row is read again for each repetition.
// Fails with read_failed, input_shrank or write_failed; `progress` may be null.
Outcome replicate_rows(FileHandle input, FileHandle output, const InputLayout& input_layout,
                       const OutputLayout& output_layout, const Progress* progress);

}  // namespace bmpresizer

#endif
