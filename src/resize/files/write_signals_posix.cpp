#include "write_signals.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace bmpresizer {
namespace {

constexpr int kWriteSignals[] = {SIGPIPE, SIGXFSZ};

}  // namespace

WriteSignalsBlocked::WriteSignalsBlocked() {
  static_assert(sizeof kWriteSignals / sizeof kWriteSignals[0] == kCount, "one flag per signal");
  sigset_t pending;
  sigemptyset(&pending);
  const bool known = sigpending(&pending) == 0;
  sigemptyset(&blocked_set_);
  for (int i = 0; i < kCount; ++i) {
    sigaddset(&blocked_set_, kWriteSignals[i]);
    pending_before_[i] = !known || sigismember(&pending, kWriteSignals[i]) == 1;
  }
  blocked_ = pthread_sigmask(SIG_BLOCK, &blocked_set_, &saved_) == 0;
}

WriteSignalsBlocked::~WriteSignalsBlocked() {
  if (!blocked_) {
    return;
  }
  sigset_t pending;
  sigemptyset(&pending);
  for (int i = 0; i < kCount; ++i) {
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

}  // namespace bmpresizer
