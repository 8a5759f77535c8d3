// The file operations on Windows handles. Paths are UTF-16 and opened
// through the wide-character API, so that any name the file system holds
// can be opened whatever the ANSI code page. `error` receives the system's
// error code (GetLastError).
//
// A HANDLE is never shared with the C runtime's descriptors 0-2, so nothing
// printed by another thread can end up in an output.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <climits>

#include "file_io.h"

namespace bmpresizer {
namespace {

// The largest transfer handed to one ReadFile or WriteFile call.
constexpr DWORD kMaxTransfer = 1u << 30;

HANDLE handle_of(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle file_of(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }
int last_error() { return static_cast<int>(GetLastError()); }

// Whether two handles are the same file. Devices (NUL, CON) and pipes have
// no file information: such a handle is no file on a volume, so it cannot
// be the same as any other.
bool same_file(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION a_info{};
  BY_HANDLE_FILE_INFORMATION b_info{};
  if (!GetFileInformationByHandle(a, &a_info) || !GetFileInformationByHandle(b, &b_info)) {
    return false;
  }
  return a_info.dwVolumeSerialNumber == b_info.dwVolumeSerialNumber &&
         a_info.nFileIndexHigh == b_info.nFileIndexHigh &&
         a_info.nFileIndexLow == b_info.nFileIndexLow;
}

}  // namespace

Outcome open_input(NativePath path, FileHandle& handle) {
  if (path == nullptr) {
    return failed(Failure::input_path_invalid);
  }
  // Others may go on reading, writing or renaming it meanwhile, as on POSIX.
  const HANDLE file =
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const int error = last_error();
    // Windows will not open a folder as a file; say so.
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return failed(Failure::input_is_directory, error);
    }
    return failed(Failure::input_open, error);
  }
  handle = file_of(file);
  return Outcome{};
}

Outcome open_output(NativePath path, FileHandle input, FileHandle& handle) {
  if (path == nullptr) {
    return failed(Failure::output_path_invalid);
  }
  // Opened without truncating: the input may be this very file under another
  // name, and emptying it before the comparison would destroy it.
  const HANDLE file =
      CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return failed(Failure::output_open, last_error());
  }
  // A file this call created is removed again if the open is refused.
  const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
  const auto refuse = [&](Failure failure, int error) {
    CloseHandle(file);
    if (created) {
      DeleteFileW(path);
    }
    return failed(failure, error);
  };
  if (same_file(file, handle_of(input))) {
    return refuse(Failure::output_is_input, 0);
  }
  // Devices such as NUL have no end to set.
  LARGE_INTEGER size{};
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) && size.QuadPart != 0 &&
      !SetEndOfFile(file)) {
    return refuse(Failure::output_open, last_error());
  }
  handle = file_of(file);
  return Outcome{};
}

bool read_at(FileHandle handle, std::uint64_t offset, void* buffer, std::size_t size,
             std::size_t& read, int& error) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  read = 0;
  while (read < size) {
    const std::uint64_t at = offset + read;
    if (at > static_cast<std::uint64_t>(LLONG_MAX)) {
      error = ERROR_ARITHMETIC_OVERFLOW;
      return false;
    }
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    const std::size_t left = size - read;
    const DWORD want = left < kMaxTransfer ? static_cast<DWORD>(left) : kMaxTransfer;
    DWORD got = 0;
    if (!ReadFile(handle_of(handle), bytes + read, want, &got, &position)) {
      const DWORD code = GetLastError();
      if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) {
        error = 0;
      } else {
        error = static_cast<int>(code);
      }
      return false;
    }
    if (got == 0) {
      error = 0;
      return false;
    }
    read += got;
  }
  return true;
}

OutputSink sequential_sink(FileHandle handle) {
  OutputSink sink;
  sink.handle = handle;
  return sink;
}

// A HANDLE is never shared with the C runtime's descriptors 0-2: the
// library's output needs no protection from stray writes, and is written in
// sequence.
bool positional_sink(FileHandle handle, OutputSink& sink, int&) {
  sink = sequential_sink(handle);
  return true;
}

bool write_spans(OutputSink& sink, const ByteSpan* spans, std::size_t count, int& error) {
  const FileHandle handle = sink.handle;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* data = spans[i].data;
    std::size_t left = spans[i].size;
    while (left > 0) {
      const DWORD want = left < kMaxTransfer ? static_cast<DWORD>(left) : kMaxTransfer;
      DWORD wrote = 0;
      // A positional sink names its offset; otherwise the file's position.
      OVERLAPPED position{};
      position.Offset = static_cast<DWORD>(sink.offset & 0xFFFFFFFFu);
      position.OffsetHigh = static_cast<DWORD>(sink.offset >> 32);
      if (!WriteFile(handle_of(handle), data, want, &wrote,
                     sink.positional ? &position : nullptr)) {
        error = last_error();
        return false;
      }
      if (wrote == 0) {
        error = ERROR_WRITE_FAULT;
        return false;
      }
      data += wrote;
      left -= wrote;
      sink.offset += wrote;
    }
  }
  return true;
}

// Not done on Windows (unmeasured there): the writes allocate as they go.
void reserve_space(const OutputSink&, std::uint64_t) {}

bool finish_sink(const OutputSink&, int&) { return true; }

bool describe_input(FileHandle handle, InputInfo& info, int& error) {
  info = InputInfo{};
  // Pipes and devices report no size; they hold no acceptable image.
  if (GetFileType(handle_of(handle)) != FILE_TYPE_DISK) {
    return true;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle_of(handle), &size)) {
    error = last_error();
    return false;
  }
  info.regular = true;
  info.bytes = size.QuadPart > 0 ? static_cast<std::uint64_t>(size.QuadPart) : 0;
  return true;
}

void truncate_to_empty(FileHandle handle) {
  // The end moves to the start; so does the position, which no later write
  // uses.
  LARGE_INTEGER start{};
  if (SetFilePointerEx(handle_of(handle), start, nullptr, FILE_BEGIN)) {
    SetEndOfFile(handle_of(handle));
  }
}

void truncate_to_empty(NativePath path) {
  const HANDLE file =
      CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
  }
}

Outcome close_file(FileHandle handle) {
  if (!CloseHandle(handle_of(handle))) {
    return failed(Failure::close_failed, last_error());
  }
  return Outcome{};
}

}  // namespace bmpresizer
