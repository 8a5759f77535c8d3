// Threads that take a share of one job, each started on a processor of its
// own.
#ifndef BMPRESIZE_HELPER_THREAD_H
#define BMPRESIZE_HELPER_THREAD_H

#include <cstddef>
#include <memory>

namespace bmpresize {

// A thread started on a processor other than its creator's, then free to
// run anywhere. A new thread otherwise starts beside its creator, and a
// creator that goes on working keeps it waiting until the scheduler moves
// it: on a two-processor machine the two halves of a short job then ran
// one after the other. Where the system cannot say where a thread starts
// (other than Linux), it is a plain thread.
class HelperThread {
 public:
  HelperThread();
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

  // The processor the thread was started on, or -1 where none was chosen.
  int first_processor() const;

  struct State;  // the system's thread, and what it runs

 private:
  template <class Body>
  static void call(void* body) {
    (*static_cast<Body*>(body))();
  }
  bool start_running(void (*run)(void*), void* context, std::size_t nth);

  std::unique_ptr<State> state_;
};

}  // namespace bmpresize

#endif
