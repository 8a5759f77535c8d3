// The file operations on POSIX descriptors.
//
// A library call runs inside someone else's process, which may have closed
// its standard descriptors 0, 1 and 2: a file opened then gets one of those
// numbers, and whatever the host, or another of its threads, prints next
// would land in it. So every descriptor opened here moves above 2 at once,
// and an output the call opened is written at explicit offsets, so that a
// line printed in the moment before the move is overwritten, and cut off
// should it reach past the image.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "file_io.h"

namespace bmpresizer {
namespace {

// writev takes at most IOV_MAX spans; a smaller batch keeps the stack small.
constexpr std::size_t kIovBatch = 64;
// Symbolic links followed to create an output behind a dangling one (the
// kernel's own limit for a path).
constexpr int kMaxLinkHops = 40;
// The output's open flags. O_NONBLOCK makes the open of a named pipe without
// a reader fail at once (ENXIO) instead of waiting for one.
constexpr int kOutputFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// `fd` moved to a number above 2 (close-on-exec kept); -1 with errno set if
// that fails, and `fd` is closed then.
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

// Clears O_NONBLOCK, which only kept a named pipe from blocking the open:
// reads and writes wait as usual. Regular files never block, so a failure
// here costs nothing but a pipe's writes failing when it is full.
void make_blocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) {
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }
}

bool copy_path(const char* from, char (&to)[PATH_MAX]) {
  const std::size_t length = std::strlen(from);
  if (length >= sizeof to) {
    return false;
  }
  std::memcpy(to, from, length + 1);
  return true;
}

// Replaces `path`, a symbolic link, with the path of what it names: `target`
// itself when absolute, else `target` in the link's folder.
bool follow_link(char (&path)[PATH_MAX], const char* target) {
  if (target[0] == '/') {
    return copy_path(target, path);
  }
  const char* slash = std::strrchr(path, '/');
  const std::size_t folder = slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
  const std::size_t length = std::strlen(target);
  if (folder + length >= sizeof path) {
    return false;
  }
  std::memcpy(path + folder, target, length + 1);
  return true;
}

// Creates the missing output `path` exclusively, so that it is known to be
// this call's and can be removed again. A dangling symbolic link is followed
// to the file it names, as shell redirection does; `made` receives the path
// of the file created. Sets `created` unless someone else created the file
// meanwhile, which is then opened as it is.
int create_output(const char* path, bool& created, char (&made)[PATH_MAX]) {
  if (!copy_path(path, made)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    const int fd = above_stdio(::open(made, kOutputFlags | O_CREAT | O_EXCL, 0666));
    if (fd >= 0 || errno != EEXIST) {
      created = fd >= 0;
      return fd;
    }
    // The name exists although it could not be opened: a link to nothing,
    // or a file made by someone else since.
    char target[PATH_MAX];
    const ssize_t length = ::readlink(made, target, sizeof target - 1);
    if (length < 0) {
      return above_stdio(::open(made, kOutputFlags));
    }
    target[length] = '\0';
    if (!follow_link(made, target)) {
      errno = ENAMETOOLONG;
      return -1;
    }
  }
  errno = ELOOP;
  return -1;
}

// Opens the output: an existing file as it is, a missing one created.
int open_or_create(const char* path, bool& created, char (&made)[PATH_MAX]) {
  const int fd = above_stdio(::open(path, kOutputFlags));
  if (fd >= 0 || errno != ENOENT) {
    return fd;
  }
  return create_output(path, created, made);
}

}  // namespace

Outcome open_input(NativePath path, FileHandle& handle) {
  if (path == nullptr) {
    return failed(Failure::input_path_invalid);
  }
  // O_NONBLOCK keeps a named pipe without a writer from blocking the open.
  const int fd = above_stdio(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd < 0) {
    return failed(Failure::input_open, errno);
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    return failed(Failure::input_open, error);
  }
  if (S_ISDIR(info.st_mode)) {
    ::close(fd);
    return failed(Failure::input_is_directory, EISDIR);
  }
  if (!S_ISREG(info.st_mode)) {
    make_blocking(fd);  // a regular file never blocks: two calls saved per file
  }
  handle = fd;
  return Outcome{};
}

Outcome open_output(NativePath path, FileHandle input, FileHandle& handle) {
  if (path == nullptr) {
    return failed(Failure::output_path_invalid);
  }
  // Opened without O_TRUNC: the input may be this very file under another
  // name, and emptying it before the comparison would destroy it.
  bool created = false;
  char made[PATH_MAX];
  const int fd = open_or_create(path, created, made);
  if (fd < 0) {
    return failed(errno == ENXIO ? Failure::output_no_reader : Failure::output_open, errno);
  }
  const auto refuse = [&](Failure failure, int error) {
    ::close(fd);
    if (created) {
      ::unlink(made);
    }
    return bmpresizer::failed(failure, error);
  };
  struct stat out_info {};
  struct stat in_info {};
  if (::fstat(fd, &out_info) != 0 || ::fstat(input, &in_info) != 0) {
    return refuse(Failure::output_open, errno);
  }
  if (!S_ISREG(out_info.st_mode)) {
    make_blocking(fd);  // as for the input: a regular file never blocks
  }
  if (out_info.st_dev == in_info.st_dev && out_info.st_ino == in_info.st_ino) {
    return refuse(Failure::output_is_input, 0);
  }
  // Devices such as /dev/null cannot be truncated and need not be. A new,
  // empty file is left alone: on ext4, truncating a file makes its close wait
  // until the data written afterwards reaches the disk.
  if (S_ISREG(out_info.st_mode) && out_info.st_size != 0 && ::ftruncate(fd, 0) != 0) {
    return refuse(Failure::output_open, errno);
  }
  handle = fd;
  return Outcome{};
}

bool read_at(FileHandle handle, std::uint64_t offset, void* buffer, std::size_t size,
             std::size_t& read, int& error) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  read = 0;
  while (read < size) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX) - read) {
      error = EOVERFLOW;
      return false;
    }
    const ssize_t got =
        ::pread(handle, bytes + read, size - read, static_cast<off_t>(offset + read));
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      error = errno;
      return false;
    }
    if (got == 0) {
      error = 0;
      return false;
    }
    read += static_cast<std::size_t>(got);
  }
  return true;
}

OutputSink sequential_sink(FileHandle handle) {
  OutputSink sink;
  sink.handle = handle;
  return sink;
}

bool positional_sink(FileHandle handle, OutputSink& sink, int& error) {
  sink = sequential_sink(handle);
  struct stat info {};
  if (::fstat(handle, &info) != 0) {
    error = errno;
    return false;
  }
  sink.positional = S_ISREG(info.st_mode);
  return true;
}

bool write_spans(OutputSink& sink, const ByteSpan* spans, std::size_t count, int& error) {
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
    std::size_t n = 0;
    for (std::size_t i = next; i < count && n < kIovBatch; ++i, ++n) {
      const std::size_t done = i == next ? skipped : 0;
      iov[n].iov_base = const_cast<std::uint8_t*>(spans[i].data + done);
      iov[n].iov_len = spans[i].size - done;
    }
    const ssize_t wrote = sink.positional ? ::pwritev(sink.handle, iov, static_cast<int>(n),
                                                      static_cast<off_t>(sink.offset))
                                          : ::writev(sink.handle, iov, static_cast<int>(n));
    if (wrote < 0) {
      if (errno == EINTR) {
        continue;
      }
      error = errno;
      return false;
    }
    if (wrote == 0) {
      error = EIO;
      return false;
    }
    sink.offset += static_cast<std::uint64_t>(wrote);
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

void reserve_space(const OutputSink& sink, std::uint64_t bytes) {
#if defined(__linux__) && defined(FALLOC_FL_KEEP_SIZE)
  // A sequential sink starts at the descriptor's position; a pipe or a
  // terminal has none, and nothing to reserve.
  const off_t at =
      sink.positional ? static_cast<off_t>(sink.offset) : ::lseek(sink.handle, 0, SEEK_CUR);
  if (at < 0 || bytes > static_cast<std::uint64_t>(LLONG_MAX - at) ||
      ::fallocate(sink.handle, FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(bytes)) != 0) {
    return;  // not supported here, or no room: the writes will say
  }
#else
  static_cast<void>(sink);
  static_cast<void>(bytes);
#endif
}

bool finish_sink(const OutputSink& sink, int& error) {
  if (!sink.positional) {
    return true;
  }
  // Anything written past the image through a shared descriptor number goes;
  // the file position is left after the image, as sequential writes leave it.
  struct stat info {};
  if (::fstat(sink.handle, &info) != 0 ||
      (static_cast<std::uint64_t>(info.st_size) > sink.offset &&
       ::ftruncate(sink.handle, static_cast<off_t>(sink.offset)) != 0) ||
      ::lseek(sink.handle, static_cast<off_t>(sink.offset), SEEK_SET) < 0) {
    error = errno;
    return false;
  }
  return true;
}

bool describe_input(FileHandle handle, InputInfo& info, int& error) {
  struct stat status {};
  if (::fstat(handle, &status) != 0) {
    error = errno;
    return false;
  }
  info.regular = S_ISREG(status.st_mode);
  info.bytes = info.regular && status.st_size > 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
  return true;
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

Outcome close_file(FileHandle handle) {
  // The descriptor is released even when close reports an error, so it is
  // never retried.
  if (::close(handle) != 0 && errno != EINTR) {
    return failed(Failure::close_failed, errno);
  }
  return Outcome{};
}

}  // namespace bmpresizer
