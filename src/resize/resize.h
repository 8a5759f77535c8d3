// The resize job on an open input and an output sink: what
// resize_open_files and resize_files share.
#ifndef BMPRESIZER_RESIZE_RESIZE_H
#define BMPRESIZER_RESIZE_RESIZE_H

#include <cstdint>

#include "bmpresizer_core.h"
#include "file_io.h"

namespace bmpresizer {

// resize_open_files, writing through `output`; a positional sink is left
// exactly as long as the image. A part of several writes through a
// positional sink from its own place and leaves the length alone.
Outcome resize_into(FileHandle input, OutputSink& output, std::int32_t factor,
                    const Progress* progress, WorkBuffer work, Part part);

}  // namespace bmpresizer

#endif
