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

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "bmpresizer.h"
#include "outcome.h"
#include "resize.h"

namespace {

using bmpresizer::Failure;
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

// One line, "bmpresize: FILE: reason\n", saying what is wrong with which of
// `input` and `output` and, where it helps, what to do; "" for success.
std::string failure_line(const char* input, const char* output, const Outcome& outcome) {
  const char* file = input;
  std::string reason;
  char text[256];
  switch (outcome.failure) {
    case Failure::none:
      return "";
    case Failure::input_open:
    case Failure::input_path_invalid:
      reason = std::string("cannot open: ") + std::strerror(outcome.error);
      break;
    case Failure::input_is_directory:
      reason = "is a directory, not a BMP file";
      break;
    case Failure::output_open:
    case Failure::output_path_invalid:
      file = output;
      reason = std::string("cannot create: ") + std::strerror(outcome.error);
      break;
    case Failure::output_is_input:
      file = output;
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
      file = output;
      std::snprintf(text, sizeof text, "factor %" PRId32 " is below 1; nothing to enlarge",
                    static_cast<std::int32_t>(static_cast<std::uint32_t>(outcome.have)));
      reason = text;
      break;
    case Failure::width_too_large:
    case Failure::height_too_large:
      file = output;
      std::snprintf(text, sizeof text,
                    "the enlarged image would be %" PRIu64
                    " pixels %s; BMP allows at most 2147483647",
                    outcome.want, outcome.failure == Failure::width_too_large ? "wide" : "high");
      reason = text;
      break;
    case Failure::file_too_large:
      file = output;
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
      file = output;
      reason =
          std::string("write error: ") + std::strerror(outcome.error) + "; the output was emptied";
      break;
    case Failure::close_failed:
      file = output;
      reason = std::string("could not finish writing: ") + std::strerror(outcome.error) +
               "; the output was emptied";
      break;
  }
  return std::string("bmpresize: ") + file + ": " + reason + "\n";
}

// "12.3 ms" or "4.56 s".
std::string duration_text(double seconds) {
  char text[32];
  if (seconds < 1) {
    std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000);
  } else {
    std::snprintf(text, sizeof text, "%.2f s", seconds);
  }
  return text;
}

// The -v line for a file enlarged in `seconds`.
std::string success_line(const char* input, const char* output, std::int32_t factor,
                         std::uint64_t output_bytes, double seconds) {
  return std::string("bmpresize: ") + input + ": enlarged " +
         std::to_string(static_cast<int>(factor)) + "x into " + output + " (" +
         human_bytes(static_cast<double>(output_bytes)) + ") in " + duration_text(seconds) + "\n";
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

// The last path component of `path`, ignoring trailing slashes, as basename(1)
// has it ("a/b.bmp" -> "b.bmp", "a/dir/" -> "dir").
std::string base_name(const std::string& path) {
  std::size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') {
    --end;
  }
  const std::size_t slash = path.rfind('/', end - (end > 0 ? 1 : 0));
  if (slash == std::string::npos || end <= 1) {
    return path.substr(0, end);
  }
  return path.substr(slash + 1, end - slash - 1);
}

// Standard error during a FILE... run: the lines of every worker, kept whole,
// and on a terminal a one-line progress bar for the whole run, drawn once it
// has lasted half a second and taken off before any line is printed.
class BatchConsole {
 public:
  // What one worker is converting; its address is the progress context.
  struct Slot {
    BatchConsole* owner = nullptr;
    std::atomic<std::uint64_t> input_size{0};
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> total{0};
  };

  BatchConsole(bool bar, std::size_t files, std::uint64_t input_bytes, std::size_t workers)
      : bar_(bar),
        files_(files),
        input_bytes_(input_bytes),
        slots_(workers),
        start_(seconds_now()) {
    for (Slot& slot : slots_) {
      slot.owner = this;
    }
  }

  Slot& slot(std::size_t worker) { return slots_[worker]; }

  static void report(void* context, std::uint64_t written, std::uint64_t total) {
    Slot* slot = static_cast<Slot*>(context);
    slot->total.store(total, std::memory_order_relaxed);
    slot->written.store(written, std::memory_order_relaxed);
    slot->owner->update();
  }

  void begin_file(Slot& slot, std::uint64_t input_size) {
    slot.written.store(0, std::memory_order_relaxed);
    slot.total.store(0, std::memory_order_relaxed);
    slot.input_size.store(input_size, std::memory_order_relaxed);
  }

  void end_file(Slot& slot, std::uint64_t output_bytes) {
    done_input_.fetch_add(slot.input_size.load(std::memory_order_relaxed),
                          std::memory_order_relaxed);
    slot.input_size.store(0, std::memory_order_relaxed);
    slot.written.store(0, std::memory_order_relaxed);
    slot.total.store(0, std::memory_order_relaxed);
    done_output_.fetch_add(output_bytes, std::memory_order_relaxed);
    done_files_.fetch_add(1, std::memory_order_relaxed);
    update();
  }

  // Writes `line` in one call, so that lines of concurrent workers never mix.
  void print(const std::string& line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::fputs(((drawn_ ? "\r\033[K" : "") + line).c_str(), stderr);
    drawn_ = false;
  }

  // Removes the bar so that whatever follows starts on a clean line.
  void finish() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (drawn_) {
      std::fputs("\r\033[K", stderr);
      drawn_ = false;
    }
  }

 private:
  static constexpr double kQuietSeconds = 0.5;
  static constexpr double kRedrawSeconds = 0.1;
  static constexpr int kBarWidth = 20;

  void update() {
    if (!bar_) {
      return;
    }
    const double now = seconds_now();
    // Most reports end here, without taking the lock.
    if (now - start_ < kQuietSeconds ||
        now - last_draw_.load(std::memory_order_relaxed) < kRedrawSeconds) {
      return;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    if (now - last_draw_.load(std::memory_order_relaxed) < kRedrawSeconds) {
      return;
    }
    last_draw_.store(now, std::memory_order_relaxed);
    draw(now - start_);
  }

  // The share of the work done is weighed by input sizes, which grow with the
  // output for a fixed factor; by file counts when no size is known.
  void draw(double elapsed) {
    const std::size_t files_done = done_files_.load(std::memory_order_relaxed);
    double weight_done = 0;
    double bytes_written = static_cast<double>(done_output_.load(std::memory_order_relaxed));
    for (const Slot& slot : slots_) {
      const std::uint64_t total = slot.total.load(std::memory_order_relaxed);
      const std::uint64_t written = slot.written.load(std::memory_order_relaxed);
      bytes_written += static_cast<double>(written);
      if (total > 0) {
        const double part = static_cast<double>(written) / static_cast<double>(total);
        weight_done +=
            input_bytes_ > 0
                ? part * static_cast<double>(slot.input_size.load(std::memory_order_relaxed))
                : part;
      }
    }
    double done = 0;
    if (input_bytes_ > 0) {
      weight_done += static_cast<double>(done_input_.load(std::memory_order_relaxed));
      done = weight_done / static_cast<double>(input_bytes_);
    } else {
      done = (weight_done + static_cast<double>(files_done)) / static_cast<double>(files_);
    }
    done = done < 0 ? 0 : done > 1 ? 1 : done;
    char bar[kBarWidth + 1];
    const int filled = static_cast<int>(done * kBarWidth);
    for (int i = 0; i < kBarWidth; ++i) {
      bar[i] = i < filled ? '#' : '-';
    }
    bar[kBarWidth] = '\0';
    char left[32] = "";
    if (done > 0) {
      const int seconds = static_cast<int>(elapsed * (1 - done) / done);
      std::snprintf(left, sizeof left, "  %d:%02d left", seconds / 60, seconds % 60);
    }
    char line[160];
    std::snprintf(line, sizeof line, "\r[%s] %zu/%zu files  %s  %s/s%s\033[K", bar, files_done,
                  files_, human_bytes(bytes_written).c_str(),
                  human_bytes(bytes_written / elapsed).c_str(), left);
    std::fputs(line, stderr);
    drawn_ = true;
  }

  const bool bar_;
  const std::size_t files_;
  const std::uint64_t input_bytes_;
  std::vector<Slot> slots_;
  const double start_;
  std::atomic<double> last_draw_{0};
  std::atomic<std::size_t> done_files_{0};
  std::atomic<std::uint64_t> done_input_{0};
  std::atomic<std::uint64_t> done_output_{0};
  std::mutex mutex_;  // guards drawn_ and every write to standard error
  bool drawn_ = false;
};

// One FILE of the run.
struct Job {
  std::string input;
  std::string output;
  std::uint64_t input_size = 0;  // 0 when unknown; only weighs the progress bar
  std::string refusal;           // a failure line when the file is refused unconverted
};

// Where each FILE goes, with the files refused before any work: a FILE whose
// name an earlier FILE already has, and a FILE whose output is another FILE
// of the run (through a link), which writing it would destroy.
std::vector<Job> plan_jobs(const std::vector<const char*>& files, const std::string& dir) {
  const std::string folder = dir.back() == '/' ? dir : dir + "/";
  std::vector<Job> jobs(files.size());
  std::map<std::string, std::size_t> first_with_name;
  std::map<std::pair<dev_t, ino_t>, std::size_t> input_index;
  for (std::size_t i = 0; i < files.size(); ++i) {
    Job& job = jobs[i];
    job.input = files[i];
    const std::string name = base_name(job.input);
    job.output = folder + name;
    const auto first = first_with_name.emplace(name, i);
    if (!first.second) {
      job.refusal = "bmpresize: " + job.input + ": same name as " +
                    jobs[first.first->second].input + "; both would be written to " + job.output +
                    ", so it was skipped\n";
    }
    struct stat info {};
    if (stat(files[i], &info) == 0) {
      input_index.emplace(std::make_pair(info.st_dev, info.st_ino), i);
      if (S_ISREG(info.st_mode)) {
        job.input_size = static_cast<std::uint64_t>(info.st_size);
      }
    }
  }
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    Job& job = jobs[i];
    struct stat info {};
    if (!job.refusal.empty() || stat(job.output.c_str(), &info) != 0) {
      continue;
    }
    const auto other = input_index.find(std::make_pair(info.st_dev, info.st_ino));
    // The output being its own input is the core's to refuse.
    if (other != input_index.end() && jobs[other->second].input != job.input) {
      job.refusal = "bmpresize: " + job.output + ": is the same file as the input " +
                    jobs[other->second].input + "; refusing to overwrite it\n";
    }
  }
  return jobs;
}

// The FILE... form: enlarges every FILE into the folder of -o, -j at a time,
// and returns the exit status.
int run_batch(const Options& options, const std::vector<const char*>& files) {
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

  const std::vector<Job> jobs = plan_jobs(files, options.output_dir);
  std::uint64_t input_bytes = 0;
  for (const Job& job : jobs) {
    input_bytes += job.input_size;
  }
  const std::size_t workers = jobs_at_once < jobs.size() ? jobs_at_once : jobs.size();
  BatchConsole console(!options.quiet && isatty(STDERR_FILENO) != 0, jobs.size(), input_bytes,
                       workers);
  // Each slot is written by the one worker that took its index and read
  // after every worker has been joined.
  std::vector<int> status(jobs.size(), 0);
  std::vector<std::uint64_t> written(jobs.size(), 0);
  std::atomic<std::size_t> next{0};
  const double start = seconds_now();

  const auto work = [&](std::size_t worker) {
    BatchConsole::Slot& slot = console.slot(worker);
    bmpresizer::Progress progress;
    progress.report = &BatchConsole::report;
    progress.context = &slot;
    for (std::size_t i = next.fetch_add(1); i < jobs.size(); i = next.fetch_add(1)) {
      const Job& job = jobs[i];
      console.begin_file(slot, job.input_size);
      if (!job.refusal.empty()) {
        status[i] = BMPRESIZER_CANNOT_OPEN_OUTPUT;
        console.end_file(slot, 0);
        console.print(job.refusal);
        continue;
      }
      const double file_start = seconds_now();
      const Outcome outcome =
          bmpresizer::resize_files(job.input.c_str(), job.output.c_str(), factor, &progress);
      console.end_file(slot, outcome.ok() ? outcome.output_bytes : 0);
      if (!outcome.ok()) {
        status[i] = bmpresizer::result_code(outcome);
        console.print(failure_line(job.input.c_str(), job.output.c_str(), outcome));
      } else {
        written[i] = outcome.output_bytes;
        if (options.verbose) {
          console.print(success_line(job.input.c_str(), job.output.c_str(), factor,
                                     outcome.output_bytes, seconds_now() - file_start));
        }
      }
    }
  };

  std::vector<std::thread> threads;
  for (std::size_t worker = 1; worker < workers; ++worker) {
    try {
      threads.emplace_back(work, worker);
    } catch (const std::system_error&) {
      break;  // the workers already started, and this thread, take the rest
    }
  }
  work(0);
  for (std::thread& thread : threads) {
    thread.join();
  }
  console.finish();

  int exit_status = 0;
  std::size_t failed = 0;
  std::uint64_t total_written = 0;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (status[i] != 0) {
      ++failed;
      if (exit_status == 0) {
        exit_status = status[i];
      }
    }
    total_written += written[i];
  }
  if (failed > 0 || (options.verbose && jobs.size() > 1)) {
    char summary[160];
    std::snprintf(summary, sizeof summary, "bmpresize: %zu of %zu %s enlarged, %zu failed",
                  jobs.size() - failed, jobs.size(), jobs.size() == 1 ? "file" : "files", failed);
    std::string line = summary;
    if (options.verbose) {
      line += " (" + human_bytes(static_cast<double>(total_written)) + " in " +
              duration_text(seconds_now() - start) + ")";
    }
    console.print(line + "\n");
  }
  return exit_status;
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
    return run_batch(options, positional);
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
