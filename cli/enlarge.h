// One enlargement the tool's way: it never destroys what it was not asked
// to. A regular (or missing) output is written to a new temporary file beside
// it and renamed over it only once complete, so a failure or an interruption
// leaves an existing output exactly as it was and no partial file behind.
// Pipes, terminals and devices are written directly. "-" is standard input as
// INPUT and standard output as OUTPUT.
#ifndef BMPRESIZE_ENLARGE_H
#define BMPRESIZE_ENLARGE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "bmpresizer_core.h"

namespace bmpresize {

// The name that stands for standard input or output.
extern const char kStandardStream[];

// The buffer an enlargement takes: a megabyte makes writes as large as dd's.
constexpr std::size_t kWorkBytes = std::size_t{1} << 20;

// Enlarges `input` by `factor` into `output` (UTF-8 paths or "-"), through
// the caller's `work` buffer. A symbolic link as output has its target
// replaced; a new output gets the mode a new file gets, a replaced one keeps
// its mode; an output that is the input itself is refused (output_is_input).
// A stream as input (standard input, /dev/stdin, a pipe) is first kept in
// an unnamed temporary file, as far as its headers say the image goes. With `split`, a large image
// going to a file is enlarged by two threads, each writing half of the rows (while one reads and
// enlarges, the other writes), each with half of `work`.
bmpresizer::Outcome enlarge_file(const std::string& input, const std::string& output,
                                 std::int32_t factor, const bmpresizer::Progress* progress,
                                 bmpresizer::WorkBuffer work, bool split);

}  // namespace bmpresize

#endif
