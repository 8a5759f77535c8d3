// The exported function on POSIX systems: the frame around the resize core.
// It turns the caller's wide paths into UTF-8, runs the library's resize,
// prints the one console line and maps the outcome to the public code, as a
// guest in the host's process: it never kills the host with SIGPIPE or
// SIGXFSZ and allocates nothing.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "bmpresizer.h"
#include "call_memory.h"
#include "resize_files.h"
#include "wide_path.h"

namespace {

// The signals a write sends instead of failing: SIGPIPE for a pipe nobody
// reads, SIGXFSZ past the host's file-size limit (RLIMIT_FSIZE). Either
// would end the host.
constexpr int kWriteSignals[] = {SIGPIPE, SIGXFSZ};
constexpr int kWriteSignalCount = 2;

// Blocks the write signals in the calling thread while it lives, so that
// such a write fails (EPIPE, EFBIG) instead of ending the host. A signal
// that the call made pending is consumed before the host's mask returns;
// one pending before the call is left for the host.
class WriteSignalsBlocked {
 public:
  WriteSignalsBlocked() {
    sigset_t pending;
    sigemptyset(&pending);
    const bool known = sigpending(&pending) == 0;
    sigemptyset(&blocked_set_);
    for (int i = 0; i < kWriteSignalCount; ++i) {
      sigaddset(&blocked_set_, kWriteSignals[i]);
      pending_before_[i] = !known || sigismember(&pending, kWriteSignals[i]) == 1;
    }
    blocked_ = pthread_sigmask(SIG_BLOCK, &blocked_set_, &saved_) == 0;
  }
  ~WriteSignalsBlocked() {
    if (!blocked_) {
      return;
    }
    sigset_t pending;
    sigemptyset(&pending);
    for (int i = 0; i < kWriteSignalCount; ++i) {
      if (!pending_before_[i] && sigpending(&pending) == 0 &&
          sigismember(&pending, kWriteSignals[i]) == 1) {
        sigset_t just_this;
        sigemptyset(&just_this);
        sigaddset(&just_this, kWriteSignals[i]);
        const timespec no_wait{};
        while (sigtimedwait(&just_this, nullptr, &no_wait) < 0 && errno == EINTR) {
        }
      }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  WriteSignalsBlocked(const WriteSignalsBlocked&) = delete;
  WriteSignalsBlocked& operator=(const WriteSignalsBlocked&) = delete;

 private:
  sigset_t blocked_set_{};
  sigset_t saved_{};
  bool pending_before_[kWriteSignalCount] = {};
  bool blocked_ = false;
};

// "Could not open <path>.\n" on standard output, after whatever the host
// has buffered there, in one write and without the C library's buffer (which
// it would allocate on first use). A closed or broken standard output just
// loses the line.
void print_could_not_open(const char* path) {
  std::fflush(stdout);
  const char before[] = "Could not open ";
  const char after[] = ".\n";
  const bmpresizer::ByteSpan parts[] = {
      {reinterpret_cast<const std::uint8_t*>(before), sizeof before - 1},
      {reinterpret_cast<const std::uint8_t*>(path), std::strlen(path)},
      {reinterpret_cast<const std::uint8_t*>(after), sizeof after - 1}};
  int error = 0;
  bmpresizer::write_all(bmpresizer::standard_output(), parts, 3, error);
}

}  // namespace

extern "C" BMPRESIZER_API int BMPResizer(const wchar_t* input, const wchar_t* output, int factor) {
  using bmpresizer::PathConversion;
  const WriteSignalsBlocked write_signals_blocked;
  bmpresizer::FilePair files;
  bmpresizer::Outcome outcome;
  {
    const bmpresizer::BorrowedPaths paths;
    bmpresizer::PathRoom& room = paths.room();
    // Both paths are converted before any file is opened.
    const bool input_usable =
        bmpresizer::to_byte_path(input, room.input) == PathConversion::converted;
    const bool output_usable =
        bmpresizer::to_byte_path(output, room.output) == PathConversion::converted;
    outcome = bmpresizer::open_files(input_usable ? room.input : nullptr,
                                     output_usable ? room.output : nullptr, room.scratch, files);
    if (bmpresizer::result_code(outcome) == BMPRESIZER_CANNOT_OPEN_INPUT) {
      print_could_not_open(room.input);
      return BMPRESIZER_CANNOT_OPEN_INPUT;
    }
  }
  if (outcome.ok()) {
    const bmpresizer::BorrowedWork work;
    bool empty_by_name = false;
    outcome = bmpresizer::resize_open_files(files, factor, work.buffer(), empty_by_name);
    if (empty_by_name) {
      const bmpresizer::BorrowedPaths paths;
      char(&path)[bmpresizer::kPathBufferBytes] = paths.room().output;
      if (bmpresizer::to_byte_path(output, path) == PathConversion::converted) {
        bmpresizer::truncate_to_empty(static_cast<bmpresizer::NativePath>(path));
      }
    }
  }
  return bmpresizer::result_code(outcome);
}
