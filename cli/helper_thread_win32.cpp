#include <system_error>
#include <thread>

#include "helper_thread.h"

namespace bmpresize {

// Windows starts a new thread on an idle processor of its own accord.
struct HelperThread::State {
  std::thread thread;
};

HelperThread::HelperThread() : state_(new State) {}

HelperThread::~HelperThread() { join(); }

bool HelperThread::start_running(void (*run)(void*), void* context, std::size_t) {
  try {
    state_->thread = std::thread(run, context);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void HelperThread::join() {
  if (state_ && state_->thread.joinable()) {
    state_->thread.join();
  }
}

int HelperThread::first_processor() const { return -1; }

}  // namespace bmpresize
