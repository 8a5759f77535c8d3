// Pixel replication: the output's pixel data, streamed from the input's,
// with what comes before and after it.
#ifndef BMPRESIZER_RESIZE_REPLICATE_H
#define BMPRESIZER_RESIZE_REPLICATE_H

#include <cstddef>
#include <cstdint>

#include "bmp_header.h"
#include "bmpresizer_core.h"

namespace bmpresizer {

// What a call writes besides the rows: `headers` (which may be empty),
// then `prefix_bytes` of the input from `prefix_from` (the colour table and
// whatever else lies before the pixels), the rows, and `suffix_bytes` of
// the input from `suffix_from` (a profile after the pixels).
struct Surroundings {
  ByteSpan headers{nullptr, 0};
  std::uint64_t prefix_from = 0;
  std::uint64_t prefix_bytes = 0;
  std::uint64_t suffix_from = 0;
  std::uint64_t suffix_bytes = 0;
};

// Writes `around`'s headers and prefix, then the enlarged pixel rows of
// `output_layout`, then `around`'s suffix, to `output` from `offset` on,
// reading the stored rows of `input_layout` from `input`, from its
// first_row_at onwards. Progress counts the bytes this call writes. (The
// headers go out with the first rows where nothing lies between them: one
// write fewer.) Every pixel is repeated `across` times, every stored
// row `down` times, in stored order; each output row ends in zero
// padding, and a row of pixels smaller than a byte in zero bits. The input's
// padding and anything after its last row are never read.
//
// Enlarges rows in `work`, or without one (or with one smaller than
// kMinWorkBytes) in kDefaultWorkBytes of its own stack; no heap. A row whose
// enlargement fits the buffer is read once and written `down` times; a longer
// row is read again for each repetition, piece by piece. Fails with
// read_failed, input_shrank, write_failed or cancelled (by `progress`); `progress` may be null.
Outcome replicate_rows(ByteSource& input, ByteSink& output, std::uint64_t offset,
                       const Surroundings& around, const InputLayout& input_layout,
                       const OutputLayout& output_layout, const Progress* progress,
                       WorkBuffer work);

}  // namespace bmpresizer

#endif
