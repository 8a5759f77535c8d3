// What the Windows file layer's two halves share: the library's half
// (files_win32.cpp) and the tool's outputs (whole_output_win32.cpp).
#ifndef BMPRESIZER_FILES_WIN32_FILES_H
#define BMPRESIZER_FILES_WIN32_FILES_H

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "bmpresizer_files.h"

namespace bmpresizer {

inline HANDLE handle_of(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
inline FileHandle file_of(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }
inline int last_error() { return static_cast<int>(GetLastError()); }

// Reads up to `size` bytes at `offset` (`positional`) or at the position,
// resuming after short reads; returns the bytes read, fewer only at the end
// of the file or pipe (`error` 0) or on an error (`error` set).
std::size_t read_fully(HANDLE file, bool positional, std::uint64_t offset, void* buffer,
                       std::size_t size, int& error);

// Writes all `count` spans at `offset` (`positional`) or at the position,
// resuming after short writes.
bool write_fully(HANDLE file, bool positional, std::uint64_t offset, const ByteSpan* spans,
                 std::size_t count, int& error);

}  // namespace bmpresizer

#endif
