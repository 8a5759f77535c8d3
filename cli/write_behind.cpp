#include "write_behind.h"

#include <system_error>

namespace bmpresize {

WriteBehind::~WriteBehind() {
  if (!thread_.joinable()) {
    return;
  }
  {
    std::unique_lock<std::mutex> lock(mutex_);
    wait_idle(lock);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool WriteBehind::start() {
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void WriteBehind::wait_idle(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return !in_flight_; });
}

void WriteBehind::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return in_flight_ || stopping_; });
    if (!in_flight_) {
      return;
    }
    int error = 0;
    bool written = true;
    if (!failed_) {
      // The bytes are the caller's until the next write or settle returns,
      // and it waits for this one first: no lock is needed to read them.
      lock.unlock();
      written = output_.write(spans_, count_, offset_, error);
      lock.lock();
    }
    if (!written) {
      failed_ = true;
      error_ = error;
    }
    in_flight_ = false;
    changed_.notify_all();
  }
}

bool WriteBehind::write(const bmpresizer::ByteSpan* spans, std::size_t count, std::uint64_t offset,
                        int& error) {
  std::unique_lock<std::mutex> lock(mutex_);
  wait_idle(lock);
  if (failed_) {
    error = error_;
    return false;
  }
  if (count > kMaxSpans) {
    // Rare enough to write in this thread.
    lock.unlock();
    return output_.write(spans, count, offset, error);
  }
  for (std::size_t i = 0; i < count; ++i) {
    spans_[i] = spans[i];
  }
  count_ = count;
  offset_ = offset;
  in_flight_ = true;
  lock.unlock();
  changed_.notify_all();
  return true;
}

bool WriteBehind::settle(int& error) {
  std::unique_lock<std::mutex> lock(mutex_);
  wait_idle(lock);
  error = error_;
  return !failed_;
}

void WriteBehind::reserve(std::uint64_t offset, std::uint64_t bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  wait_idle(lock);
  output_.reserve(offset, bytes);
}

bool WriteBehind::finish(std::uint64_t length, int& error) {
  return settle(error) && output_.finish(length, error);
}

}  // namespace bmpresize
