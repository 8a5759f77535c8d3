// Threads that take a share of one job, each started on a processor of its
// own.
#ifndef BMPRESIZER_THREADS_HELPER_THREAD_H
#define BMPRESIZER_THREADS_HELPER_THREAD_H

#include <cstddef>

#ifndef _WIN32
#include <pthread.h>
#include <sched.h>
#include <atomic>
#endif

namespace bmpresizer {

// A thread started on a processor other than its creator's, then free to
// run anywhere. A new thread otherwise starts beside its creator, and a
// creator that goes on working keeps it waiting until the scheduler moves
// it: on a two-processor machine the two halves of a short job then ran
// one after the other. Where the system cannot say where a thread starts
// (other than Linux), it is a plain thread. Allocates nothing and throws
// nothing.
class HelperThread {
 public:
  HelperThread() = default;
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;
  // Waits for the thread, if one was started.
  ~HelperThread();

  // Runs `body()` on a new thread, starting on the `nth` (1, 2, ...) of the
  // processors this process may use, counted on from the calling thread's
  // (the helpers of one job each on their own, the caller on its own).
  // `body` must outlive the thread. False where no thread could be started.
  template <class Body>
  bool start(Body& body, std::size_t nth) {
    return start_running(&call<Body>, &body, nth);
  }

  // Waits for the thread to end; nothing when none was started.
  void join();

  // Waits up to `milliseconds` for the thread to end; true once it has (or
  // none was started), returning the moment it does.
  bool join_within(unsigned milliseconds);

  // The processor the thread was to start on, or -1 where none was chosen.
  int first_processor() const { return first_; }
  // The processor the thread found itself on before it was let go (-1 where
  // the system cannot tell); valid once joined.
  int started_on() const { return started_on_; }

  // What the new thread runs first (for the platform's code).
  void run_on_new_thread();

 private:
  template <class Body>
  static void call(void* body) {
    (*static_cast<Body*>(body))();
  }
  bool start_running(void (*run)(void*), void* context, std::size_t nth);

  void (*run_)(void*) = nullptr;
  void* context_ = nullptr;
  bool started_ = false;
  int first_ = -1;
  int started_on_ = -1;
#ifdef _WIN32
  void* thread_ = nullptr;  // a HANDLE
#else
  pthread_t thread_{};
  std::atomic<bool> finished_{false};  // set as the body returns
#if defined(__linux__)
  cpu_set_t allowed_{};
#endif
#endif
};

}  // namespace bmpresizer

#endif
