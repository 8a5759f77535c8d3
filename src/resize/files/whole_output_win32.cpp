// The tool's half of the Windows file layer: outputs that appear whole or
// not at all, a piped input spooled to a file, and the clean-up after Ctrl-C.
// The library never calls these.
#include <atomic>
#include <cwchar>

#include "unfinished_names.h"
#include "win32_files.h"

namespace bmpresizer {
namespace {

// The longest name a folder entry may have, in UTF-16 units.
constexpr std::size_t kMaxNameUnits = 255;
// Full paths from this length on take the \\?\ form, which lifts MAX_PATH.
constexpr std::size_t kLongPathUnits = 240;

std::atomic<void (*)()> last_words_to_say{nullptr};

// Runs on a thread of its own.
BOOL WINAPI on_interruption(DWORD) {
  remove_unfinished_names();
  if (void (*last_words)() = last_words_to_say.load()) {
    last_words();
  }
  return FALSE;  // the default handler ends the process
}

bool copy_path(const wchar_t* from, std::size_t units, wchar_t (&to)[kMaxPathUnits]) {
  if (units >= kMaxPathUnits) {
    return false;
  }
  std::wmemcpy(to, from, units);
  to[units] = L'\0';
  return true;
}

// `path` as a full path with backslashes, which ReplaceFileW needs to find
// the folder for its own temporary file; a long one in the \\?\ form.
bool full_path(const wchar_t* path, wchar_t (&full)[kMaxPathUnits], int& error) {
  wchar_t plain[kMaxPathUnits];
  const DWORD units = GetFullPathNameW(path, kMaxPathUnits, plain, nullptr);
  if (units == 0 || units >= kMaxPathUnits) {
    error = units == 0 ? last_error() : ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  const bool is_long = units >= kLongPathUnits && std::wcsncmp(plain, L"\\\\", 2) != 0;
  const bool is_unc = units >= kLongPathUnits && std::wcsncmp(plain, L"\\\\", 2) == 0 &&
                      std::wcsncmp(plain, L"\\\\?\\", 4) != 0;
  const wchar_t* prefix = is_long ? L"\\\\?\\" : is_unc ? L"\\\\?\\UNC" : L"";
  const wchar_t* rest = is_unc ? plain + 1 : plain;
  const std::size_t prefix_units = std::wcslen(prefix);
  const std::size_t rest_units = std::wcslen(rest);
  if (!copy_path(prefix, prefix_units, full) || prefix_units + rest_units >= kMaxPathUnits) {
    error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  std::wmemcpy(full + prefix_units, rest, rest_units + 1);
  return true;
}

// A fresh temporary name beside `target`: .NAME.bmpresize-UNIQUE, with NAME
// shortened so that the whole fits a folder entry.
bool temporary_name(const wchar_t* target, wchar_t (&name)[kMaxPathUnits], int& error) {
  static std::atomic<unsigned> counter{0};
  wchar_t unique[64];
  std::swprintf(unique, 64, L".bmpresize-%lu-%x-%llx", GetCurrentProcessId(), counter.fetch_add(1),
                static_cast<unsigned long long>(GetTickCount64()));
  const wchar_t* slash = std::wcsrchr(target, L'\\');
  const std::size_t folder = slash == nullptr ? 0 : static_cast<std::size_t>(slash - target) + 1;
  const wchar_t* base = target + folder;
  std::size_t base_units = std::wcslen(base);
  const std::size_t room = kMaxNameUnits - 1 - std::wcslen(unique);
  if (base_units > room) {
    base_units = room;
    // A surrogate pair stays whole.
    if (base[base_units] >= 0xDC00 && base[base_units] <= 0xDFFF) {
      --base_units;
    }
  }
  if (folder + 1 + base_units + std::wcslen(unique) >= kMaxPathUnits) {
    error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  std::wmemcpy(name, target, folder);
  name[folder] = L'.';
  std::wmemcpy(name + folder + 1, base, base_units);
  std::wmemcpy(name + folder + 1 + base_units, unique, std::wcslen(unique) + 1);
  return true;
}

}  // namespace

// Opened with FILE_SHARE_DELETE: the file goes when its handle closes, as the
// process ends.
void remove_name(int, const wchar_t* path) { DeleteFileW(path); }

void wait_for_the_end() { Sleep(5000); }

WholeOutput::~WholeOutput() { discard(); }

Outcome WholeOutput::open(NativePath path, FileHandle input) {
  discard();
  if (path == nullptr) {
    return failed(Failure::output_path_invalid);
  }
  // Whether this user may write the file there: a read-only output is
  // refused before any work.
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  int error = last_error();
  if (file == INVALID_HANDLE_VALUE && error != ERROR_FILE_NOT_FOUND) {
    return failed(Failure::output_open, error);
  }
  if (file == INVALID_HANDLE_VALUE) {
    return full_path(path, target_, error) ? create_beside_target(false)
                                           : failed(Failure::output_open, error);
  }
  const FileFacts opened = facts_of(file_of(file));
  if (same_file(opened, facts_of(input))) {
    CloseHandle(file);
    return failed(Failure::output_is_input);
  }
  // A pipe, console or device (NUL): written in place.
  if (!opened.regular) {
    handle_ = file_of(file);
    mode_ = Mode::in_place;
    return Outcome{};
  }
  // A symbolic link: the file it names is the one to replace.
  const DWORD attributes = GetFileAttributesW(path);
  bool found = false;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    const DWORD units = GetFinalPathNameByHandleW(file, target_, kMaxPathUnits, 0);
    found = units > 0 && units < kMaxPathUnits;
    error = found ? 0 : last_error();
  } else {
    found = full_path(path, target_, error);
  }
  CloseHandle(file);
  return found ? create_beside_target(true) : failed(Failure::output_open, error);
}

Outcome WholeOutput::create_beside_target(bool replacing) {
  replacing_ = replacing;
  int error = 0;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    if (!temporary_name(target_, temporary_, error)) {
      return failed(Failure::output_open, error);
    }
    NameStep step;
    if (!step.may_name()) {
      return failed(Failure::output_open, ERROR_OPERATION_ABORTED);
    }
    step.about_to_name(-1, temporary_);
    // Deletable while open, so that an interruption can remove it.
    file = CreateFileW(temporary_, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    error = last_error();
    step.named(file != INVALID_HANDLE_VALUE);
    if (file == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS) {
      return failed(Failure::output_open, error);
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    return failed(Failure::output_open, error);
  }
  handle_ = file_of(file);
  mode_ = Mode::named;
  return Outcome{};
}

Outcome WholeOutput::commit() {
  if (mode_ == Mode::closed) {
    return failed(Failure::close_failed, ERROR_INVALID_HANDLE);
  }
  const Outcome closed = close_file(handle_);
  handle_ = kNoFile;
  if (mode_ == Mode::in_place || !closed.ok()) {
    discard();
    return closed;
  }
  return name_and_replace();
}

// The closed output renamed over the target; ReplaceFileW keeps the
// replaced file's attributes and permissions.
Outcome WholeOutput::name_and_replace() {
  NameStep step;
  bool replaced = false;
  if (step.may_name()) {
    replaced = replacing_ && GetFileAttributesW(target_) != INVALID_FILE_ATTRIBUTES
                   ? ReplaceFileW(target_, temporary_, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                  nullptr, nullptr) != 0
                   : MoveFileExW(temporary_, target_, MOVEFILE_REPLACE_EXISTING) != 0;
  }
  const int error = replaced ? 0 : last_error();
  step.named(!replaced);
  if (replaced) {
    mode_ = Mode::closed;
    return Outcome{};
  }
  discard();
  return failed(Failure::close_failed, error);
}

void WholeOutput::discard() {
  if (handle_ != kNoFile) {
    CloseHandle(handle_of(handle_));
    handle_ = kNoFile;
  }
  if (mode_ == Mode::named) {
    NameStep step;
    DeleteFileW(temporary_);
    step.named(false);
  }
  mode_ = Mode::closed;
}

NativePath temporary_folder(wchar_t (&buffer)[kMaxPathUnits]) {
  if (GetTempPathW(kMaxPathUnits, buffer) == 0) {
    buffer[0] = L'\0';
  }
  return buffer;
}

bool create_temporary_file(FileHandle& file, int& error) {
  wchar_t folder[kMaxPathUnits];
  wchar_t name[kMaxPathUnits];
  if (temporary_folder(folder)[0] == L'\0' || GetTempFileNameW(folder, L"bmp", 0, name) == 0) {
    error = last_error();
    return false;
  }
  const HANDLE made = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (made == INVALID_HANDLE_VALUE) {
    error = last_error();
    DeleteFileW(name);
    return false;
  }
  file = file_of(made);
  return true;
}

void clean_up_on_interruption(void (*last_words)()) {
  last_words_to_say.store(last_words);
  clean_up_installed();
  SetConsoleCtrlHandler(on_interruption, TRUE);
}

}  // namespace bmpresizer
