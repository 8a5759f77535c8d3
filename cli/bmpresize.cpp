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
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "arguments.h"
#include "batch.h"
#include "bmpresizer_core.h"
#include "platform.h"
#include "progress.h"
#include "report.h"

namespace {

using bmpresize::Arguments;

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

int usage_error(const std::string& problem) {
  std::fprintf(stderr, "bmpresize: %s\n%s", problem.c_str(), kUsage);
  return kExitUsage;
}

// INPUT OUTPUT FACTOR.
int enlarge(const Arguments& args) {
  bmpresize::ProgressBar bar(!args.quiet && bmpresize::stderr_is_terminal());
  bmpresizer::Progress progress;
  progress.report = &bmpresize::ProgressBar::report;
  progress.context = &bar;
  const double start = bmpresize::seconds_now();
  const bmpresizer::Outcome outcome =
      bmpresizer::resize_files(args.input.c_str(), args.output.c_str(), args.factor, &progress);
  bar.finish();
  if (!outcome.ok()) {
    std::fputs(bmpresize::failure_line(args.input, args.output, outcome).c_str(), stderr);
    return bmpresizer::result_code(outcome);
  }
  if (args.verbose) {
    std::fputs(bmpresize::success_line(args.input, args.output, args.factor, outcome.output_bytes,
                                       bmpresize::seconds_now() - start)
                   .c_str(),
               stderr);
  }
  return 0;
}

// -f FACTOR -o DIR FILE...: DIR must be an existing folder.
int enlarge_batch(const Arguments& args) {
  struct stat dir_info {};
  if (stat(args.output_dir.c_str(), &dir_info) != 0) {
    return usage_error("output folder " + args.output_dir + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(dir_info.st_mode)) {
    return usage_error("output folder " + args.output_dir + ": not a folder");
  }
  bmpresize::BatchSettings settings;
  settings.factor = args.factor;
  settings.jobs_at_once = args.jobs;
  settings.output_dir = args.output_dir;
  settings.quiet = args.quiet;
  settings.verbose = args.verbose;
  return bmpresize::run_batch(settings, args.files);
}

}  // namespace

int main(int argc, char** argv) {
  bmpresize::prepare_process();
  const Arguments args =
      bmpresize::parse_arguments(std::vector<std::string>(argv + 1, argv + argc));
  switch (args.action) {
    case bmpresize::Action::help:
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    case bmpresize::Action::version:
      std::printf("bmpresize %s\n", BMPRESIZE_VERSION);
      return 0;
    case bmpresize::Action::usage_error:
      return usage_error(args.problem);
    case bmpresize::Action::enlarge_batch:
      return enlarge_batch(args);
    case bmpresize::Action::enlarge:
      return enlarge(args);
  }
  return kExitUsage;
}
