// Progress on standard error, for a terminal: a one-line bar for one file,
// and the console of a FILE... run, which keeps the lines of concurrent
// workers whole.
#ifndef BMPRESIZE_PROGRESS_H
#define BMPRESIZE_PROGRESS_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "report.h"

namespace bmpresize {

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

}  // namespace bmpresize

#endif
