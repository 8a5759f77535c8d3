// The streams over the caller's memory.
#include <cerrno>
#include <cstring>

#include "bmpresizer_core.h"

namespace bmpresizer {

std::size_t MemorySource::read_at(std::uint64_t offset, void* buffer, std::size_t size,
                                  int& error) {
  error = 0;
  if (offset >= size_) {
    return 0;
  }
  const std::size_t left = size_ - static_cast<std::size_t>(offset);
  const std::size_t count = size < left ? size : left;
  std::memcpy(buffer, data_ + offset, count);
  return count;
}

bool MemorySink::write(const ByteSpan* spans, std::size_t count, std::uint64_t offset, int& error) {
  for (std::size_t i = 0; i < count; ++i) {
    if (offset > capacity_ || spans[i].size > capacity_ - offset) {
      error = ENOSPC;
      return false;
    }
    if (spans[i].size > 0) {
      std::memcpy(data_ + offset, spans[i].data, spans[i].size);
      offset += spans[i].size;
    }
    length_ = offset > length_ ? static_cast<std::size_t>(offset) : length_;
  }
  return true;
}

bool MemorySink::finish(std::uint64_t length, int& error) {
  if (length > capacity_) {
    error = ENOSPC;
    return false;
  }
  length_ = static_cast<std::size_t>(length);
  return true;
}

}  // namespace bmpresizer
