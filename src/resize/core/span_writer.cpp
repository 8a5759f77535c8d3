#include "span_writer.h"

namespace bmpresizer {

bool SpanWriter::flush() {
  if (count_ == 0) {
    return true;
  }
  if (!output_.write(spans_, count_, offset_, error_)) {
    return false;
  }
  for (std::size_t i = 0; i < count_; ++i) {
    offset_ += spans_[i].size;
  }
  count_ = 0;
  if (progress_ != nullptr && progress_->report != nullptr &&
      !progress_->report(progress_->context, offset_ - start_, total_)) {
    cancelled_ = true;
    return false;
  }
  return true;
}

Outcome read_exactly(ByteSource& input, std::uint64_t offset, std::uint8_t* buffer,
                     std::size_t size) {
  int error = 0;
  const std::size_t got = input.read_at(offset, buffer, size, error);
  if (got == size) {
    return Outcome{};
  }
  if (error != 0) {
    return failed(Failure::read_failed, error);
  }
  return failed(Failure::input_shrank, 0, offset + got, offset + size);
}

Outcome write_failure(const SpanWriter& writer) {
  return writer.cancelled() ? failed(Failure::cancelled)
                            : failed(Failure::write_failed, writer.error());
}

Outcome copy_bytes(ByteSource& input, SpanWriter& writer, std::uint64_t from, std::uint64_t size,
                   WorkBuffer work) {
  while (size > 0) {
    const std::size_t piece = size < work.size ? static_cast<std::size_t>(size) : work.size;
    const Outcome read = read_exactly(input, from, work.data, piece);
    if (!read.ok()) {
      return read;
    }
    // The next piece overwrites the buffer.
    if (!writer.add(work.data, piece) || !writer.flush()) {
      return write_failure(writer);
    }
    from += piece;
    size -= piece;
  }
  return Outcome{};
}

}  // namespace bmpresizer
