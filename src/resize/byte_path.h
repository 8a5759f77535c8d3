// Conversion of the caller's wide-character paths to the byte paths the
// platform's file system takes.
#ifndef BMPRESIZER_RESIZE_BYTE_PATH_H
#define BMPRESIZER_RESIZE_BYTE_PATH_H

#include <climits>
#include <cstddef>
#include <cwchar>

namespace bmpresizer {

// Room for the longest path the platform accepts, terminator included.
#ifdef _WIN32
// PATH_MAX counts UTF-16 units there, each of which takes at most 3 bytes.
constexpr std::size_t kPathBufferBytes = 3 * PATH_MAX;
#else
constexpr std::size_t kPathBufferBytes = PATH_MAX;
#endif

enum class PathConversion { converted, null_path, not_unicode, too_long };

// Converts the null-terminated wide string `path` to UTF-8 in `buffer`, the
// file names' encoding by convention, whatever the process locale. Wide
// characters are UTF-32 where wchar_t has 32 bits and UTF-16 where it has 16.
//
// Always leaves a null-terminated string in `buffer`: the whole path
// (converted); an empty string (null_path, or not_unicode for a lone
// surrogate or a value above U+10FFFF); or as many whole characters as fit
// (too_long), for messages only.
PathConversion to_byte_path(const wchar_t* path, char (&buffer)[kPathBufferBytes]);

}  // namespace bmpresizer

#endif
