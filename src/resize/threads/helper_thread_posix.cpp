#include "helper_thread.h"

#include <ctime>

namespace bmpresizer {
namespace {

void* run_thread(void* argument) {
  static_cast<HelperThread*>(argument)->run_on_new_thread();
  return nullptr;
}

#if defined(__linux__)
// The `nth` processor in `allowed` after `from`, round the set and past
// `from` itself (so the helpers of a job spread over the others); -1 when
// the set has no other.
int processor_after(const cpu_set_t& allowed, int from, std::size_t nth) {
  if (from < 0 || from >= CPU_SETSIZE || nth == 0) {
    return -1;
  }
  const auto self = static_cast<std::size_t>(from);
  const int others = CPU_COUNT(&allowed) - (CPU_ISSET(self, &allowed) ? 1 : 0);
  if (others < 1) {
    return -1;
  }
  std::size_t wanted = (nth - 1) % static_cast<std::size_t>(others) + 1;
  for (std::size_t step = 1; step < CPU_SETSIZE; ++step) {
    const std::size_t cpu = (self + step) % CPU_SETSIZE;
    if (CPU_ISSET(cpu, &allowed) && --wanted == 0) {
      return static_cast<int>(cpu);
    }
  }
  return -1;
}
#endif

}  // namespace

HelperThread::~HelperThread() { join(); }

void HelperThread::run_on_new_thread() {
#if defined(__linux__)
  started_on_ = sched_getcpu();
  // Started where it was put: from now on wherever the scheduler likes.
  if (first_ >= 0) {
    sched_setaffinity(0, sizeof allowed_, &allowed_);
  }
#endif
  run_(context_);
  finished_.store(true, std::memory_order_release);
}

bool HelperThread::start_running(void (*run)(void*), void* context, std::size_t nth) {
  run_ = run;
  context_ = context;
  finished_.store(false);
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    return false;
  }
  first_ = -1;
#if defined(__linux__)
  if (sched_getaffinity(0, sizeof allowed_, &allowed_) == 0) {
    first_ = processor_after(allowed_, sched_getcpu(), nth);
  }
  if (first_ >= 0) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(static_cast<std::size_t>(first_), &one);
    if (pthread_attr_setaffinity_np(&attributes, sizeof one, &one) != 0) {
      first_ = -1;
    }
  }
#else
  static_cast<void>(nth);
#endif
  int error = pthread_create(&thread_, &attributes, run_thread, this);
  if (error != 0 && first_ >= 0) {
    // Refused where it was to start (a processor just taken away): anywhere.
    first_ = -1;
    pthread_attr_destroy(&attributes);
    pthread_attr_init(&attributes);
    error = pthread_create(&thread_, &attributes, run_thread, this);
  }
  pthread_attr_destroy(&attributes);
  started_ = error == 0;
  return started_;
}

bool HelperThread::join_within(unsigned milliseconds) {
  if (!started_) {
    return true;
  }
#if defined(__GLIBC__)
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  if (pthread_timedjoin_np(thread_, nullptr, &deadline) == 0) {
    started_ = false;
    return true;
  }
  return false;
#else
  // Elsewhere no timed join: short pauses until the body has returned,
  // then a join that no longer waits.
  for (unsigned waited = 0; waited < milliseconds; ++waited) {
    if (finished_.load(std::memory_order_acquire)) {
      join();
      return true;
    }
    const timespec pause{0, 1000000L};
    nanosleep(&pause, nullptr);
  }
  return false;
#endif
}

void HelperThread::join() {
  if (started_) {
    pthread_join(thread_, nullptr);
    started_ = false;
  }
}

}  // namespace bmpresizer
