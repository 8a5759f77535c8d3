// A stand-in for the module's code, linked with the real load hooks of the
// platform into a library of its own: it records, in the file named by the
// BMPRESIZER_ORDER_LOG environment variable, each call the load hooks make
// and when the library's static initialisation and exit processing run.
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include "module_entry.h"

namespace {

void record(const char* event) {
  char path[1024] = "";
#ifdef _WIN32
  const DWORD length = GetEnvironmentVariableA("BMPRESIZER_ORDER_LOG", path, sizeof path);
  if (length == 0 || length >= sizeof path) {
    return;
  }
#else
  const char* name = std::getenv("BMPRESIZER_ORDER_LOG");
  if (name == nullptr || std::snprintf(path, sizeof path, "%s", name) >= int{sizeof path}) {
    return;
  }
#endif
  if (FILE* log = std::fopen(path, "ab")) {
    std::fprintf(log, "%s\n", event);
    std::fclose(log);
  }
}

// An object with a constructor and a destructor: the library's static
// initialisation and exit processing.
struct StaticObject {
  StaticObject() { record("static initialisation"); }
  ~StaticObject() { record("exit processing"); }
  StaticObject(const StaticObject&) = delete;
  StaticObject& operator=(const StaticObject&) = delete;
};
StaticObject static_object;

}  // namespace

namespace bmpresizer {
namespace module {

int pre_initialisation_hook(void*, unsigned long reason, void*) {
  record(reason == kProcessAttach ? "hook attach" : "hook detach");
  return 1;
}

int module_entry(void*, unsigned long reason, void*) {
  switch (reason) {
    case kProcessAttach:
      record("entry attach");
      break;
    case kProcessDetach:
      record("entry detach");
      break;
    default:
      break;  // threads: not recorded
  }
  return 1;
}

}  // namespace module
}  // namespace bmpresizer
