#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "file_io.h"

namespace bmpresizer {
namespace {

// writev takes at most IOV_MAX spans; a smaller batch keeps the stack small.
constexpr std::size_t kIovBatch = 64;

}  // namespace

Outcome open_input(NativePath path, FileHandle& handle) {
  if (path == nullptr) {
    return failed(Failure::input_path_invalid);
  }
  // O_NONBLOCK keeps a FIFO from blocking the open; it means nothing for the
  // regular files that are read afterwards.
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
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
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) {
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }
  handle = fd;
  return Outcome{};
}

Outcome open_output(NativePath path, FileHandle input, FileHandle& handle) {
  if (path == nullptr) {
    return failed(Failure::output_path_invalid);
  }
  // Opened without O_TRUNC: the input may be this very file under another
  // name, and emptying it before the comparison would destroy it. A file
  // that did not exist is created exclusively, so that it is known to be
  // ours and can be removed again if the open is refused after all.
  constexpr int kFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY;
  bool created = false;
  int fd = ::open(path, kFlags);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path, kFlags | O_CREAT | O_EXCL, 0666);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST) {
      fd = ::open(path, kFlags);  // someone else created it meanwhile
    }
  }
  if (fd < 0) {
    return failed(Failure::output_open, errno);
  }
  const auto refuse = [&](Failure failure, int error) {
    ::close(fd);
    if (created) {
      ::unlink(path);
    }
    return bmpresizer::failed(failure, error);
  };
  struct stat out_info {};
  struct stat in_info {};
  if (::fstat(fd, &out_info) != 0 || ::fstat(input, &in_info) != 0) {
    return refuse(Failure::output_open, errno);
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

bool write_spans(FileHandle handle, const ByteSpan* spans, std::size_t count, int& error) {
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
    ssize_t wrote = ::writev(handle, iov, static_cast<int>(n));
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
    // Advance past what was written; a short write resumes mid-span.
    auto left = static_cast<std::size_t>(wrote);
    while (left > 0) {
      const std::size_t rest = spans[next].size - skipped;
      if (left < rest) {
        skipped += left;
        left = 0;
      } else {
        left -= rest;
        skipped = 0;
        ++next;
      }
    }
  }
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

void truncate_to_empty(FileHandle handle) { static_cast<void>(::ftruncate(handle, 0)); }

void truncate_to_empty(NativePath path) { static_cast<void>(::truncate(path, 0)); }

Outcome close_file(FileHandle handle) {
  // The descriptor is released even when close reports an error, so it is
  // never retried.
  if (::close(handle) != 0 && errno != EINTR) {
    return failed(Failure::close_failed, errno);
  }
  return Outcome{};
}

}  // namespace bmpresizer
