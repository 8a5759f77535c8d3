// The resize job on byte paths or open files, with a detailed outcome. This
// is the core shared by the exported function, the command-line tool and the
// tests; it prints nothing.
#ifndef BMPRESIZER_RESIZE_RESIZE_H
#define BMPRESIZER_RESIZE_RESIZE_H

#include <cstdint>

#include "file_io.h"
#include "outcome.h"
#include "replicate.h"

namespace bmpresizer {

// Enlarges the BMP in the open file `input` by `factor` into the open, empty
// file `output`, which is positioned at its start. Checks the input's headers
// and size first (Failure::not_bmp ... pixels_truncated), then the size of
// the enlargement (factor_below_one ... file_too_large); nothing is written
// unless both pass. Then writes the headers and the pixel rows; read and
// write errors end it with read_failed, input_shrank or write_failed. Opens,
// closes and truncates nothing. On success `output_bytes` of the outcome is
// the length of the output.
Outcome resize_open_files(FileHandle input, FileHandle output, std::int32_t factor,
                          const Progress* progress = nullptr);

// Enlarges the BMP file at `input_path` by `factor` into `output_path`. A
// null path stands for one that cannot be used (invalid or too long).
//
// Opens the input first: if that fails, nothing else is touched. Then opens
// the output (refusing one that is the input file itself) and empties it:
// if that fails, the input is closed. Then runs resize_open_files. A refused
// input or enlargement leaves the output empty and closes the output, then
// the input; an I/O failure (including a failing close) empties the output
// as far as possible; success closes the input, then the output.
Outcome resize_files(const char* input_path, const char* output_path, std::int32_t factor,
                     const Progress* progress = nullptr);

}  // namespace bmpresizer

#endif
