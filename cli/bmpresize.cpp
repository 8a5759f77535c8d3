// bmpresize: enlarge a 24-bit BMP file by a whole-number factor.
//
//   bmpresize [-q | -v] INPUT OUTPUT FACTOR
//
// Exit status: 0 on success, 2 for a usage error, otherwise the library's
// result code (3 input, 4 output, 5 unsupported input, 6 too large, 7 I/O).
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bmpresizer.h"
#include "outcome.h"
#include "resize.h"

namespace {

using bmpresizer::Failure;
using bmpresizer::Outcome;

constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: bmpresize [-q | -v] INPUT OUTPUT FACTOR\n"
    "Enlarge the 24-bit BMP file INPUT by the whole number FACTOR (1 or more) into OUTPUT.\n";

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
    "  -q, --quiet     no progress bar\n"
    "  -v, --verbose   print a summary line on success\n"
    "  -h, --help      show this help and exit\n"
    "      --version   show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0  the output is complete\n"
    "  2  wrong arguments\n"
    "  3  the input cannot be opened\n"
    "  4  the output cannot be created (or it is the input file)\n"
    "  5  the input is not a 24-bit uncompressed BMP, or it is truncated\n"
    "  6  the enlarged image cannot be a BMP (factor below 1, over 4 GiB, ...)\n"
    "  7  a read or write failed (disk full, I/O error); the output is emptied\n";

struct Options {
  bool quiet = false;
  bool verbose = false;
  const char* input = nullptr;
  const char* output = nullptr;
  const char* factor = nullptr;
};

double seconds_now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string human_bytes(double bytes) {
  const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (bytes >= 1024.0 && unit < 4) {
    bytes /= 1024.0;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%.0f %s", bytes, units[unit]);
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", bytes, units[unit]);
  }
  return text;
}

// A one-line progress bar on standard error, drawn only on a terminal and
// only once a run has lasted long enough for it to help.
class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled), start_(seconds_now()) {}

  static void report(void* context, std::uint64_t written, std::uint64_t total) {
    static_cast<ProgressBar*>(context)->update(written, total);
  }

  void update(std::uint64_t written, std::uint64_t total) {
    if (!enabled_ || total == 0) {
      return;
    }
    const double now = seconds_now();
    const double elapsed = now - start_;
    if (elapsed < kQuietSeconds || now - last_draw_ < kRedrawSeconds) {
      return;
    }
    last_draw_ = now;
    const double done = static_cast<double>(written) / static_cast<double>(total);
    const double rate = static_cast<double>(written) / elapsed;
    const double left = rate > 0 ? static_cast<double>(total - written) / rate : 0;
    char bar[kBarWidth + 1];
    const int filled = static_cast<int>(done * kBarWidth);
    for (int i = 0; i < kBarWidth; ++i) {
      bar[i] = i < filled ? '#' : '-';
    }
    bar[kBarWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%  %s / %s  %s/s  %d:%02d left\033[K", bar,
                 static_cast<int>(done * 100), human_bytes(static_cast<double>(written)).c_str(),
                 human_bytes(static_cast<double>(total)).c_str(), human_bytes(rate).c_str(),
                 static_cast<int>(left) / 60, static_cast<int>(left) % 60);
    std::fflush(stderr);
    drawn_ = true;
  }

  // Removes the bar so that whatever follows starts on a clean line.
  void finish() {
    if (drawn_) {
      std::fputs("\r\033[K", stderr);
      std::fflush(stderr);
    }
  }

 private:
  static constexpr double kQuietSeconds = 0.5;
  static constexpr double kRedrawSeconds = 0.1;
  static constexpr int kBarWidth = 30;
  bool enabled_;
  double start_;
  double last_draw_ = 0;
  bool drawn_ = false;
};

const char* info_header_name(std::uint64_t size) {
  switch (size) {
    case 12:
      return " (OS/2 1.x)";
    case 16:
    case 64:
      return " (OS/2 2.x)";
    case 52:
      return " (V2)";
    case 56:
      return " (V3)";
    case 108:
      return " (V4)";
    case 124:
      return " (V5)";
    default:
      return "";
  }
}

const char* compression_name(std::uint64_t method) {
  switch (method) {
    case 1:
      return "RLE8";
    case 2:
      return "RLE4";
    case 3:
      return "BITFIELDS";
    case 4:
      return "JPEG";
    case 5:
      return "PNG";
    case 6:
      return "ALPHABITFIELDS";
    default:
      return "unknown";
  }
}

const char kResave[] = "re-save it as a plain 24-bit BMP";

// One line saying what is wrong with which file and, where it helps, what to do.
void report_failure(const Options& options, const Outcome& outcome) {
  const char* file = options.input;
  std::string reason;
  char text[256];
  switch (outcome.failure) {
    case Failure::none:
      return;
    case Failure::input_open:
    case Failure::input_path_invalid:
      reason = std::string("cannot open: ") + std::strerror(outcome.error);
      break;
    case Failure::input_is_directory:
      reason = "is a directory, not a BMP file";
      break;
    case Failure::output_open:
    case Failure::output_path_invalid:
      file = options.output;
      reason = std::string("cannot create: ") + std::strerror(outcome.error);
      break;
    case Failure::output_is_input:
      file = options.output;
      reason = "output is the same file as the input";
      break;
    case Failure::not_bmp:
      reason = "not a BMP file (it does not start with \"BM\")";
      break;
    case Failure::header_truncated:
      std::snprintf(text, sizeof text,
                    "file is truncated: %" PRIu64 " bytes, a BMP header needs %" PRIu64,
                    outcome.have, outcome.want);
      reason = text;
      break;
    case Failure::info_header_size:
      std::snprintf(text, sizeof text,
                    "%" PRIu64 "-byte%s header; only the 40-byte header is supported: %s",
                    outcome.have, info_header_name(outcome.have), kResave);
      reason = text;
      break;
    case Failure::pixel_offset:
      std::snprintf(text, sizeof text,
                    "pixel data starts at byte %" PRIu64
                    " (a colour table or a gap comes first); only byte 54 is supported: %s",
                    outcome.have, kResave);
      reason = text;
      break;
    case Failure::bit_count:
      std::snprintf(text, sizeof text,
                    "%" PRIu64 " bits per pixel; only 24-bit uncompressed BMP is supported",
                    outcome.have);
      reason = text;
      break;
    case Failure::compression:
      std::snprintf(text, sizeof text,
                    "compressed (%s); only 24-bit uncompressed BMP is supported: %s",
                    compression_name(outcome.have), kResave);
      reason = text;
      break;
    case Failure::negative_width:
      std::snprintf(text, sizeof text, "negative width (%" PRId32 "); the header is damaged",
                    static_cast<std::int32_t>(static_cast<std::uint32_t>(outcome.have)));
      reason = text;
      break;
    case Failure::pixels_truncated:
      if (outcome.want == UINT64_MAX) {
        std::snprintf(text, sizeof text,
                      "file is truncated: the header declares more bytes than"
                      " any file can hold");
      } else {
        std::snprintf(text, sizeof text,
                      "file is truncated: the header declares %" PRIu64
                      " bytes, the file has %" PRIu64,
                      outcome.want, outcome.have);
      }
      reason = text;
      break;
    case Failure::factor_below_one:
      file = options.output;
      std::snprintf(text, sizeof text, "factor %" PRId32 " is below 1; nothing to enlarge",
                    static_cast<std::int32_t>(static_cast<std::uint32_t>(outcome.have)));
      reason = text;
      break;
    case Failure::width_too_large:
    case Failure::height_too_large:
      file = options.output;
      std::snprintf(text, sizeof text,
                    "the enlarged image would be %" PRIu64
                    " pixels %s; BMP allows at most 2147483647",
                    outcome.want, outcome.failure == Failure::width_too_large ? "wide" : "high");
      reason = text;
      break;
    case Failure::file_too_large:
      file = options.output;
      reason = "the enlarged image would be " + human_bytes(static_cast<double>(outcome.want)) +
               "; BMP files cannot exceed 4 GiB";
      break;
    case Failure::read_failed:
      reason = std::string("read error: ") + std::strerror(outcome.error);
      break;
    case Failure::input_shrank:
      reason = "the file became shorter while it was being read";
      break;
    case Failure::write_failed:
      file = options.output;
      reason =
          std::string("write error: ") + std::strerror(outcome.error) + "; the output was emptied";
      break;
    case Failure::close_failed:
      file = options.output;
      reason = std::string("could not finish writing: ") + std::strerror(outcome.error) +
               "; the output was emptied";
      break;
  }
  std::fprintf(stderr, "bmpresize: %s: %s\n", file, reason.c_str());
}

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

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const char* positional[3] = {};
  int count = 0;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!options_done && arg[0] == '-' && arg[1] != '\0' && !(arg[1] >= '0' && arg[1] <= '9')) {
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
      } else {
        return usage_error((std::string("unknown option ") + arg).c_str());
      }
      continue;
    }
    if (count == 3) {
      return usage_error("too many arguments");
    }
    positional[count++] = arg;
  }
  if (count < 3) {
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
    report_failure(options, outcome);
    return bmpresizer::result_code(outcome);
  }
  if (options.verbose) {
    const double elapsed = seconds_now() - start;
    char took[32];
    if (elapsed < 1) {
      std::snprintf(took, sizeof took, "%.1f ms", elapsed * 1000);
    } else {
      std::snprintf(took, sizeof took, "%.2f s", elapsed);
    }
    std::fprintf(stderr, "bmpresize: %s: enlarged %dx into %s (%s) in %s\n", options.input,
                 static_cast<int>(factor), options.output,
                 human_bytes(static_cast<double>(outcome.output_bytes)).c_str(), took);
  }
  return 0;
}
