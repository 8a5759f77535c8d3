// The library's handling of the two files around a resize: what is opened
// in which order, what is emptied and what is closed first.
#include "resize_files.h"

namespace bmpresizer {

Outcome resize_files(NativePath input_path, NativePath output_path, std::int32_t factor,
                     const Progress* progress) {
  FileHandle input = kNoFile;
  const Outcome opened_input = open_input(input_path, input);
  if (!opened_input.ok()) {
    return opened_input;
  }
  FileHandle output = kNoFile;
  const Outcome opened_output = open_output(output_path, input, output);
  if (!opened_output.ok()) {
    close_file(input);
    return opened_output;
  }

  FileSink sink;
  FileSource source;
  int error = 0;
  Outcome outcome = sink.attach(output, false, error) ? source.attach(input)
                                                      : failed(Failure::write_failed, error);
  if (outcome.ok()) {
    outcome = resize(source, sink, factor, progress);
  }
  if (outcome.wrote_nothing()) {
    // The emptied output stays behind.
    close_file(output);
    close_file(input);
    return outcome;
  }
  if (!outcome.ok()) {
    truncate_to_empty(output);
    close_file(output);
    close_file(input);
    return outcome;
  }
  const Outcome closed_input = close_file(input);
  if (!closed_input.ok()) {
    truncate_to_empty(output);
    close_file(output);
    return closed_input;
  }
  // A delayed write error may surface only here, after the data has left
  // this process; the output then cannot be trusted.
  const Outcome closed_output = close_file(output);
  if (!closed_output.ok()) {
    truncate_to_empty(output_path);
    return closed_output;
  }
  return outcome;
}

}  // namespace bmpresizer
