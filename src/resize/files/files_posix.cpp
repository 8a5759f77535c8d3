// The file layer on POSIX descriptors: streams over files, and opening and
// closing the library's way.
//
// A library call runs inside someone else's process, which may have closed
// its standard descriptors 0, 1 and 2: a file opened then gets one of those
// numbers, and whatever the host, or another of its threads, prints next
// would land in it. So every descriptor opened here moves above 2 at once,
// and a regular output is written at explicit offsets, so that a line
// printed in the moment before the move is overwritten, and cut off should
// it reach past the image.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "posix_files.h"

namespace bmpresizer {
namespace {

// writev takes at most IOV_MAX spans; a smaller batch keeps the stack small.
constexpr std::size_t kIovBatch = 64;
// Symbolic links followed to the end of a chain (the kernel's own limit).
constexpr int kMaxLinkHops = 40;
// The output's open flags. O_NONBLOCK makes the open of a named pipe without
// a reader fail at once (ENXIO) instead of waiting for one.
constexpr int kOutputFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

bool copy_path(const char* from, char (&to)[kMaxPathUnits]) {
  const std::size_t length = std::strlen(from);
  if (length >= sizeof to) {
    return false;
  }
  std::memcpy(to, from, length + 1);
  return true;
}

// Opens the output: an existing file as it is, a missing one created
// exclusively, so that it is known to be this call's and can be removed
// again. A dangling symbolic link is followed to the file it names, as
// shell redirection does; `scratch.made` receives the path of the file
// created.
int open_or_create(const char* path, bool& created, PathScratch& scratch) {
  int fd = above_stdio(::open(path, kOutputFlags));
  if (fd >= 0 || errno != ENOENT) {
    return fd;
  }
  int error = 0;
  if (!follow_links(path, scratch.made, scratch.link, error)) {
    errno = error;
    return -1;
  }
  fd = above_stdio(::open(scratch.made, kOutputFlags | O_CREAT | O_EXCL, 0666));
  if (fd >= 0 || errno != EEXIST) {
    created = fd >= 0;
    return fd;
  }
  // Someone else made it meanwhile: it is theirs, opened as it is.
  return above_stdio(::open(path, kOutputFlags));
}

}  // namespace

int above_stdio(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) {
    return fd;
  }
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int error = errno;
  ::close(fd);
  errno = error;
  return moved;
}

void make_blocking(int fd) {
  // A failure costs nothing but a pipe's writes failing when it is full.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) {
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }
}

std::size_t read_fully(int fd, bool positional, std::uint64_t offset, void* buffer,
                       std::size_t size, int& error) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  error = 0;
  while (done < size) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX) - done) {
      error = EOVERFLOW;
      return done;
    }
    const ssize_t got =
        positional ? ::pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done))
                   : ::read(fd, bytes + done, size - done);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      error = errno;
      return done;
    }
    if (got == 0) {
      return done;
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

bool write_fully(int fd, bool positional, std::uint64_t offset, const ByteSpan* spans,
                 std::size_t count, int& error) {
  struct iovec iov[kIovBatch];
  std::size_t next = 0;     // first span not yet handed to the system
  std::size_t skipped = 0;  // bytes of spans[next] already written
  for (;;) {
    while (next < count && spans[next].size == skipped) {
      ++next;
      skipped = 0;
    }
    if (next == count) {
      return true;
    }
    int n = 0;
    for (std::size_t i = next; i < count && n < static_cast<int>(kIovBatch); ++i, ++n) {
      const std::size_t done = i == next ? skipped : 0;
      iov[n].iov_base = const_cast<std::uint8_t*>(spans[i].data + done);
      iov[n].iov_len = spans[i].size - done;
    }
    const ssize_t wrote =
        positional ? ::pwritev(fd, iov, n, static_cast<off_t>(offset)) : ::writev(fd, iov, n);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      error = wrote < 0 ? errno : EIO;
      return false;
    }
    offset += static_cast<std::uint64_t>(wrote);
    // Advance past what was written; a short write resumes mid-span.
    for (auto left = static_cast<std::size_t>(wrote); left > 0;) {
      const std::size_t rest = spans[next].size - skipped;
      const std::size_t step = left < rest ? left : rest;
      skipped += step;
      left -= step;
      if (skipped == spans[next].size) {
        ++next;
        skipped = 0;
      }
    }
  }
}

bool follow_links(const char* path, char (&target)[kMaxPathUnits], char (&link)[kMaxPathUnits],
                  int& error) {
  if (!copy_path(path, target)) {
    error = ENAMETOOLONG;
    return false;
  }
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    const ssize_t length = ::readlink(target, link, sizeof link - 1);
    if (length < 0) {
      // Not a link (EINVAL), or nothing there yet (ENOENT): the end.
      if (errno == EINVAL || errno == ENOENT) {
        return true;
      }
      error = errno;
      return false;
    }
    link[length] = '\0';
    // A relative target is relative to the link's folder.
    const char* slash = std::strrchr(target, '/');
    const std::size_t folder =
        link[0] == '/' || slash == nullptr ? 0 : static_cast<std::size_t>(slash - target) + 1;
    if (folder + static_cast<std::size_t>(length) >= sizeof target) {
      error = ENAMETOOLONG;
      return false;
    }
    std::memcpy(target + folder, link, static_cast<std::size_t>(length) + 1);
  }
  error = ELOOP;
  return false;
}

Outcome FileSource::attach(FileHandle handle, std::uint64_t from) {
  const FileFacts facts = facts_of(handle);
  if (facts.error != 0) {
    return failed(Failure::read_failed, facts.error);
  }
  if (!facts.regular) {
    return failed(Failure::input_not_regular);
  }
  handle_ = handle;
  from_ = from;
  size_ = facts.size > from ? facts.size - from : 0;
  return Outcome{};
}

std::size_t FileSource::read_at(std::uint64_t offset, void* buffer, std::size_t size, int& error) {
  return read_fully(handle_, true, from_ + offset, buffer, size, error);
}

bool position_of(FileHandle handle, std::uint64_t& position) {
  const off_t at = ::lseek(handle, 0, SEEK_CUR);
  position = at > 0 ? static_cast<std::uint64_t>(at) : 0;
  return at >= 0;
}

bool move_to(FileHandle handle, std::uint64_t position) {
  return ::lseek(handle, static_cast<off_t>(position), SEEK_SET) >= 0;
}

bool FileSink::attach(FileHandle handle, bool at_position, int& error) {
  const FileFacts facts = facts_of(handle);
  if (facts.error != 0) {
    error = facts.error;
    return false;
  }
  handle_ = handle;
  positional_ = facts.regular && !at_position;
  new_file_ = false;
  return true;
}

void FileSink::attach_new(FileHandle handle) {
  handle_ = handle;
  positional_ = true;
  new_file_ = true;
}

bool FileSink::write(const ByteSpan* spans, std::size_t count, std::uint64_t offset, int& error) {
  return write_fully(handle_, positional_, offset, spans, count, error);
}

void FileSink::reserve(std::uint64_t offset, std::uint64_t bytes) {
#if defined(__linux__) && defined(FALLOC_FL_KEEP_SIZE)
  // A sequential sink starts at the descriptor's position, or at the end of
  // a file opened for appending; a pipe or a terminal has none, and nothing
  // to reserve.
  off_t at = static_cast<off_t>(offset);
  if (!positional_) {
    const int flags = ::fcntl(handle_, F_GETFL);
    struct stat info {};
    at = flags >= 0 && (flags & O_APPEND) != 0 ? (::fstat(handle_, &info) == 0 ? info.st_size : -1)
                                               : ::lseek(handle_, 0, SEEK_CUR);
  }
  if (at < 0 || bytes > static_cast<std::uint64_t>(LLONG_MAX - at) ||
      ::fallocate(handle_, FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(bytes)) != 0) {
    return;  // not supported here, or no room: the writes will say
  }
#else
  static_cast<void>(offset);
  static_cast<void>(bytes);
#endif
}

bool FileSink::finish(std::uint64_t length, int& error) {
  if (!positional_ || new_file_) {
    return true;
  }
  // Anything written past the image through a shared descriptor number goes.
  struct stat info {};
  if (::fstat(handle_, &info) != 0 ||
      (static_cast<std::uint64_t>(info.st_size) > length &&
       ::ftruncate(handle_, static_cast<off_t>(length)) != 0) ||
      ::lseek(handle_, static_cast<off_t>(length), SEEK_SET) < 0) {
    error = errno;
    return false;
  }
  return true;
}

bool write_all(FileHandle handle, const ByteSpan* spans, std::size_t count, int& error) {
  return write_fully(handle, false, 0, spans, count, error);
}

std::size_t read_all(FileHandle handle, void* buffer, std::size_t size, int& error) {
  return read_fully(handle, false, 0, buffer, size, error);
}

Outcome open_input(NativePath path, FileHandle& handle) {
  if (path == nullptr) {
    return failed(Failure::input_path_invalid);
  }
  // O_NONBLOCK keeps a named pipe without a writer from blocking the open.
  const int fd = above_stdio(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd < 0) {
    return failed(Failure::input_open, errno);
  }
  const FileFacts facts = facts_of(fd);
  if (facts.error != 0 || facts.directory) {
    ::close(fd);
    return facts.error != 0 ? failed(Failure::input_open, facts.error)
                            : failed(Failure::input_is_directory, EISDIR);
  }
  if (!facts.regular) {
    make_blocking(fd);  // a regular file never blocks: two calls saved per file
  }
  handle = fd;
  return Outcome{};
}

Outcome open_output(NativePath path, FileHandle input, FileHandle& handle, PathScratch& scratch) {
  if (path == nullptr) {
    return failed(Failure::output_path_invalid);
  }
  // Opened without O_TRUNC: the input may be this very file under another
  // name, and emptying it before the comparison would destroy it.
  bool created = false;
  const int fd = open_or_create(path, created, scratch);
  if (fd < 0) {
    return failed(errno == ENXIO ? Failure::output_no_reader : Failure::output_open, errno);
  }
  const auto refuse = [&](Failure failure, int error) {
    ::close(fd);
    if (created) {
      ::unlink(scratch.made);
    }
    return bmpresizer::failed(failure, error);
  };
  const FileFacts output = facts_of(fd);
  const FileFacts in = facts_of(input);
  if (output.error != 0 || in.error != 0) {
    return refuse(Failure::output_open, output.error != 0 ? output.error : in.error);
  }
  if (!output.regular) {
    make_blocking(fd);  // as for the input: a regular file never blocks
  }
  if (same_file(output, in)) {
    return refuse(Failure::output_is_input, 0);
  }
  // Devices such as /dev/null cannot be truncated and need not be. A new,
  // empty file is left alone: on ext4, truncating a file makes its close wait
  // until the data written afterwards reaches the disk.
  if (output.regular && output.size != 0 && ::ftruncate(fd, 0) != 0) {
    return refuse(Failure::output_open, errno);
  }
  handle = fd;
  return Outcome{};
}

Outcome close_file(FileHandle handle) {
  // The descriptor is released even when close reports an error, so it is
  // never retried.
  if (::close(handle) != 0 && errno != EINTR) {
    return failed(Failure::close_failed, errno);
  }
  return Outcome{};
}

// Best effort: the call has already failed, and there is nothing more to do
// when emptying fails too.
void truncate_to_empty(FileHandle handle) {
  if (::ftruncate(handle, 0) != 0) {
    return;
  }
}

void truncate_to_empty(NativePath path) {
  if (::truncate(path, 0) != 0) {
    return;
  }
}

namespace {

FileFacts facts_from(int result, const struct stat& info) {
  FileFacts facts;
  if (result != 0) {
    facts.error = errno;
    return facts;
  }
  facts.regular = S_ISREG(info.st_mode);
  facts.directory = S_ISDIR(info.st_mode);
  facts.size = facts.regular && info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
  facts.volume = static_cast<std::uint64_t>(info.st_dev);
  facts.file = static_cast<std::uint64_t>(info.st_ino);
  return facts;
}

}  // namespace

FileFacts facts_of(NativePath path) {
  struct stat info {};
  return facts_from(::stat(path, &info), info);
}

FileFacts facts_of(FileHandle handle) {
  struct stat info {};
  return facts_from(::fstat(handle, &info), info);
}

bool same_file(const FileFacts& a, const FileFacts& b) {
  return a.error == 0 && b.error == 0 && a.volume == b.volume && a.file == b.file;
}

FileHandle standard_input() { return STDIN_FILENO; }
FileHandle standard_output() { return STDOUT_FILENO; }
FileHandle standard_error() { return STDERR_FILENO; }

}  // namespace bmpresizer
