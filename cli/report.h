// What the tool says: sizes and durations for people, and the one line for
// each enlarged or failed file.
#ifndef BMPRESIZE_REPORT_H
#define BMPRESIZE_REPORT_H

#include <cstdint>
#include <string>

#include "bmpresizer_core.h"

namespace bmpresize {

// The exit status when memory runs out: that of a failed read or write.
constexpr int kExitOutOfMemory = 7;

// "bmpresize: FILE: out of memory" (or "bmpresize: out of memory" for an
// empty `file`) on standard error, without taking any memory.
void print_out_of_memory(const std::string& file);

// Seconds on a monotonic clock.
double seconds_now();

// "512 bytes", "1.5 KiB", "23.7 MiB", ...
std::string human_bytes(double bytes);

// "12.3 ms" or "4.56 s".
std::string duration_text(double seconds);

// "bmpresize: FILE: reason\n" for a failed enlargement of `input` into
// `output`: names the file the failure is about and, where it helps, says
// what to do.
std::string failure_line(const std::string& input, const std::string& output,
                         const bmpresizer::Outcome& outcome);

// "bmpresize: warning: ..." when the name `output` says another kind of
// image than the BMP it receives (out.png); else "".
std::string kind_warning(const std::string& output);

// The -v line for a file enlarged in `seconds`.
std::string success_line(const std::string& input, const std::string& output, std::int32_t factor,
                         std::uint64_t output_bytes, double seconds);

}  // namespace bmpresize

#endif
