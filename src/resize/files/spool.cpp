// A stream kept in a temporary file, the same on every platform.
#include "whole_outputs.h"

namespace bmpresizer {

bool spool_to_temporary(SequentialSource& from, ByteSpan prefix, std::uint64_t limit,
                        WorkBuffer buffer, FileHandle& copy, int& error) {
  FileHandle file = kNoFile;
  if (!create_temporary_file(file, error)) {
    return false;
  }
  FileSink sink;
  sink.attach_new(file);
  error = 0;
  bool kept = sink.write(&prefix, 1, 0, error);
  for (std::uint64_t at = prefix.size; kept && at < limit;) {
    const std::uint64_t left = limit - at;
    const std::size_t want = left < buffer.size ? static_cast<std::size_t>(left) : buffer.size;
    const ByteSpan got{buffer.data, from.read(buffer.data, want, error)};
    kept = error == 0 && sink.write(&got, 1, at, error);
    at += got.size;
    if (got.size < want) {
      break;  // the stream ended
    }
  }
  if (!kept) {
    close_file(file);
    return false;
  }
  copy = file;
  return true;
}

}  // namespace bmpresizer
