// The caller's callbacks (bmpresize_source, bmpresize_sink) as the core's
// streams. A short count from a read is taken as more to come; only 0 ends.
#ifndef BMPRESIZER_ENGINE_CALLBACK_STREAMS_H
#define BMPRESIZER_ENGINE_CALLBACK_STREAMS_H

#include "bmpresize.h"
#include "bmpresizer_core.h"
#include "whole_outputs.h"

namespace bmpresizer {

// The caller's positional reads as a byte source.
class CallbackSource final : public ByteSource {
 public:
  explicit CallbackSource(const bmpresize_source& source) : source_(source) {}
  std::uint64_t size() const override { return source_.size; }
  std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t size, int& error) override;

 private:
  const bmpresize_source& source_;
};

// The caller's sequential reads.
class CallbackReader final : public SequentialSource {
 public:
  explicit CallbackReader(const bmpresize_source& source) : source_(source) {}
  std::size_t read(void* buffer, std::size_t size, int& error) override;

 private:
  const bmpresize_source& source_;
};

// The caller's write function as a byte sink, in order.
class CallbackSink final : public ByteSink {
 public:
  explicit CallbackSink(const bmpresize_sink& sink) : sink_(sink) {}
  bool positional() const override { return false; }
  bool write(const ByteSpan* spans, std::size_t count, std::uint64_t offset, int& error) override;

 private:
  const bmpresize_sink& sink_;
};

}  // namespace bmpresizer

#endif
