// The file layer on Windows handles: streams over files, and opening and
// closing the library's way. Paths are UTF-16 and opened through the
// wide-character API, so that any name the file system holds can be opened
// whatever the ANSI code page.
//
// A HANDLE is never shared with the C runtime's descriptors 0-2, so nothing
// printed by another thread can end up in an output.
#include <climits>

#include "win32_files.h"

namespace bmpresizer {
namespace {

// The largest transfer handed to one ReadFile or WriteFile call.
constexpr DWORD kMaxTransfer = 1u << 30;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

OVERLAPPED at_offset(std::uint64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

FileFacts facts_from(HANDLE file) {
  FileFacts facts;
  BY_HANDLE_FILE_INFORMATION info{};
  // Devices (NUL, CON) and pipes have no file information: no file on a
  // volume, so never the same as another.
  if (!GetFileInformationByHandle(file, &info)) {
    facts.error = last_error();
    return facts;
  }
  facts.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.regular = !facts.directory && GetFileType(file) == FILE_TYPE_DISK;
  facts.size = facts.regular ? (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow : 0;
  facts.volume = info.dwVolumeSerialNumber;
  facts.file = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return facts;
}

}  // namespace

std::size_t read_fully(HANDLE file, bool positional, std::uint64_t offset, void* buffer,
                       std::size_t size, int& error) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  error = 0;
  while (done < size) {
    if (offset + done > static_cast<std::uint64_t>(LLONG_MAX)) {
      error = ERROR_ARITHMETIC_OVERFLOW;
      return done;
    }
    OVERLAPPED position = at_offset(offset + done);
    const std::size_t left = size - done;
    const DWORD want = left < kMaxTransfer ? static_cast<DWORD>(left) : kMaxTransfer;
    DWORD got = 0;
    if (!ReadFile(file, bytes + done, want, &got, positional ? &position : nullptr)) {
      // The end of a file, or a pipe whose writer has gone.
      const DWORD code = GetLastError();
      error = code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE ? 0 : static_cast<int>(code);
      return done;
    }
    if (got == 0) {
      return done;
    }
    done += got;
  }
  return done;
}

bool write_fully(HANDLE file, bool positional, std::uint64_t offset, const ByteSpan* spans,
                 std::size_t count, int& error) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* data = spans[i].data;
    for (std::size_t left = spans[i].size; left > 0;) {
      const DWORD want = left < kMaxTransfer ? static_cast<DWORD>(left) : kMaxTransfer;
      DWORD wrote = 0;
      OVERLAPPED position = at_offset(offset);
      if (!WriteFile(file, data, want, &wrote, positional ? &position : nullptr)) {
        error = last_error();
        return false;
      }
      if (wrote == 0) {
        error = ERROR_WRITE_FAULT;
        return false;
      }
      data += wrote;
      left -= wrote;
      offset += wrote;
    }
  }
  return true;
}

Outcome FileSource::attach(FileHandle handle, std::uint64_t from) {
  // Pipes and devices report no size; they hold no image to read twice.
  if (GetFileType(handle_of(handle)) != FILE_TYPE_DISK) {
    return failed(Failure::input_not_regular);
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle_of(handle), &size)) {
    return failed(Failure::read_failed, last_error());
  }
  handle_ = handle;
  from_ = from;
  const std::uint64_t total = size.QuadPart > 0 ? static_cast<std::uint64_t>(size.QuadPart) : 0;
  size_ = total > from ? total - from : 0;
  return Outcome{};
}

std::size_t FileSource::read_at(std::uint64_t offset, void* buffer, std::size_t size, int& error) {
  return read_fully(handle_of(handle_), true, from_ + offset, buffer, size, error);
}

bool position_of(FileHandle handle, std::uint64_t& position) {
  LARGE_INTEGER none{};
  LARGE_INTEGER at{};
  if (GetFileType(handle_of(handle)) != FILE_TYPE_DISK ||
      !SetFilePointerEx(handle_of(handle), none, &at, FILE_CURRENT)) {
    return false;
  }
  position = at.QuadPart > 0 ? static_cast<std::uint64_t>(at.QuadPart) : 0;
  return true;
}

bool move_to(FileHandle handle, std::uint64_t position) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(position);
  return SetFilePointerEx(handle_of(handle), at, nullptr, FILE_BEGIN) != 0;
}

bool FileSink::attach(FileHandle handle, bool at_position, int&) {
  handle_ = handle;
  positional_ = !at_position && GetFileType(handle_of(handle)) == FILE_TYPE_DISK;
  new_file_ = false;
  return true;
}

void FileSink::attach_new(FileHandle handle) {
  handle_ = handle;
  positional_ = true;
  new_file_ = true;
}

bool FileSink::write(const ByteSpan* spans, std::size_t count, std::uint64_t offset, int& error) {
  return write_fully(handle_of(handle_), positional_, offset, spans, count, error);
}

// Not done on Windows (unmeasured there): the writes allocate as they go.
void FileSink::reserve(std::uint64_t, std::uint64_t) {}

bool FileSink::finish(std::uint64_t length, int& error) {
  if (!positional_ || new_file_) {
    return true;
  }
  LARGE_INTEGER end{};
  LARGE_INTEGER size{};
  end.QuadPart = static_cast<LONGLONG>(length);
  if (!SetFilePointerEx(handle_of(handle_), end, nullptr, FILE_BEGIN) ||
      !GetFileSizeEx(handle_of(handle_), &size) ||
      (static_cast<std::uint64_t>(size.QuadPart) > length && !SetEndOfFile(handle_of(handle_)))) {
    error = last_error();
    return false;
  }
  return true;
}

bool write_all(FileHandle handle, const ByteSpan* spans, std::size_t count, int& error) {
  return write_fully(handle_of(handle), false, 0, spans, count, error);
}

std::size_t read_all(FileHandle handle, void* buffer, std::size_t size, int& error) {
  return read_fully(handle_of(handle), false, 0, buffer, size, error);
}

Outcome open_input(NativePath path, FileHandle& handle) {
  if (path == nullptr) {
    return failed(Failure::input_path_invalid);
  }
  // Others may go on reading, writing or renaming it meanwhile, as on POSIX.
  const HANDLE file = CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
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

Outcome open_output(NativePath path, FileHandle input, FileHandle& handle,
                    PathScratch& /*scratch: Windows follows links itself*/) {
  if (path == nullptr) {
    return failed(Failure::output_path_invalid);
  }
  // Opened without truncating: the input may be this very file under another
  // name, and emptying it before the comparison would destroy it.
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
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
  if (same_file(facts_from(file), facts_of(input))) {
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

Outcome close_file(FileHandle handle) {
  if (!CloseHandle(handle_of(handle))) {
    return failed(Failure::close_failed, last_error());
  }
  return Outcome{};
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
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, kShareAll, nullptr, TRUNCATE_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
  }
}

FileFacts facts_of(NativePath path) {
  // No access asked: folders open too, and files others hold open.
  const HANDLE file =
      CreateFileW(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    FileFacts facts;
    facts.error = last_error();
    return facts;
  }
  const FileFacts facts = facts_from(file);
  CloseHandle(file);
  return facts;
}

FileFacts facts_of(FileHandle handle) { return facts_from(handle_of(handle)); }

bool same_file(const FileFacts& a, const FileFacts& b) {
  return a.error == 0 && b.error == 0 && a.volume == b.volume && a.file == b.file;
}

FileHandle standard_input() { return file_of(GetStdHandle(STD_INPUT_HANDLE)); }
FileHandle standard_output() { return file_of(GetStdHandle(STD_OUTPUT_HANDLE)); }
FileHandle standard_error() { return file_of(GetStdHandle(STD_ERROR_HANDLE)); }

}  // namespace bmpresizer
