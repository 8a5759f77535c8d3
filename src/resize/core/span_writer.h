// Output in batches of spans, and the reads and copies that go with it:
// what every way of writing pixel data shares.
#ifndef BMPRESIZER_RESIZE_SPAN_WRITER_H
#define BMPRESIZER_RESIZE_SPAN_WRITER_H

#include <cstddef>
#include <cstdint>

#include "bmpresizer_core.h"

namespace bmpresizer {

// The working buffer holds a batch of enlarged rows. Each system call writes
// up to factor times the buffer, and fewer, larger writes are markedly
// faster: callers lend a large buffer; 64 spans cover a batch of large rows
// factor times over.
constexpr std::size_t kMaxSpans = 64;

// Collects runs of output bytes and hands them to the sink in batches.
// Runs that continue the previous one are merged. The bytes a span points
// at must stay as they are until the next flush.
class SpanWriter {
 public:
  // Reports progress as the bytes this writer wrote, of `total`.
  // Writes from `offset` on.
  SpanWriter(ByteSink& output, std::uint64_t offset, const Progress* progress, std::uint64_t total)
      : output_(output), progress_(progress), start_(offset), offset_(offset), total_(total) {}

  // False when a flush it needed failed.
  bool add(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
      return true;
    }
    if (count_ > 0) {
      ByteSpan& last = spans_[count_ - 1];
      if (last.data + last.size == data) {
        last.size += size;
        return true;
      }
    }
    if (count_ == kMaxSpans && !flush()) {
      return false;
    }
    spans_[count_++] = ByteSpan{data, size};
    return true;
  }

  // Writes everything collected; must run before the bytes it points at change.
  bool flush();

  int error() const { return error_; }
  // The caller's progress asked to stop (rather than the sink failing).
  bool cancelled() const { return cancelled_; }

 private:
  ByteSink& output_;
  const Progress* progress_;
  std::uint64_t start_;
  std::uint64_t offset_;
  std::uint64_t total_;
  ByteSpan spans_[kMaxSpans] = {};
  std::size_t count_ = 0;
  int error_ = 0;
  bool cancelled_ = false;
};

// Reads `size` bytes at `offset`, mapping a short read to input_shrank: the
// size was checked against the file before, so the file changed meanwhile.
Outcome read_exactly(ByteSource& input, std::uint64_t offset, std::uint8_t* buffer,
                     std::size_t size);

// Why `writer` stopped: cancelled, or write_failed with the sink's error.
Outcome write_failure(const SpanWriter& writer);

// Copies `size` bytes of the input from `from` through the buffer.
Outcome copy_bytes(ByteSource& input, SpanWriter& writer, std::uint64_t from, std::uint64_t size,
                   WorkBuffer work);

}  // namespace bmpresizer

#endif
