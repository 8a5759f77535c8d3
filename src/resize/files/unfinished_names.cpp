#include "unfinished_names.h"

#include <atomic>
#include <cstring>
#include <thread>

namespace bmpresizer {

enum SlotState : int { kFree, kBusy, kNamed };

// The path lives in the slot itself, so that the handler reads no memory
// that a thread might free meanwhile. One slot per thread that names
// outputs (-j is capped at 1024; a thread beyond gets no clean-up); slots
// never touched cost no memory.
struct UnfinishedName {
  std::atomic<int> state{kFree};
  // The open folder the name is in, unless `whole`: then `path` is a whole
  // path. (All zero to start with, so that the slots take no room in the
  // library's file.)
  bool whole = false;
  int folder = 0;
  PathChar path[kMaxPathUnits] = {};
};

namespace {

constexpr std::size_t kSlots = 1024;
UnfinishedName unfinished[kSlots];
std::atomic<std::size_t> slots_taken{0};
thread_local UnfinishedName* my_slot = nullptr;
std::atomic<bool> process_ending{false};
std::atomic<bool> cleaning_up{false};

#ifndef _WIN32
sigset_t termination_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}
#endif

}  // namespace

InterruptionHold::InterruptionHold() {
#ifndef _WIN32
  const sigset_t set = termination_signals();
  blocked_ = pthread_sigmask(SIG_BLOCK, &set, &saved_) == 0;
#endif
  if (my_slot == nullptr) {
    const std::size_t slot = slots_taken.fetch_add(1);
    my_slot = slot < kSlots ? &unfinished[slot] : nullptr;
  }
  slot_ = my_slot;
  if (slot_ != nullptr) {
    before_ = slot_->state.exchange(kBusy);
  }
}

InterruptionHold::~InterruptionHold() {
  if (slot_ != nullptr && slot_->state.load() == kBusy) {
    slot_->state.store(before_);
  }
#ifndef _WIN32
  if (blocked_) {
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
#endif
}

bool InterruptionHold::ending() {
  // Seen after the slot was marked busy: either the handler sees the mark
  // and waits for this hold, or this hold sees that the process is ending.
  if (!process_ending.load()) {
    return false;
  }
  // The handler waits for busy slots: this one must not stay busy.
  if (slot_ != nullptr) {
    slot_->state.store(before_);
  }
  return true;
}

bool InterruptionHold::interrupted() const {
  if (process_ending.load()) {
    return true;
  }
#ifndef _WIN32
  sigset_t pending;
  sigemptyset(&pending);
  if (blocked_ && cleaning_up.load() && sigpending(&pending) == 0) {
    return sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
           sigismember(&pending, SIGHUP) == 1;
  }
#endif
  return false;
}

bool NameStep::may_name() {
  if (!ending()) {
    return true;
  }
  wait_for_the_end();
  return false;
}

void NameStep::about_to_name(int folder, const PathChar* path) const {
  if (slot_ != nullptr) {
    slot_->whole = folder < 0;
    slot_->folder = folder;
    std::size_t length = 0;
    while (path[length] != 0 && length + 1 < kMaxPathUnits) {
      ++length;
    }
    std::memcpy(slot_->path, path, length * sizeof(PathChar));
    slot_->path[length] = 0;
  }
}

void NameStep::named(bool exists) const {
  if (slot_ != nullptr) {
    slot_->state.store(exists ? kNamed : kFree);
  }
}

void clean_up_installed() { cleaning_up.store(true); }

void remove_unfinished_names() {
  process_ending.store(true);
  const std::size_t taken = slots_taken.load();
  for (std::size_t i = 0; i < taken && i < kSlots; ++i) {
    // A busy slot's thread is in the middle of a few system calls (on POSIX
    // with the signals blocked, so never this thread): it ends its step soon.
    while (unfinished[i].state.load() == kBusy) {
      std::this_thread::yield();
    }
    if (unfinished[i].state.load() == kNamed) {
      remove_name(unfinished[i].whole ? -1 : unfinished[i].folder, unfinished[i].path);
    }
  }
}

}  // namespace bmpresizer
