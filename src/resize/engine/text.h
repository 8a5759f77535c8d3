// Text built in the caller's buffer, as snprintf fills one: whatever does
// not fit is counted but not written, and the buffer always ends in a zero
// byte. No heap, no exceptions.
#ifndef BMPRESIZER_ENGINE_TEXT_H
#define BMPRESIZER_ENGINE_TEXT_H

#include <cstddef>
#include <cstdint>

namespace bmpresizer {

class Text {
 public:
  // `size` may be 0 (then `buffer` may be null): only the length is counted.
  Text(char* buffer, std::size_t size);

  Text& add(const char* text);
  Text& add(const char* text, std::size_t size);
  Text& add(char c);
  Text& number(std::uint64_t value);
  Text& signed_number(std::int64_t value);
  // A size for people: "512 bytes", "1.5 KiB", "4.2 GiB".
  Text& human_bytes(double bytes);

  // The whole text's length, also what did not fit.
  std::size_t length() const { return length_; }

 private:
  char* buffer_;
  std::size_t size_;
  std::size_t length_ = 0;
};

}  // namespace bmpresizer

#endif
