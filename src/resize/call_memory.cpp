#include "call_memory.h"

#include <atomic>

#ifndef _WIN32
#include <time.h>
#include <unistd.h>
#endif

namespace bmpresizer {
namespace {

// Who holds a room: 0 when free, else the holding process's ID, so that a
// child of fork (whose other threads are gone) can tell its parent's
// holdings from its own threads'.
using Holder = std::atomic<std::int64_t>;

std::int64_t this_process() {
#ifdef _WIN32
  return 1;  // no fork: one process owns the rooms
#else
  return ::getpid();
#endif
}

bool try_take(Holder& holder, std::int64_t me) {
  std::int64_t seen = 0;
  if (holder.compare_exchange_strong(seen, me, std::memory_order_acquire)) {
    return true;
  }
  // Held before this process forked, by a thread the child does not have.
  return seen != me && holder.compare_exchange_strong(seen, me, std::memory_order_acquire);
}

void give_back(Holder& holder) { holder.store(0, std::memory_order_release); }

alignas(64) std::uint8_t work_room[kLibraryWorkBytes];
Holder work_holder{0};

#ifndef _WIN32
void pause_briefly() {
  const timespec moment{0, 200L * 1000};
  ::nanosleep(&moment, nullptr);
}

constexpr std::size_t kPathRooms = 8;
PathRoom path_rooms[kPathRooms];
Holder path_holders[kPathRooms];
#endif

}  // namespace

BorrowedWork::BorrowedWork() : buffer_{} {
  if (try_take(work_holder, this_process())) {
    buffer_ = WorkBuffer{work_room, sizeof work_room};
  }
}

BorrowedWork::~BorrowedWork() {
  if (buffer_.data != nullptr) {
    give_back(work_holder);
  }
}

#ifndef _WIN32
BorrowedPaths::BorrowedPaths() : index_(0), room_(nullptr) {
  const std::int64_t me = this_process();
  for (;;) {
    for (std::size_t i = 0; i < kPathRooms; ++i) {
      if (try_take(path_holders[i], me)) {
        index_ = i;
        room_ = &path_rooms[i];
        return;
      }
    }
    pause_briefly();
  }
}

BorrowedPaths::~BorrowedPaths() { give_back(path_holders[index_]); }
#endif

}  // namespace bmpresizer
