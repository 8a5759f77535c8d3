#include <cstring>

#include "messages.h"
#include "whole_outputs.h"

namespace bmpresizer {
namespace {

// strerror_r comes in two kinds: GNU's returns the text, POSIX's fills the
// buffer and returns 0.
[[maybe_unused]] const char* error_text_of(const char* returned, const char*) { return returned; }
[[maybe_unused]] const char* error_text_of(int returned, const char* buffer) {
  return returned == 0 ? buffer : "unknown error";
}

}  // namespace

const char kPathSeparators[] = "/";

void add_system_error(Text& text, int error) {
  char buffer[128] = {};
  text.add(error_text_of(strerror_r(error, buffer, sizeof buffer), buffer));
}

void add_temporary_folder(Text& text) {
  char folder[kMaxPathUnits];
  text.add(temporary_folder(folder));
}

}  // namespace bmpresizer
