// The tool's platform on Windows: wide-character APIs throughout, UTF-8
// inside the tool, Unicode on the console.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>

#include "platform.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace bmpresize {
namespace {

HANDLE handle_of(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle file_of(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }
int last_error() { return static_cast<int>(GetLastError()); }

// A temporary file that an interruption must remove; the path lives in the
// slot, so that the handler reads no memory a worker might free meanwhile.
constexpr std::size_t kSlotPathUnits = 2048;
struct TemporarySlot {
  std::atomic<bool> active{false};
  wchar_t path[kSlotPathUnits] = {};
};
// One slot per worker thread; workers beyond these are not cleaned up after
// Ctrl-C.
constexpr std::size_t kSlots = 64;
TemporarySlot temporaries[kSlots];
std::atomic<std::size_t> slots_taken{0};
thread_local TemporarySlot* my_slot = nullptr;
std::atomic<bool> progress_line_shown{false};

std::wstring wide(const std::string& utf8) {
  if (utf8.empty()) {
    return std::wstring();
  }
  const int units =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(units > 0 ? units : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), units);
  return text;
}

std::string utf8(const wchar_t* text, int units) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, units, out.data(), bytes, nullptr, nullptr);
  return out;
}

// Text to a standard handle: as Unicode on a console, as UTF-8 bytes
// elsewhere (a file or a pipe).
void print_to(DWORD which, const std::string& text) {
  const HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  DWORD done = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::wstring units = wide(text);
    WriteConsoleW(handle, units.data(), static_cast<DWORD>(units.size()), &done, nullptr);
    return;
  }
  for (std::size_t at = 0; at < text.size(); at += done) {
    if (!WriteFile(handle, text.data() + at, static_cast<DWORD>(text.size() - at), &done,
                   nullptr) ||
        done == 0) {
      return;
    }
  }
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.find_last_of(kPathSeparators);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void remember_temporary(const std::wstring& path) {
  if (my_slot == nullptr) {
    const std::size_t slot = slots_taken.fetch_add(1);
    if (slot >= kSlots) {
      return;
    }
    my_slot = &temporaries[slot];
  }
  if (path.size() >= kSlotPathUnits) {
    return;
  }
  std::wmemcpy(my_slot->path, path.c_str(), path.size() + 1);
  my_slot->active.store(true, std::memory_order_release);
}

// Opens `path` for nothing but its identity and type; folders too.
HANDLE open_for_identity(const std::string& path) {
  return CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool identity_of(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  return GetFileInformationByHandle(handle, &info) != 0;
}

BOOL WINAPI on_interruption(DWORD) {
  for (TemporarySlot& slot : temporaries) {
    if (slot.active.load(std::memory_order_acquire)) {
      // The file is open with FILE_SHARE_DELETE: it goes when the process
      // ends and its handles close.
      DeleteFileW(slot.path);
    }
  }
  if (progress_line_shown.load()) {
    print_to(STD_ERROR_HANDLE, "\r\033[K");
  }
  return FALSE;  // the default handler ends the process
}

std::wstring unique_suffix() {
  static std::atomic<unsigned> counter{0};
  wchar_t text[64];
  std::swprintf(text, 64, L"%lu-%llx-%u", GetCurrentProcessId(),
                static_cast<unsigned long long>(GetTickCount64()), counter.fetch_add(1));
  return text;
}

}  // namespace

const char kPathSeparators[] = "/\\";

void prepare_process() {
  const DWORD streams[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (DWORD which : streams) {
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
      SetStdHandle(which, CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    }
  }
  // The progress line redraws itself with the terminal's escape sequences.
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(error, &mode)) {
    SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

std::vector<std::string> utf8_arguments(int argc, const wchar_t* const* argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.push_back(utf8(argv[i], -1).c_str());
  }
  return args;
}

NativeString native_path(const std::string& path) { return wide(path); }

std::string error_text(int error) {
  wchar_t* text = nullptr;
  const DWORD units = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = units > 0 ? utf8(text, static_cast<int>(units)) : std::string();
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(error) : message;
}

void print_error(const std::string& text) { print_to(STD_ERROR_HANDLE, text); }

void print_output(const std::string& text) { print_to(STD_OUTPUT_HANDLE, text); }

bool stderr_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int terminal_columns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
    return info.srWindow.Right - info.srWindow.Left + 1;
  }
  return 80;
}

bool resolve_output(const std::string& path, OutputTarget& target, int& error) {
  const HANDLE file = open_for_identity(path);
  if (file == INVALID_HANDLE_VALUE) {
    error = last_error();
    if (error == ERROR_FILE_NOT_FOUND) {
      target = OutputTarget{OutputTarget::missing, path, 0};
      return true;
    }
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool disk_file = GetFileType(file) == FILE_TYPE_DISK && identity_of(file, info) &&
                         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  target = OutputTarget{disk_file ? OutputTarget::regular : OutputTarget::other, path, 0};
  // A symbolic link: the file it names is the one to replace.
  wchar_t final_path[MAX_PATH * 4];
  const DWORD units = disk_file && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0
                          ? 0
                          : GetFinalPathNameByHandleW(file, final_path, MAX_PATH * 4, 0);
  CloseHandle(file);
  if (disk_file && units > 0 && units < MAX_PATH * 4) {
    target.path = utf8(final_path, static_cast<int>(units));
  }
  return true;
}

bool is_same_file(const std::string& path, FileHandle file) {
  const HANDLE named = open_for_identity(path);
  if (named == INVALID_HANDLE_VALUE) {
    return false;
  }
  BY_HANDLE_FILE_INFORMATION a{};
  BY_HANDLE_FILE_INFORMATION b{};
  const bool same = identity_of(named, a) && identity_of(handle_of(file), b) &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                    a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(named);
  return same;
}

bool create_temporary(const std::string& beside, std::uint32_t, FileHandle& handle,
                      std::string& path, int& error) {
  const std::size_t slash = beside.find_last_of(kPathSeparators);
  const std::string base = slash == std::string::npos ? beside : beside.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring name =
        wide(folder_of(beside) + "." + base + ".bmpresize-") + unique_suffix();
    remember_temporary(name);
    // Deletable while open, so that an interruption can remove it.
    const HANDLE file =
        CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = last_error();
      forget_temporary(path);
      if (error == ERROR_FILE_EXISTS) {
        continue;
      }
      return false;
    }
    path = utf8(name.c_str(), static_cast<int>(name.size()));
    handle = file_of(file);
    return true;
  }
  return false;
}

bool replace_with(const std::string& temporary, const std::string& target, int& error) {
  const std::wstring from = wide(temporary);
  const std::wstring to = wide(target);
  // ReplaceFileW keeps the replaced file's attributes and permissions.
  const bool replaced = GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES
                            ? ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                                           REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                            : MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  if (!replaced) {
    error = last_error();
    return false;
  }
  forget_temporary(temporary);
  return true;
}

void remove_temporary(const std::string& path) {
  DeleteFileW(wide(path).c_str());
  forget_temporary(path);
}

void forget_temporary(const std::string&) {
  if (my_slot != nullptr) {
    my_slot->active.store(false, std::memory_order_release);
  }
}

void clean_up_on_interruption() { SetConsoleCtrlHandler(on_interruption, TRUE); }

void set_progress_line_shown(bool shown) { progress_line_shown.store(shown); }

FileFacts facts_of(const std::string& path) {
  FileFacts facts;
  const HANDLE file = open_for_identity(path);
  BY_HANDLE_FILE_INFORMATION info{};
  if (file == INVALID_HANDLE_VALUE || !identity_of(file, info)) {
    facts.error = last_error();
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
    }
    return facts;
  }
  facts.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.regular = !facts.directory && GetFileType(file) == FILE_TYPE_DISK;
  facts.size = facts.regular ? (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow : 0;
  facts.volume = info.dwVolumeSerialNumber;
  facts.file = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  CloseHandle(file);
  return facts;
}

bool same_open_file(FileHandle a, FileHandle b) {
  BY_HANDLE_FILE_INFORMATION a_info{};
  BY_HANDLE_FILE_INFORMATION b_info{};
  return identity_of(handle_of(a), a_info) && identity_of(handle_of(b), b_info) &&
         a_info.dwVolumeSerialNumber == b_info.dwVolumeSerialNumber &&
         a_info.nFileIndexHigh == b_info.nFileIndexHigh &&
         a_info.nFileIndexLow == b_info.nFileIndexLow;
}

FileHandle standard_input() { return file_of(GetStdHandle(STD_INPUT_HANDLE)); }

FileHandle standard_output() { return file_of(GetStdHandle(STD_OUTPUT_HANDLE)); }

bool is_regular_file(FileHandle handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileType(handle_of(handle)) == FILE_TYPE_DISK && identity_of(handle_of(handle), info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::uint64_t size_of(FileHandle handle) {
  LARGE_INTEGER size{};
  return is_regular_file(handle) && GetFileSizeEx(handle_of(handle), &size) && size.QuadPart > 0
             ? static_cast<std::uint64_t>(size.QuadPart)
             : 0;
}

bool spool_to_temporary(FileHandle from, bmpresizer::WorkBuffer buffer, FileHandle& copy,
                        int& error) {
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"bmp", 0, name) == 0) {
    error = last_error();
    return false;
  }
  const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = last_error();
    DeleteFileW(name);
    return false;
  }
  for (;;) {
    DWORD got = 0;
    const DWORD want = buffer.size < (1u << 30) ? static_cast<DWORD>(buffer.size) : (1u << 30);
    const bool read = ReadFile(handle_of(from), buffer.data, want, &got, nullptr) != 0;
    // A pipe's writer that has gone reports a broken pipe: the end of input.
    if ((read && got == 0) || (!read && GetLastError() == ERROR_BROKEN_PIPE)) {
      copy = file_of(file);
      return true;
    }
    if (!read) {
      error = last_error();
      CloseHandle(file);
      return false;
    }
    DWORD wrote = 0;
    if (!WriteFile(file, buffer.data, got, &wrote, nullptr) || wrote != got) {
      error = last_error();
      CloseHandle(file);
      return false;
    }
  }
}

}  // namespace bmpresize
