#include "helper_thread.h"

#include <pthread.h>
#include <sched.h>

namespace bmpresize {

struct HelperThread::State {
  void (*run)(void*) = nullptr;
  void* context = nullptr;
  pthread_t thread{};
  bool started = false;
  int first = -1;
#if defined(__linux__)
  cpu_set_t allowed{};
#endif
};

namespace {

void* run_thread(void* argument) {
  auto* state = static_cast<HelperThread::State*>(argument);
#if defined(__linux__)
  // Started where it was put: from now on wherever the scheduler likes.
  if (state->first >= 0) {
    sched_setaffinity(0, sizeof state->allowed, &state->allowed);
  }
#endif
  state->run(state->context);
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

HelperThread::HelperThread() : state_(new State) {}

HelperThread::~HelperThread() { join(); }

bool HelperThread::start_running(void (*run)(void*), void* context, std::size_t nth) {
  state_->run = run;
  state_->context = context;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    return false;
  }
  state_->first = -1;
#if defined(__linux__)
  if (sched_getaffinity(0, sizeof state_->allowed, &state_->allowed) == 0) {
    state_->first = processor_after(state_->allowed, sched_getcpu(), nth);
  }
  if (state_->first >= 0) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(static_cast<std::size_t>(state_->first), &one);
    if (pthread_attr_setaffinity_np(&attributes, sizeof one, &one) != 0) {
      state_->first = -1;
    }
  }
#else
  static_cast<void>(nth);
#endif
  int error = pthread_create(&state_->thread, &attributes, run_thread, state_.get());
  if (error != 0 && state_->first >= 0) {
    // Refused where it was to start (a processor just taken away): anywhere.
    state_->first = -1;
    pthread_attr_destroy(&attributes);
    pthread_attr_init(&attributes);
    error = pthread_create(&state_->thread, &attributes, run_thread, state_.get());
  }
  pthread_attr_destroy(&attributes);
  state_->started = error == 0;
  return state_->started;
}

void HelperThread::join() {
  if (state_ && state_->started) {
    pthread_join(state_->thread, nullptr);
    state_->started = false;
  }
}

int HelperThread::first_processor() const { return state_->first; }

}  // namespace bmpresize
