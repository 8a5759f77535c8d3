// Run-length encoded pixels (BI_RLE8, BI_RLE4 and OS/2's RLE24), read as
// they stream: checked and measured first, then enlarged into the same
// encoding or into uncompressed rows.
//
// The codes, after the format's descriptions: a count of 1 to 255 and a
// value draws that many pixels of it (in RLE4 the value's two pixels take
// turns); a zero then 0 ends the line, 1 ends the bitmap, 2 with two more
// bytes moves right and up without drawing (a delta), and 3 to 255 draws
// that many pixels stored in full (an absolute run, padded to an even
// length). Rows go from the bottom up. What no code draws is left to the
// reader's background.
#ifndef BMPRESIZER_RESIZE_RLE_H
#define BMPRESIZER_RESIZE_RLE_H

#include <cstdint>

#include "bmp_header.h"
#include "span_writer.h"

namespace bmpresizer {

// Reads all of `in`'s encoded pixels from `input` and checks what they draw:
// runs, absolute runs and deltas within their row and the image
// (rle_past_row, rle_past_image) and no code cut short by the end of the
// encoded bytes (rle_truncated). Encoded bytes that end between codes end
// the bitmap, and rows left short keep the background, as readers take
// them. Sets `encoded_bytes` to the length of the enlargement by `across` x
// `down` encoded as the input (0 with OutputForm::uncompressed, whose
// length the headers tell; UINT64_MAX beyond 64 bits). Reads through
// `work`, of any size.
Outcome measure_encoded(ByteSource& input, const InputLayout& in, std::uint32_t across,
                        std::uint32_t down, OutputForm form, WorkBuffer work,
                        std::uint64_t& encoded_bytes);

// Writes the enlargement of `in`'s encoded pixels that `out` describes to
// `writer`: encoded as the input's (out.encoded), each run `across` times as
// long, each row's codes `down` times, each delta scaled; or as uncompressed
// rows, where what no code draws is colour 0. A row's codes are read again
// for each of its copies unless its enlargement fits the buffer. Expects
// measure_encoded to have passed; an input that no longer reads as it did
// fails with input_shrank. `work` at least kMinWorkBytes; no heap.
Outcome replicate_encoded(ByteSource& input, SpanWriter& writer, const InputLayout& in,
                          const OutputLayout& out, WorkBuffer work);

}  // namespace bmpresizer

#endif
