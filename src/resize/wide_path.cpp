#include "wide_path.h"

#include <cstdint>
#include <type_traits>

namespace bmpresizer {
namespace {

constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;

// Wide characters as code units: wchar_t is signed on some platforms, and a
// negative unit must not pass for a small code point.
std::uint32_t unit_at(const wchar_t* path, std::size_t i) {
  return static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(path[i]));
}

bool is_high_surrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Reads one code point starting at `path[i]`, advancing `i`; false if the
// wide string holds no valid code point there.
bool next_code_point(const wchar_t* path, std::size_t& i, std::uint32_t& code_point) {
  const std::uint32_t unit = unit_at(path, i++);
  if (sizeof(wchar_t) == 2 && is_high_surrogate(unit)) {
    const std::uint32_t low = unit_at(path, i);
    if (!is_low_surrogate(low)) {
      return false;
    }
    ++i;
    code_point = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    return true;
  }
  if (is_high_surrogate(unit) || is_low_surrogate(unit) || unit > kMaxCodePoint) {
    return false;
  }
  code_point = unit;
  return true;
}

std::size_t encode_utf8(std::uint32_t code_point, char (&bytes)[4]) {
  if (code_point < 0x80) {
    bytes[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (code_point >> 6));
    bytes[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (code_point >> 12));
    bytes[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 3;
  }
  bytes[0] = static_cast<char>(0xF0 | (code_point >> 18));
  bytes[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
  bytes[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  bytes[3] = static_cast<char>(0x80 | (code_point & 0x3F));
  return 4;
}

}  // namespace

PathConversion to_byte_path(const wchar_t* path, char (&buffer)[kPathBufferBytes]) {
  buffer[0] = '\0';
  if (path == nullptr) {
    return PathConversion::null_path;
  }
  std::size_t used = 0;
  bool too_long = false;
  for (std::size_t i = 0; path[i] != L'\0';) {
    std::uint32_t code_point = 0;
    if (!next_code_point(path, i, code_point)) {
      buffer[0] = '\0';
      return PathConversion::not_unicode;
    }
    char bytes[4];
    const std::size_t count = encode_utf8(code_point, bytes);
    // Keep converting after the buffer is full: an invalid character later
    // on still makes the whole path unusable.
    if (too_long || used + count >= kPathBufferBytes) {
      too_long = true;
      continue;
    }
    for (std::size_t k = 0; k < count; ++k) {
      buffer[used++] = bytes[k];
    }
  }
  buffer[used] = '\0';
  return too_long ? PathConversion::too_long : PathConversion::converted;
}

std::size_t next_byte_piece(const wchar_t* path, std::size_t& at, char* out, std::size_t room) {
  std::size_t used = 0;
  while (path[at] != L'\0') {
    std::size_t i = at;
    std::uint32_t code_point = 0;
    if (!next_code_point(path, i, code_point)) {
      code_point = 0xFFFD;  // shown as the replacement character
    }
    char bytes[4];
    const std::size_t count = encode_utf8(code_point, bytes);
    if (used + count > room) {
      break;
    }
    for (std::size_t k = 0; k < count; ++k) {
      out[used++] = bytes[k];
    }
    at = i;
  }
  return used;
}

}  // namespace bmpresizer
