// What the tool says: sizes and durations for people, and the one line for
// each enlarged or failed file.
#ifndef BMPRESIZE_REPORT_H
#define BMPRESIZE_REPORT_H

#include <cstdint>
#include <string>

#include "bmpresize.h"

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
// what to do. "" for success.
std::string failure_line(const std::string& input, const std::string& output,
                         const bmpresize_result& result);

// A failed result of `error`, with nothing more to say.
bmpresize_result failure_of(bmpresize_error error);

// "bmpresize: warning: ..." when the name `output` says another kind of
// image than the BMP it receives (out.png); else "".
std::string kind_warning(const std::string& output);

// `name` as the tool shows it on a line of its own: as it is, or where it
// holds control characters (a line break would make one failure read as
// two), quoted for the shell as coreutils quotes it: 'a'$'\n''b'.
std::string shown_name(const std::string& name);

// "3x" for a factor of 3 both ways, "3x2" for 3 across and 2 down.
std::string factor_text(std::int32_t across, std::int32_t down);

// The -v line for a file enlarged by `factor` ("3x", "3x2") in `seconds`.
std::string success_line(const std::string& input, const std::string& output,
                         const std::string& factor, std::uint64_t output_bytes, double seconds);

}  // namespace bmpresize

#endif
