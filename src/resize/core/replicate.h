// Pixel replication: the output's pixel data, streamed from the input's.
#ifndef BMPRESIZER_RESIZE_REPLICATE_H
#define BMPRESIZER_RESIZE_REPLICATE_H

#include <cstddef>
#include <cstdint>

#include "bmp_header.h"
#include "bmpresizer_core.h"

namespace bmpresizer {

// Writes `headers` (which may be empty), then the enlarged pixel rows of
// `output_layout`, to `output` from `offset` on, reading the stored rows of `input_layout`
// from `input`, from its first_row_at onwards. Progress counts the bytes
// this call writes. (The headers go out with the first rows: one write fewer, and
// the ones that follow carry whole rows.) Every pixel is repeated
// factor times across, every stored row factor times down, in stored order;
// each output row ends in zero padding. The input's padding bytes and
// anything after its last row are never read.
//
// Enlarges rows in `work`, or without one (or with one smaller than
// kMinWorkBytes) in kDefaultWorkBytes of its own stack; no heap. A row whose
// enlargement fits the buffer is read once and written factor times; a longer
// row is read again for each repetition, piece by piece. Fails with
// read_failed, input_shrank or write_failed; `progress` may be null.
Outcome replicate_rows(ByteSource& input, ByteSink& output, std::uint64_t offset, ByteSpan headers,
                       const InputLayout& input_layout, const OutputLayout& output_layout,
                       const Progress* progress, WorkBuffer work);

}  // namespace bmpresizer

#endif
