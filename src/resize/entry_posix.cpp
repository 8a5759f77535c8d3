// The exported function on POSIX systems: the frame around the resize core.
// It turns the caller's wide paths into UTF-8, runs the library's resize,
// prints the one console line and maps the outcome to the public code, as a
// guest in the host's process: it never kills the host with SIGPIPE and
// allocates nothing.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "bmpresizer.h"
#include "resize_files.h"
#include "wide_path.h"

namespace {

// Blocks SIGPIPE in the calling thread while it lives, so that a write to a
// pipe nobody reads fails with EPIPE instead of ending the host. A SIGPIPE
// that the call made pending is consumed before the host's mask returns; one
// pending before the call is left for the host.
class SigpipeBlocked {
 public:
  SigpipeBlocked() {
    sigemptyset(&sigpipe_);
    sigaddset(&sigpipe_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    pending_before_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    blocked_ = pthread_sigmask(SIG_BLOCK, &sigpipe_, &saved_) == 0;
  }
  ~SigpipeBlocked() {
    if (!blocked_) {
      return;
    }
    sigset_t pending;
    sigemptyset(&pending);
    if (!pending_before_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
      const timespec no_wait{};
      while (sigtimedwait(&sigpipe_, nullptr, &no_wait) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  SigpipeBlocked(const SigpipeBlocked&) = delete;
  SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

 private:
  sigset_t sigpipe_{};
  sigset_t saved_{};
  bool pending_before_ = false;
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
  const SigpipeBlocked sigpipe_blocked;
  // Both paths are converted before any file is opened.
  char input_path[bmpresizer::kPathBufferBytes];
  char output_path[bmpresizer::kPathBufferBytes];
  const bool input_usable =
      bmpresizer::to_byte_path(input, input_path) == PathConversion::converted;
  const bool output_usable =
      bmpresizer::to_byte_path(output, output_path) == PathConversion::converted;
  const bmpresizer::Outcome outcome = bmpresizer::resize_files(
      input_usable ? input_path : nullptr, output_usable ? output_path : nullptr, factor);
  const int code = bmpresizer::result_code(outcome);
  if (code == BMPRESIZER_CANNOT_OPEN_INPUT) {
    print_could_not_open(input_path);
  }
  return code;
}
