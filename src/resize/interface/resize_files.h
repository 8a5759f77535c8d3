// The library's whole job on two paths: the core between the files that the
// file layer opens, in the library's order. Two steps, so that a call holds
// the room for its paths only while it opens the files.
#ifndef BMPRESIZER_RESIZE_FILES_H
#define BMPRESIZER_RESIZE_FILES_H

#include <cstdint>

#include "bmpresizer_core.h"
#include "bmpresizer_files.h"

namespace bmpresizer {

struct FilePair {
  FileHandle input = kNoFile;
  FileHandle output = kNoFile;
};

// Opens the BMP file `input`, then the file `output` (see open_output),
// which is emptied. If the input cannot be opened nothing else is touched;
// if the output cannot, the input is closed again. On success both are open
// in `files`.
Outcome open_files(NativePath input, NativePath output, PathScratch& scratch, FilePair& files);

// Enlarges the open input by `factor` into the open output and closes both.
// A regular output is written at explicit offsets and left exactly as long
// as the image, whatever else was written through its descriptor. A refused
// input or enlargement leaves the output empty and closes the output, then
// the input; an I/O failure empties the output as far as possible; success
// closes the input, then the output. A failing close of the output (a
// delayed write error) sets `empty_by_name`: the output can then be emptied
// only through its name, which the caller does.
Outcome resize_open_files(const FilePair& files, std::int32_t factor, WorkBuffer work,
                          bool& empty_by_name);

// Both steps on paths the file system takes as they are, with memory
// borrowed from the library's rooms (see call_memory.h).
Outcome resize_files(NativePath input, NativePath output, std::int32_t factor);

}  // namespace bmpresizer

#endif
