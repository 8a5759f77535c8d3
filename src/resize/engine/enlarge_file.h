// The engine's path call: one enlargement the tool's way, which never
// destroys what it was not asked to write.
#ifndef BMPRESIZER_ENGINE_ENLARGE_FILE_H
#define BMPRESIZER_ENGINE_ENLARGE_FILE_H

#include "bmpresizer_core.h"
#include "whole_outputs.h"

namespace bmpresizer {

// How a call enlarges, from the caller's options.
struct Request {
  Factors factors;
  Kinds kinds = Kinds::every;
  OutputForm form = OutputForm::same;
  bool standard_streams = false;  // "-" names standard input and output
  bool split = false;             // a large image into a file on two threads
  const Progress* progress = nullptr;
  WorkBuffer work;  // at least kMinWorkBytes
};

// Enlarges the file `input` into `output` (see bmpresize_enlarge_file). A
// regular (or missing) output is written to a new file beside it that
// takes its place once complete; pipes, terminals and devices directly. A
// stream as input (standard input, a pipe) is first kept in a temporary
// file, as far as its headers say the image goes. With `split`, a large
// image going to a file is enlarged by two threads, each writing half of
// the rows with half of the buffer.
Outcome enlarge_file(NativePath input, NativePath output, const Request& request);

// Enlarges the caller's positional `input` into the path `output`, which
// appears whole or not at all, as enlarge_file's outputs do; `input` is read
// from the calling thread alone.
Outcome enlarge_to_path(ByteSource& input, NativePath output, const Request& request);

// The same for a sequential input whose first `head.size` bytes were read
// into `head`: kept in a temporary file first.
Outcome enlarge_sequential_to_path(SequentialSource& input, ByteSpan head, NativePath output,
                                   const Request& request);

// Reads the headers of a stream and no more (the file header and the
// information header's size, then the rest of that header), so that what
// follows an image the headers refuse is left for the stream's next
// reader. Returns the bytes read, fewer where the stream ends (`error` 0)
// or fails.
std::size_t read_headers(SequentialSource& from, Kinds kinds,
                         std::uint8_t (&head)[kHeaderPrefixBytes], int& error);

// Enlarges the sequential `input` (its first `head.size` bytes read
// already, in `head`) into `output`: kept in a temporary file first, as
// far as its headers say the image goes; headers it refuses are refused
// before anything more is read.
Outcome enlarge_sequential(SequentialSource& input, ByteSpan head, ByteSink& output,
                           const Request& request);

}  // namespace bmpresizer

#endif
