#include "text.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace bmpresizer {

Text::Text(char* buffer, std::size_t size) : buffer_(buffer), size_(size) {
  if (size_ > 0) {
    buffer_[0] = '\0';
  }
}

Text& Text::add(const char* text, std::size_t size) {
  if (length_ + 1 < size_) {
    const std::size_t room = size_ - 1 - length_;
    const std::size_t copied = size < room ? size : room;
    std::memcpy(buffer_ + length_, text, copied);
    buffer_[length_ + copied] = '\0';
  }
  length_ += size;
  return *this;
}

Text& Text::add(const char* text) { return text == nullptr ? *this : add(text, std::strlen(text)); }

Text& Text::add(char c) { return add(&c, 1); }

Text& Text::number(std::uint64_t value) {
  char digits[24];
  const int n = std::snprintf(digits, sizeof digits, "%" PRIu64, value);
  return add(digits, n > 0 ? static_cast<std::size_t>(n) : 0);
}

Text& Text::signed_number(std::int64_t value) {
  char digits[24];
  const int n = std::snprintf(digits, sizeof digits, "%" PRId64, value);
  return add(digits, n > 0 ? static_cast<std::size_t>(n) : 0);
}

Text& Text::human_bytes(double bytes) {
  const char* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (bytes >= 1024.0 && unit < 4) {
    bytes /= 1024.0;
    ++unit;
  }
  char text[32];
  const int n =
      std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
  return add(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace bmpresizer
