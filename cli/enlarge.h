// One enlargement the tool's way, through the engine: it never destroys
// what it was not asked to write. "-" is standard input as INPUT and
// standard output as OUTPUT.
#ifndef BMPRESIZE_ENLARGE_H
#define BMPRESIZE_ENLARGE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "bmpresize.h"

namespace bmpresize {

// The buffer an enlargement takes: a megabyte makes writes as large as dd's.
constexpr std::size_t kWorkBytes = std::size_t{1} << 20;

// What to enlarge by, and how.
struct Enlargement {
  std::int32_t across = 1;
  std::int32_t down = 1;
  bmpresize_progress_fn progress = nullptr;
  void* progress_context = nullptr;
  void* work = nullptr;       // kWorkBytes, or null for the engine's own
  bool split = false;         // a large image into a file on two threads
  bool uncompressed = false;  // run-length encoded pixels written uncompressed
};

// Enlarges `input` into `output` (UTF-8 paths or "-"); see
// bmpresize_enlarge_file. A standard stream that was closed when the tool
// started is refused (it is the null device by then).
bmpresize_result enlarge_file(const std::string& input, const std::string& output,
                              const Enlargement& how);

}  // namespace bmpresize

#endif
