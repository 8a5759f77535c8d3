// The library's handling of the two files around a resize: what is opened
// in which order, what is emptied and what is closed first.
#include "resize_files.h"

#include "call_memory.h"

namespace bmpresizer {

Outcome open_files(NativePath input, NativePath output, PathScratch& scratch, FilePair& files) {
  const Outcome opened_input = open_input(input, files.input);
  if (!opened_input.ok()) {
    return opened_input;
  }
  const Outcome opened_output = open_output(output, files.input, files.output, scratch);
  if (!opened_output.ok()) {
    close_file(files.input);
    files.input = kNoFile;
  }
  return opened_output;
}

Outcome resize_open_files(const FilePair& files, std::int32_t factor, WorkBuffer work,
                          bool& empty_by_name) {
  empty_by_name = false;
  FileSink sink;
  FileSource source;
  int error = 0;
  Outcome outcome = sink.attach(files.output, false, error) ? source.attach(files.input)
                                                            : failed(Failure::write_failed, error);
  if (outcome.ok()) {
    outcome = resize(source, sink, factor, nullptr, work);
  }
  if (outcome.wrote_nothing()) {
    // The emptied output stays behind.
    close_file(files.output);
    close_file(files.input);
    return outcome;
  }
  if (!outcome.ok()) {
    truncate_to_empty(files.output);
    close_file(files.output);
    close_file(files.input);
    return outcome;
  }
  const Outcome closed_input = close_file(files.input);
  if (!closed_input.ok()) {
    truncate_to_empty(files.output);
    close_file(files.output);
    return closed_input;
  }
  // A delayed write error may surface only here, after the data has left
  // this process; the output then cannot be trusted.
  const Outcome closed_output = close_file(files.output);
  if (!closed_output.ok()) {
    empty_by_name = true;
    return closed_output;
  }
  return outcome;
}

Outcome resize_files(NativePath input, NativePath output, std::int32_t factor) {
  FilePair files;
  Outcome outcome;
#ifdef _WIN32
  // Windows follows links itself: no room for names, so no room to wait for.
  PathScratch no_names;
  outcome = open_files(input, output, no_names, files);
#else
  {
    const BorrowedPaths paths;
    outcome = open_files(input, output, paths.room().scratch, files);
  }
#endif
  if (!outcome.ok()) {
    return outcome;
  }
  const BorrowedWork work;
  bool empty_by_name = false;
  outcome = resize_open_files(files, factor, work.buffer(), empty_by_name);
  if (empty_by_name) {
    truncate_to_empty(output);
  }
  return outcome;
}

}  // namespace bmpresizer
