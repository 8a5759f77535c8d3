// bmpresize: enlarge BMP files by a whole-number factor.
//
//   bmpresize [-q | -v] INPUT OUTPUT FACTOR
//   bmpresize [-q | -v] [-j N] -f FACTOR -o DIR FILE...
//   bmpresize [-q | -v] [-j N] -f FACTOR -o DIR [-0] --files-from LIST [FILE...]
//
// Exit status: 0 on success, 2 for a usage error, otherwise the library's
// result code (3 input, 4 output, 5 unsupported input, 6 too large, 7 I/O);
// with FILE..., that of the first FILE that failed, in argument order (then
// LIST's).
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "arguments.h"
#include "batch.h"
#include "bmpresize.h"
#include "console.h"
#include "enlarge.h"
#include "file_list.h"
#include "progress.h"
#include "report.h"

namespace {

using bmpresize::Arguments;

constexpr int kExitUsage = 2;
using bmpresize::kWorkBytes;

const char kUsage[] =
    "usage: bmpresize [-q | -v] INPUT OUTPUT FACTOR\n"
    "       bmpresize [-q | -v] [-j N] -f FACTOR -o DIR FILE...\n"
    "       bmpresize [-q | -v] [-j N] -f FACTOR -o DIR [-0] --files-from LIST\n"
    "                 [FILE...]\n"
    "Enlarge the BMP file INPUT by the whole number FACTOR (1 or more) into OUTPUT,\n"
    "or each FILE, then each file named in LIST, into the existing folder DIR under\n"
    "the same name. FACTOR may be ACROSSxDOWN (3x2: 3 times across, 2 down).\n";

const char kHelp[] =
    "\n"
    "Every pixel is repeated FACTOR times across and every row FACTOR times down\n"
    "(with ACROSSxDOWN, ACROSS times across and DOWN times down); nothing is\n"
    "blended, so the result is exact. Works in constant memory on images of any\n"
    "size, up to the 4 GiB limit of the BMP format.\n"
    "\n"
    "Accepted input: every uncompressed BMP, bottom-up or top-down: 1, 2, 4, 8,\n"
    "16, 24 or 32 bits per pixel, with or without colour masks; the headers of\n"
    "OS/2 (12, 16 and 64 bytes), Windows 3 (40), V2, V3, V4 and V5 (with its colour\n"
    "profile); and run-length encoded ones (RLE8, RLE4, OS/2's RLE24). The output\n"
    "is of the input's own kind: the same headers (but for the sizes), colour\n"
    "table, masks and encoding. Other compressed BMPs (JPEG, PNG, Huffman) are\n"
    "refused with a command that converts them. (The library function BMPResizer\n"
    "takes 24-bit files with the 40-byte header only.)\n"
    "\n"
    "INPUT - reads standard input and OUTPUT - writes standard output (a file\n"
    "named - is ./-). An existing OUTPUT is replaced only once the enlargement is\n"
    "complete: a failure or Ctrl-C leaves it as it was, and no partial file.\n"
    "\n"
    "Options:\n"
    "  -f, --factor FACTOR      enlarge each FILE by FACTOR (or ACROSSxDOWN)\n"
    "  -o, --output-dir DIR     write each FILE's enlargement into DIR under the\n"
    "                           FILE's own name; DIR must exist\n"
    "  -j, --jobs N             enlarge N files at once (default 1, at most 1024)\n"
    "      --files-from LIST    also enlarge the files named in LIST (- for standard\n"
    "                           input), one a line, exactly as written; read whole\n"
    "                           before the work starts\n"
    "  -0, --null               the names in LIST each end with a NUL byte, not a\n"
    "                           line break\n"
    "      --uncompressed       write run-length encoded inputs uncompressed, for\n"
    "                           readers without RLE (what no run draws: colour 0)\n"
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
    "find DIR -name '*.bmp' -print0 makes a LIST for -0 (bmpresize -f 2 -o big -0\n"
    "--files-from -); see the manual for xargs, GNU parallel, Slurm and Kubernetes.\n"
    "\n"
    "Exit status:\n"
    "  0  the output is complete (with FILE..., every output)\n"
    "  2  wrong arguments (with FILE..., also: DIR is not an existing folder, or\n"
    "     LIST cannot be read)\n"
    "  3  the input cannot be opened\n"
    "  4  the output cannot be created (or it is the input file, or another FILE\n"
    "     of the same name comes first)\n"
    "  5  the input is not a BMP of those kinds, or it is truncated or damaged\n"
    "  6  the enlarged image cannot be a BMP (factor below 1, over 4 GiB, ...)\n"
    "  7  a read or write failed (disk full, I/O error), or memory ran out\n"
    "With FILE..., the status is that of the first FILE that failed, in argument\n"
    "order, then LIST's order.\n";

int usage_error(const std::string& problem) {
  bmpresize::print_error("bmpresize: " + problem +
                         "\nTry 'bmpresize --help' for more information.\n");
  return kExitUsage;
}

// INPUT OUTPUT FACTOR.
int enlarge(const Arguments& args) {
  bmpresize::BatchConsole console(!args.quiet && bmpresize::stderr_is_terminal(), 1, 0, 1);
  // Not value-initialised: the rows overwrite whatever a page holds. Without
  // it, the engine's own buffer does.
  const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kWorkBytes]);
  bmpresize::Enlargement how;
  how.across = args.across;
  how.down = args.down;
  how.progress = &bmpresize::BatchConsole::report;
  how.progress_context = &console.slot(0);
  how.work = buffer.get();
  how.split = true;
  how.uncompressed = args.uncompressed;
  const double start = bmpresize::seconds_now();
  const bmpresize_result outcome = bmpresize::enlarge_file(args.input, args.output, how);
  console.finish();
  if (outcome.error != BMPRESIZE_OK) {
    if (bmpresize::reader_went_away(outcome)) {
      bmpresize::end_as_broken_pipe();  // as a filter ends: quietly, 141
    }
    bmpresize::print_error(bmpresize::failure_line(args.input, args.output, outcome));
    return bmpresize_exit_status(outcome.error);
  }
  if (const std::string warning = bmpresize::kind_warning(args.output); !warning.empty()) {
    bmpresize::print_error(warning);
  }
  if (args.verbose) {
    bmpresize::print_error(bmpresize::success_line(
        args.input, args.output, bmpresize::factor_text(args.across, args.down),
        outcome.output_bytes, bmpresize::seconds_now() - start));
  }
  return 0;
}

// -f FACTOR -o DIR FILE...: DIR must be an existing folder, and LIST one
// that can be read. Its names are all read before any work, because the
// run checks every FILE against the others (same names, outputs that are
// inputs); the images themselves are never held.
int enlarge_batch(Arguments args) {
  // A factor no file can take is said once, before any file is touched, as
  // the single-file form says it.
  if (args.across < 1 || args.down < 1) {
    bmpresize_result result{};
    result.error = BMPRESIZE_E_FACTOR_BELOW_ONE;
    result.have = static_cast<std::uint32_t>(args.across < 1 ? args.across : args.down);
    char line[128];
    bmpresize_message(&result, "", "", line, sizeof line);
    const std::string text(line);
    // The message names no file: what follows its ": " is the reason.
    bmpresize::print_error("bmpresize: " + text.substr(text.find(": ") + 2) + "\n");
    return bmpresize_exit_status(result.error);
  }
  const bmpresize::PathFacts dir = bmpresize::facts_of(args.output_dir);
  if (dir.error != 0) {
    return usage_error("output folder " + args.output_dir + ": " +
                       bmpresize::error_text(dir.error));
  }
  if (!dir.directory) {
    return usage_error("output folder " + args.output_dir + ": not a folder");
  }
  if (args.from_list) {
    if (const std::string problem =
            bmpresize::read_file_list(args.list, args.null_separated, args.files);
        !problem.empty()) {
      return usage_error(problem);
    }
  }
  return bmpresize::run_batch(args);
}

int run(const std::vector<std::string>& words) {
  Arguments args = bmpresize::parse_arguments(words);
  switch (args.action) {
    case bmpresize::Action::help:
      bmpresize::print_output(std::string(kUsage) + kHelp);
      return 0;
    case bmpresize::Action::version:
      bmpresize::print_output("bmpresize " BMPRESIZE_VERSION "\n");
      return 0;
    case bmpresize::Action::usage_error:
      return usage_error(args.problem);
    case bmpresize::Action::enlarge_batch:
      bmpresize_clean_up_on_interruption(&bmpresize::clear_progress_line_if_shown);
      return enlarge_batch(std::move(args));
    case bmpresize::Action::enlarge:
      bmpresize_clean_up_on_interruption(&bmpresize::clear_progress_line_if_shown);
      return enlarge(args);
  }
  return kExitUsage;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
  bmpresize::prepare_process();
  try {
    return run(bmpresize::utf8_arguments(argc, argv));
  } catch (const std::bad_alloc&) {
    // Every output under way went with its object.
    bmpresize::print_out_of_memory("");
    return bmpresize::kExitOutOfMemory;
  }
}
