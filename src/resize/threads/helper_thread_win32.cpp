#include <windows.h>

#include "helper_thread.h"

namespace bmpresizer {
namespace {

DWORD WINAPI run_thread(LPVOID argument) {
  static_cast<HelperThread*>(argument)->run_on_new_thread();
  return 0;
}

}  // namespace

HelperThread::~HelperThread() { join(); }

void HelperThread::run_on_new_thread() { run_(context_); }

// Windows starts a new thread on an idle processor of its own accord.
bool HelperThread::start_running(void (*run)(void*), void* context, std::size_t) {
  run_ = run;
  context_ = context;
  thread_ = CreateThread(nullptr, 0, run_thread, this, 0, nullptr);
  started_ = thread_ != nullptr;
  return started_;
}

bool HelperThread::join_within(unsigned milliseconds) {
  if (!started_) {
    return true;
  }
  if (WaitForSingleObject(static_cast<HANDLE>(thread_), milliseconds) != WAIT_OBJECT_0) {
    return false;
  }
  CloseHandle(static_cast<HANDLE>(thread_));
  started_ = false;
  return true;
}

void HelperThread::join() {
  if (started_) {
    WaitForSingleObject(static_cast<HANDLE>(thread_), INFINITE);
    CloseHandle(static_cast<HANDLE>(thread_));
    started_ = false;
  }
}

}  // namespace bmpresizer
