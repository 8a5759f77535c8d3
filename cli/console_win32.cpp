// The tool's console on Windows: wide-character arguments, UTF-8 inside
// the tool, Unicode on the console.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "console.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace bmpresize {
namespace {

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

// Writes all of `text` to `handle`, giving up on an error.
void write_fully(HANDLE handle, const char* text, std::size_t size) {
  while (size > 0) {
    const DWORD want = size < 0x40000000u ? static_cast<DWORD>(size) : 0x40000000u;
    DWORD done = 0;
    if (!WriteFile(handle, text, want, &done, nullptr) || done == 0) {
      return;
    }
    text += done;
    size -= done;
  }
}

// Text to a standard handle: as Unicode on a console, as UTF-8 bytes
// elsewhere (a file or a pipe).
void print_to(DWORD which, const std::string& text) {
  const HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    DWORD done = 0;
    const std::wstring units = wide(text);
    WriteConsoleW(handle, units.data(), static_cast<DWORD>(units.size()), &done, nullptr);
    return;
  }
  write_fully(handle, text.data(), text.size());
}

}  // namespace

const char kPathSeparators[] = "/\\";

namespace {

bool closed_at_start[3] = {};

}  // namespace

void prepare_process() {
  const DWORD streams[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < 3; ++i) {
    const DWORD which = streams[i];
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
      closed_at_start[i] = true;
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

bool standard_input_was_closed() { return closed_at_start[0]; }
bool standard_output_was_closed() { return closed_at_start[1]; }

std::string name_key(const std::string& name) {
  std::wstring units = wide(name);
  // The invariant capitals, as NTFS compares names.
  LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, units.data(),
                static_cast<int>(units.size()), units.data(), static_cast<int>(units.size()),
                nullptr, nullptr, 0);
  return utf8(units.data(), static_cast<int>(units.size()));
}

std::vector<std::string> utf8_arguments(int argc, const wchar_t* const* argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.push_back(utf8(argv[i], -1).c_str());
  }
  return args;
}

PathFacts facts_of(const std::string& path) {
  PathFacts facts;
  // No access asked: folders open too, and files others hold open.
  const HANDLE file =
      CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION info{};
  if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info)) {
    facts.error = static_cast<int>(GetLastError());
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
    }
    return facts;
  }
  facts.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.size = facts.directory ? 0 : (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  facts.volume = info.dwVolumeSerialNumber;
  facts.file = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  CloseHandle(file);
  return facts;
}

bool same_file(const PathFacts& a, const PathFacts& b) {
  return a.error == 0 && b.error == 0 && a.volume == b.volume && a.file == b.file;
}

ListReader::~ListReader() {
  if (owned_) {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
  }
}

bool ListReader::open(const std::string& path, int& error) {
  const HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  owned_ = true;
  return true;
}

void ListReader::open_standard_input() {
  handle_ = reinterpret_cast<std::intptr_t>(GetStdHandle(STD_INPUT_HANDLE));
  owned_ = false;
}

std::size_t ListReader::read(char* buffer, std::size_t size, int& error) {
  std::size_t done = 0;
  error = 0;
  while (done < size) {
    const std::size_t left = size - done;
    const DWORD want = left < 0x40000000u ? static_cast<DWORD>(left) : 0x40000000u;
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer + done, want, &got, nullptr)) {
      const DWORD why = GetLastError();
      // A pipe whose writer has gone has simply ended.
      error = why == ERROR_BROKEN_PIPE ? 0 : static_cast<int>(why);
      break;
    }
    if (got == 0) {
      break;
    }
    done += got;
  }
  return done;
}

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

void write_error_bytes(const char* text, std::size_t size) {
  write_fully(GetStdHandle(STD_ERROR_HANDLE), text, size);
}

bool reader_went_away(const bmpresize_result&) { return false; }

void end_as_broken_pipe() {}

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

}  // namespace bmpresize
