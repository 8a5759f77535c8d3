#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cwchar>

#include "messages.h"
#include "whole_outputs.h"

namespace bmpresizer {
namespace {

void add_utf8(Text& text, const wchar_t* units, int count) {
  char bytes[1024];
  const int made =
      WideCharToMultiByte(CP_UTF8, 0, units, count, bytes, sizeof bytes, nullptr, nullptr);
  text.add(bytes, made > 0 ? static_cast<std::size_t>(made) : 0);
}

}  // namespace

const char kPathSeparators[] = "/\\";

void add_system_error(Text& text, int error) {
  wchar_t units[512];
  DWORD count =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(error), 0, units, sizeof units / sizeof units[0], nullptr);
  while (count > 0 && (units[count - 1] == L'\n' || units[count - 1] == L'\r' ||
                       units[count - 1] == L' ' || units[count - 1] == L'.')) {
    --count;
  }
  if (count == 0) {
    text.add("error ").signed_number(error);
    return;
  }
  add_utf8(text, units, static_cast<int>(count));
}

void add_temporary_folder(Text& text) {
  wchar_t folder[kMaxPathUnits];
  const wchar_t* const path = temporary_folder(folder);
  add_utf8(text, path, static_cast<int>(wcslen(path)));
}

}  // namespace bmpresizer
