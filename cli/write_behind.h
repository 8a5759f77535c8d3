// Writing behind: the output's writes go to a thread of their own, so that
// the next rows are read and enlarged while the last are being written. On
// a machine whose writes run at the speed of copying into the page cache,
// this hides the reading and enlarging almost entirely.
#ifndef BMPRESIZE_WRITE_BEHIND_H
#define BMPRESIZE_WRITE_BEHIND_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "bmpresizer_core.h"

namespace bmpresize {

// A sink in front of `output` that hands each write to its thread and
// returns at once (see ByteSink::writes_behind); one write is in flight at a
// time. A failed write is reported by the next write, settle or finish.
class WriteBehind final : public bmpresizer::ByteSink {
 public:
  explicit WriteBehind(bmpresizer::ByteSink& output) : output_(output) {}
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Starts the writing thread; false when the system gives none (then use
  // the output directly).
  bool start();

  bool positional() const override { return output_.positional(); }
  bool write(const bmpresizer::ByteSpan* spans, std::size_t count, std::uint64_t offset,
             int& error) override;
  void reserve(std::uint64_t offset, std::uint64_t bytes) override;
  bool finish(std::uint64_t length, int& error) override;
  bool writes_behind() const override { return true; }
  bool settle(int& error) override;

 private:
  // As many spans as the core gathers into one write; a longer list is
  // written at once instead.
  static constexpr std::size_t kMaxSpans = 64;

  void run();
  // Waits, with the lock held, until no write is in flight.
  void wait_idle(std::unique_lock<std::mutex>& lock);

  bmpresizer::ByteSink& output_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bmpresizer::ByteSpan spans_[kMaxSpans] = {};
  std::size_t count_ = 0;
  std::uint64_t offset_ = 0;
  bool in_flight_ = false;
  bool stopping_ = false;
  bool failed_ = false;  // a write failed (with error_): nothing more is written
  int error_ = 0;
  std::thread thread_;
};

}  // namespace bmpresize

#endif
