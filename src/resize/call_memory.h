// Memory that a call of the library borrows from the library itself rather
// than from its caller's stack. A host may call from a thread with a small
// stack (64 KiB is the default on small Windows devices, and common in
// embedded and server hosts), so a call keeps only a few kilobytes there:
// the work buffer and the paths live in static rooms, lent one call at a
// time. Nothing is allocated and nothing waits on a lock that a thread of
// another process could hold: a room held when the process forked is free
// in the child.
#ifndef BMPRESIZER_RESIZE_CALL_MEMORY_H
#define BMPRESIZER_RESIZE_CALL_MEMORY_H

#include <cstddef>
#include <cstdint>

#include "bmpresizer_core.h"
#include "bmpresizer_files.h"
#ifndef _WIN32
#include "wide_path.h"
#endif

namespace bmpresizer {

// The one large work buffer, for one call at a time. A call that finds it
// lent out gets none (buffer() is empty) and the core works in a small
// buffer of its own stack instead: slower, never wrong. Half a megabyte:
// the call's one thread reads a batch of rows into it, enlarges them there
// and has the system copy them out factor times, and with 1 MiB that round
// no longer stayed in the processor's cache (1920x1080 x2: 3.2 ms a call,
// against 3.5 ms with 1 MiB and 3.8 ms with 256 KiB; the large images the
// same from 512 KiB to 1 MiB).
constexpr std::size_t kLibraryWorkBytes = std::size_t{512} << 10;
class BorrowedWork {
 public:
  BorrowedWork();
  ~BorrowedWork();
  BorrowedWork(const BorrowedWork&) = delete;
  BorrowedWork& operator=(const BorrowedWork&) = delete;
  WorkBuffer buffer() const { return buffer_; }

 private:
  WorkBuffer buffer_;
};

#ifndef _WIN32
// What opening the two files needs: both paths in the file system's bytes
// and the names worked out on the way. (Windows opens the caller's paths as
// they are and follows links itself: it needs none.)
struct PathRoom {
  char input[kPathBufferBytes];
  char output[kPathBufferBytes];
  PathScratch scratch;
};

// One of a few path rooms, held while a call opens its files (and again to
// empty an output by name). When every room is lent out, the call waits for
// one; a room is held for no longer than two opens.
class BorrowedPaths {
 public:
  BorrowedPaths();
  ~BorrowedPaths();
  BorrowedPaths(const BorrowedPaths&) = delete;
  BorrowedPaths& operator=(const BorrowedPaths&) = delete;
  PathRoom& room() const { return *room_; }

 private:
  std::size_t index_;
  PathRoom* room_;
};
#endif

}  // namespace bmpresizer

#endif
