// The library's whole job on two paths: the core between the files that the
// file layer opens, in the library's order.
#ifndef BMPRESIZER_RESIZE_FILES_H
#define BMPRESIZER_RESIZE_FILES_H

#include <cstdint>

#include "bmpresizer_core.h"
#include "bmpresizer_files.h"

namespace bmpresizer {

// Enlarges the BMP file `input` by `factor` into the file `output`: the
// input is opened first, and if that fails nothing else is touched; then
// the output (see open_output), which is emptied; if that fails, the input
// is closed. A regular output is written at explicit offsets and left
// exactly as long as the image, whatever else was written through its
// descriptor. A refused input or enlargement leaves the output empty and
// closes the output, then the input; an I/O failure (a failing close
// included) empties the output as far as possible; success closes the
// input, then the output.
Outcome resize_files(NativePath input, NativePath output, std::int32_t factor,
                     const Progress* progress = nullptr);

}  // namespace bmpresizer

#endif
