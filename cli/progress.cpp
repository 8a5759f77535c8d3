#include "progress.h"

#include <cstdio>

#include "bmpresize.h"
#include "console.h"
#include "report.h"

namespace bmpresize {
namespace {

constexpr double kQuietSeconds = 0.5;
constexpr double kRedrawSeconds = 0.1;
constexpr int kWidestBar = 30;
constexpr int kNarrowestBar = 10;
// Room left at the end of the line for the "^C" a terminal echoes when
// Ctrl-C is pressed: were it to wrap, the clearing of the line would clear
// the wrong one.
constexpr int kEchoColumns = 2;
const char kClearLine[] = "\r\033[K";
// Whether a progress line is on the terminal, for the clean-up after an
// interruption.
std::atomic<bool> progress_line_shown{false};

// Draws `line` in place of the one shown, before any clean-up after an
// interruption (which clears it) and never after one has begun.
void draw(const std::string& line) {
  std::string shown = kClearLine + line;
  bmpresize_unless_interrupted(
      [](void* text) {
        print_error(*static_cast<const std::string*>(text));
        progress_line_shown.store(true);
      },
      &shown);
}

std::string time_left(double seconds) {
  const long whole = static_cast<long>(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld left", whole / 60, whole % 60);
  return text;
}

// The whole units of `total` that `done` covers. The nudge keeps a share
// such as 0.31 of 100 at 31 where the arithmetic is done in 80 bits (x87)
// and lands a hair below.
int whole_part(double done, int total) { return static_cast<int>(done * total + 1e-9); }

std::string bar_of(double done, int width) {
  const int filled = whole_part(done, width);
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(width - filled), '-') + "]";
}

}  // namespace

void clear_progress_line_if_shown() {
  if (progress_line_shown.load()) {
    write_error_bytes(kClearLine, sizeof kClearLine - 1);
  }
}

std::string render_progress(const ProgressFields& fields, int columns) {
  const double done = fields.done < 0 ? 0 : fields.done > 1 ? 1 : fields.done;
  char percent[8];
  std::snprintf(percent, sizeof percent, " %3d%%", whole_part(done, 100));
  std::vector<std::string> extras;  // in the order they are dropped, last first
  extras.push_back("  " + fields.amount);
  if (fields.bytes_per_second > 0) {
    extras.push_back("  " + human_bytes(fields.bytes_per_second) + "/s");
  }
  if (fields.seconds_left >= 0) {
    extras.push_back("  " + time_left(fields.seconds_left));
  }
  const auto room = static_cast<std::size_t>(columns > 1 ? columns - 1 : 0);
  for (;;) {
    std::size_t length = std::string(percent).size();
    for (const std::string& extra : extras) {
      length += extra.size();
    }
    const std::size_t bar_room = room > length + 2 ? room - length - 2 : 0;  // the brackets
    if (bar_room >= kNarrowestBar || extras.empty()) {
      const int width = bar_room < kWidestBar ? static_cast<int>(bar_room) : kWidestBar;
      std::string line = width >= kNarrowestBar ? bar_of(done, width) : std::string();
      line += percent;
      for (const std::string& extra : extras) {
        line += extra;
      }
      return line.size() <= room ? line : line.substr(0, room);
    }
    extras.pop_back();
  }
}

bool Throttle::due(double now) {
  if (now - start_ < kQuietSeconds ||
      now - last_.load(std::memory_order_relaxed) < kRedrawSeconds) {
    return false;
  }
  last_.store(now, std::memory_order_relaxed);
  return true;
}

BatchConsole::BatchConsole(bool bar, std::size_t files, std::uint64_t input_bytes,
                           std::size_t workers)
    : bar_(bar),
      files_(files),
      input_bytes_(input_bytes),
      slots_(workers),
      throttle_(seconds_now()) {
  for (Slot& slot : slots_) {
    slot.owner = this;
  }
}

int BatchConsole::report(void* context, std::uint64_t written, std::uint64_t total) {
  Slot* slot = static_cast<Slot*>(context);
  slot->total.store(total, std::memory_order_relaxed);
  slot->written.store(written, std::memory_order_relaxed);
  slot->owner->update();
  return 0;
}

void BatchConsole::begin_file(Slot& slot, std::uint64_t input_size) {
  slot.written.store(0, std::memory_order_relaxed);
  slot.total.store(0, std::memory_order_relaxed);
  slot.input_size.store(input_size, std::memory_order_relaxed);
}

void BatchConsole::end_file(Slot& slot, std::uint64_t output_bytes) {
  done_input_.fetch_add(slot.input_size.load(std::memory_order_relaxed), std::memory_order_relaxed);
  slot.input_size.store(0, std::memory_order_relaxed);
  slot.written.store(0, std::memory_order_relaxed);
  slot.total.store(0, std::memory_order_relaxed);
  done_output_.fetch_add(output_bytes, std::memory_order_relaxed);
  done_files_.fetch_add(1, std::memory_order_relaxed);
  update();
}

void BatchConsole::print(const std::string& line) {
  const std::lock_guard<std::mutex> lock(mutex_);
  print_error((drawn_ ? kClearLine : "") + line);
  drawn_ = false;
  progress_line_shown.store(false);
}

void BatchConsole::finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_) {
    print_error(kClearLine);
  }
  drawn_ = false;
  progress_line_shown.store(false);
}

void BatchConsole::update() {
  if (!bar_) {
    return;
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  const double now = seconds_now();
  if (!throttle_.due(now)) {
    return;
  }
  draw(render_progress(fields(throttle_.elapsed(now)), terminal_columns() - kEchoColumns));
  drawn_ = true;
}

// The share of the work done is weighed by input sizes, which grow with the
// output for a fixed factor; by file counts when no size is known.
ProgressFields BatchConsole::fields(double elapsed) const {
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
  ProgressFields out;
  if (input_bytes_ > 0) {
    weight_done += static_cast<double>(done_input_.load(std::memory_order_relaxed));
    out.done = weight_done / static_cast<double>(input_bytes_);
  } else {
    out.done = (weight_done + static_cast<double>(files_done)) / static_cast<double>(files_);
  }
  out.amount = files_ == 1 ? human_bytes(bytes_written) + " / " +
                                 human_bytes(static_cast<double>(slots_[0].total.load()))
                           : std::to_string(files_done) + "/" + std::to_string(files_) +
                                 " files  " + human_bytes(bytes_written);
  out.bytes_per_second = bytes_written / elapsed;
  if (out.done > 0 && out.done < 1) {
    out.seconds_left = elapsed * (1 - out.done) / out.done;
  }
  return out;
}

}  // namespace bmpresize
