// Progress on standard error, for a terminal: one renderer for the line,
// and the console of a run, which keeps the lines of concurrent workers
// whole.
#ifndef BMPRESIZE_PROGRESS_H
#define BMPRESIZE_PROGRESS_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace bmpresize {

// What a progress line shows.
struct ProgressFields {
  double done = 0;              // share of the work done, 0 to 1
  std::string amount;           // "1.1 GiB / 3.4 GiB", "3/9 files  1.1 GiB"
  double bytes_per_second = 0;  // 0: not shown
  double seconds_left = -1;     // below 0: not shown
};

// Clears a progress line that is on the terminal, in one write: an
// interruption's last words (async-signal-safe).
void clear_progress_line_if_shown();

// "[#########------]  31%  1.1 GiB / 3.4 GiB  2.1 GiB/s  0:01 left", no
// longer than `columns` - 1 characters, so that a terminal never wraps it:
// the bar shortens first, then the time left, the rate and the amount go.
std::string render_progress(const ProgressFields& fields, int columns);

// When a line may be drawn: not before a run has lasted long enough for it
// to help, then at most ten times a second.
class Throttle {
 public:
  explicit Throttle(double start) : start_(start) {}
  // Whether to draw now; if so, counts this as a drawing.
  bool due(double now);
  double elapsed(double now) const { return now - start_; }

 private:
  double start_;
  std::atomic<double> last_{0};
};

// Standard error during a run: the lines of every worker, kept whole, and
// on a terminal one progress line for the whole run, taken off before any
// line is printed. For one file the line counts bytes, for several files.
class BatchConsole {
 public:
  // What one worker is converting; its address is the progress context.
  struct Slot {
    BatchConsole* owner = nullptr;
    std::atomic<std::uint64_t> input_size{0};
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> total{0};
  };

  BatchConsole(bool bar, std::size_t files, std::uint64_t input_bytes, std::size_t workers);

  Slot& slot(std::size_t worker) { return slots_[worker]; }

  // A progress callback of the engine; `context` is a Slot. Never stops the
  // work (0).
  static int report(void* context, std::uint64_t written, std::uint64_t total);

  void begin_file(Slot& slot, std::uint64_t input_size);
  void end_file(Slot& slot, std::uint64_t output_bytes);

  // Writes `line` in one call, so that lines of concurrent workers never mix.
  void print(const std::string& line);

  // Removes the progress line so that whatever follows starts on a clean line.
  void finish();

 private:
  void update();
  ProgressFields fields(double elapsed) const;

  const bool bar_;
  const std::size_t files_;
  const std::uint64_t input_bytes_;
  std::vector<Slot> slots_;
  Throttle throttle_;
  std::atomic<std::size_t> done_files_{0};
  std::atomic<std::uint64_t> done_input_{0};
  std::atomic<std::uint64_t> done_output_{0};
  std::mutex mutex_;  // guards drawn_ and every write to standard error
  bool drawn_ = false;
};

}  // namespace bmpresize

#endif
