// bmpresize: enlarge 24-bit BMP files by a whole-number factor.
//
//   bmpresize [-q | -v] INPUT OUTPUT FACTOR
//   bmpresize [-q | -v] [-j N] -f FACTOR -o DIR FILE...
//
// Exit status: 0 on success, 2 for a usage error, otherwise the library's
// result code (3 input, 4 output, 5 unsupported input, 6 too large, 7 I/O);
// with FILE..., that of the first FILE that failed, in argument order.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "batch.h"
#include "bmpresizer.h"
#include "outcome.h"
#include "progress.h"
#include "report.h"
#include "resize.h"

namespace {

using bmpresize::failure_line;
using bmpresize::ProgressBar;
using bmpresize::seconds_now;
using bmpresize::success_line;
using bmpresizer::Outcome;

constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: bmpresize [-q | -v] INPUT OUTPUT FACTOR\n"
    "       bmpresize [-q | -v] [-j N] -f FACTOR -o DIR FILE...\n"
    "Enlarge the 24-bit BMP file INPUT by the whole number FACTOR (1 or more) into OUTPUT,\n"
    "or each FILE into the existing folder DIR under the same name.\n";

const char kHelp[] =
    "\n"
    "Every pixel is repeated FACTOR times across and every row FACTOR times down;\n"
    "nothing is blended, so the result is exact. Works in constant memory on images\n"
    "of any size, up to the 4 GiB limit of the BMP format.\n"
    "\n"
    "Accepted input: 24 bits per pixel, uncompressed, with the 40-byte header and\n"
    "no colour table (pixel data at byte 54), bottom-up or top-down.\n"
    "\n"
    "Options:\n"
    "  -f, --factor FACTOR      enlarge each FILE by FACTOR\n"
    "  -o, --output-dir DIR     write each FILE's enlargement into DIR under the\n"
    "                           FILE's own name; DIR must exist\n"
    "  -j, --jobs N             enlarge N files at once (default 1)\n"
    "  -q, --quiet              no progress bar\n"
    "  -v, --verbose            print a line for each file enlarged and, for several\n"
    "                           files, a summary line\n"
    "  -h, --help               show this help and exit\n"
    "      --version            show the version and exit\n"
    "\n"
    "Each failure prints one line, \"bmpresize: FILE: what is wrong\"; with FILE...\n"
    "the other files are still enlarged and, if any failed, a summary line follows.\n"
    "On a terminal, runs longer than half a second show a progress bar.\n"
    "\n"
    "Exit status:\n"
    "  0  the output is complete (with FILE..., every output)\n"
    "  2  wrong arguments (with FILE..., also: DIR is not an existing folder)\n"
    "  3  the input cannot be opened\n"
    "  4  the output cannot be created (or it is the input file, or another FILE\n"
    "     of the same name comes first)\n"
    "  5  the input is not a 24-bit uncompressed BMP, or it is truncated\n"
    "  6  the enlarged image cannot be a BMP (factor below 1, over 4 GiB, ...)\n"
    "  7  a read or write failed (disk full, I/O error); the output is emptied\n"
    "With FILE..., the status is that of the first FILE that failed, in argument order.\n";

struct Options {
  bool quiet = false;
  bool verbose = false;
  const char* input = nullptr;
  const char* output = nullptr;
  const char* factor = nullptr;
  // The FILE... form: set by -f, -o and -j.
  bool batch = false;
  const char* output_dir = nullptr;
  const char* jobs = nullptr;
};

int usage_error(const char* problem) {
  std::fprintf(stderr, "bmpresize: %s\n%s", problem, kUsage);
  return kExitUsage;
}

// Parses FACTOR: a whole number in decimal. Values beyond the 32-bit range
// are clamped, so that they are refused like any other impossible factor.
bool parse_factor(const char* text, std::int32_t& factor) {
  const char* digits = text;
  if (*digits == '+' || *digits == '-') {
    ++digits;
  }
  if (*digits == '\0') {
    return false;
  }
  for (const char* p = digits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') {
      return false;
    }
  }
  errno = 0;
  const long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX || (errno == ERANGE && text[0] != '-')) {
    factor = INT32_MAX;
  } else if (value < INT32_MIN || errno == ERANGE) {
    factor = INT32_MIN;
  } else {
    factor = static_cast<std::int32_t>(value);
  }
  return true;
}

enum class Match { no, yes, missing_value };

// Whether argv[i] is the option `short_name` or `long_name` with a value, as
// "-f 3", "-f3", "--factor 3" or "--factor=3". A value in the next argument
// is taken whatever it looks like (so "-f -2" works) and `i` moves past it.
Match option_value(int argc, char** argv, int& i, const char* short_name, const char* long_name,
                   const char*& value) {
  const char* arg = argv[i];
  if (std::strcmp(arg, short_name) == 0 || std::strcmp(arg, long_name) == 0) {
    if (i + 1 >= argc) {
      return Match::missing_value;
    }
    value = argv[++i];
    return Match::yes;
  }
  if (arg[1] != '-' && std::strncmp(arg, short_name, 2) == 0) {
    value = arg + 2;
    return Match::yes;
  }
  const std::size_t length = std::strlen(long_name);
  if (std::strncmp(arg, long_name, length) == 0 && arg[length] == '=') {
    value = arg + length + 1;
    return Match::yes;
  }
  return Match::no;
}

// Parses N of -j: a whole number, 1 or more, in decimal digits only. Values
// beyond any useful count are clamped.
bool parse_jobs(const char* text, std::size_t& jobs) {
  if (*text == '\0') {
    return false;
  }
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') {
      return false;
    }
  }
  errno = 0;
  const unsigned long long value = std::strtoull(text, nullptr, 10);
  if (value == 0) {
    return false;
  }
  jobs = errno == ERANGE || value > 1024 ? 1024 : static_cast<std::size_t>(value);
  return true;
}

// The FILE... form: checks its arguments, then enlarges every FILE.
int start_batch(const Options& options, const std::vector<const char*>& files) {
  if (options.factor == nullptr) {
    return usage_error("-f FACTOR is missing");
  }
  if (options.output_dir == nullptr) {
    return usage_error("-o DIR is missing");
  }
  if (files.empty()) {
    return usage_error("no FILE given");
  }
  std::int32_t factor = 0;
  if (!parse_factor(options.factor, factor)) {
    return usage_error(
        (std::string("FACTOR must be a whole number, not \"") + options.factor + "\"").c_str());
  }
  std::size_t jobs_at_once = 1;
  if (options.jobs != nullptr && !parse_jobs(options.jobs, jobs_at_once)) {
    return usage_error(
        (std::string("-j needs a whole number of 1 or more, not \"") + options.jobs + "\"")
            .c_str());
  }
  struct stat dir_info {};
  if (stat(options.output_dir, &dir_info) != 0) {
    return usage_error(
        (std::string("output folder ") + options.output_dir + ": " + std::strerror(errno)).c_str());
  }
  if (!S_ISDIR(dir_info.st_mode)) {
    return usage_error(
        (std::string("output folder ") + options.output_dir + ": not a folder").c_str());
  }
  bmpresize::BatchSettings settings;
  settings.factor = factor;
  settings.jobs_at_once = jobs_at_once;
  settings.output_dir = options.output_dir;
  settings.quiet = options.quiet;
  settings.verbose = options.verbose;
  return bmpresize::run_batch(settings, files);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::vector<const char*> positional;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!options_done && arg[0] == '-' && arg[1] != '\0' && !(arg[1] >= '0' && arg[1] <= '9')) {
      const char* value = nullptr;
      Match match = Match::no;
      if (std::strcmp(arg, "--") == 0) {
        options_done = true;
      } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
      } else if (std::strcmp(arg, "--version") == 0) {
        std::printf("bmpresize %s\n", BMPRESIZE_VERSION);
        return 0;
      } else if (std::strcmp(arg, "-q") == 0 || std::strcmp(arg, "--quiet") == 0) {
        options.quiet = true;
      } else if (std::strcmp(arg, "-v") == 0 || std::strcmp(arg, "--verbose") == 0) {
        options.verbose = true;
      } else if ((match = option_value(argc, argv, i, "-f", "--factor", value)) == Match::yes) {
        options.factor = value;
        options.batch = true;
      } else if (match == Match::no &&
                 (match = option_value(argc, argv, i, "-o", "--output-dir", value)) == Match::yes) {
        options.output_dir = value;
        options.batch = true;
      } else if (match == Match::no &&
                 (match = option_value(argc, argv, i, "-j", "--jobs", value)) == Match::yes) {
        options.jobs = value;
        options.batch = true;
      } else if (match == Match::missing_value) {
        return usage_error((std::string("option ") + arg + " needs a value").c_str());
      } else {
        return usage_error((std::string("unknown option ") + arg).c_str());
      }
      continue;
    }
    positional.push_back(arg);
  }
  if (options.batch) {
    return start_batch(options, positional);
  }
  if (positional.size() > 3) {
    return usage_error("too many arguments");
  }
  if (positional.size() < 3) {
    return usage_error("missing arguments");
  }
  options.input = positional[0];
  options.output = positional[1];
  options.factor = positional[2];
  std::int32_t factor = 0;
  if (!parse_factor(options.factor, factor)) {
    return usage_error(
        (std::string("FACTOR must be a whole number, not \"") + options.factor + "\"").c_str());
  }

  ProgressBar bar(!options.quiet && isatty(STDERR_FILENO) != 0);
  bmpresizer::Progress progress;
  progress.report = &ProgressBar::report;
  progress.context = &bar;
  const double start = seconds_now();
  const Outcome outcome =
      bmpresizer::resize_files(options.input, options.output, factor, &progress);
  bar.finish();
  if (!outcome.ok()) {
    std::fputs(failure_line(options.input, options.output, outcome).c_str(), stderr);
    return bmpresizer::result_code(outcome);
  }
  if (options.verbose) {
    std::fputs(success_line(options.input, options.output, factor, outcome.output_bytes,
                            seconds_now() - start)
                   .c_str(),
               stderr);
  }
  return 0;
}
