// A library call is a guest in its host's process: a write must fail rather
// than end the host.
#ifndef BMPRESIZER_FILES_WRITE_SIGNALS_H
#define BMPRESIZER_FILES_WRITE_SIGNALS_H

#ifndef _WIN32
#include <signal.h>
#endif

namespace bmpresizer {

#ifndef _WIN32
// Blocks SIGPIPE (a pipe nobody reads) and SIGXFSZ (past the host's
// file-size limit) in the calling thread while it lives, so that such a
// write fails (EPIPE, EFBIG) instead of ending the host; threads the call
// starts meanwhile inherit the mask. A signal that the call made pending is
// consumed before the host's mask returns; one pending before the call is
// left for the host.
class WriteSignalsBlocked {
 public:
  WriteSignalsBlocked();
  ~WriteSignalsBlocked();
  WriteSignalsBlocked(const WriteSignalsBlocked&) = delete;
  WriteSignalsBlocked& operator=(const WriteSignalsBlocked&) = delete;

 private:
  static constexpr int kCount = 2;
  sigset_t blocked_set_{};
  sigset_t saved_{};
  bool pending_before_[kCount] = {};
  bool blocked_ = false;
};
#else
// Windows has no such signals.
class WriteSignalsBlocked {
 public:
  WriteSignalsBlocked() {}   // NOLINT(modernize-use-equals-default): a guard, not a value
  ~WriteSignalsBlocked() {}  // NOLINT(modernize-use-equals-default)
  WriteSignalsBlocked(const WriteSignalsBlocked&) = delete;
  WriteSignalsBlocked& operator=(const WriteSignalsBlocked&) = delete;
};
#endif

}  // namespace bmpresizer

#endif
