// The caller's wide-character paths as the byte paths a POSIX file system
// takes. (Windows opens the wide paths as they are.)
#ifndef BMPRESIZER_RESIZE_WIDE_PATH_H
#define BMPRESIZER_RESIZE_WIDE_PATH_H

#include <climits>
#include <cstddef>
#include <cwchar>

namespace bmpresizer {

// Room for the longest path the system accepts, terminator included.
constexpr std::size_t kPathBufferBytes = PATH_MAX;

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

// The UTF-8 of `path` from its unit `at` on, as many whole characters as
// fit `room` bytes at `out` (at least 4), `at` moved past them: a path of
// any length shown a piece at a time. Returns the bytes written, 0 at the
// end. A unit that is no character is shown as U+FFFD.
std::size_t next_byte_piece(const wchar_t* path, std::size_t& at, char* out, std::size_t room);

}  // namespace bmpresizer

#endif
