#include "file_call_faults.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <mutex>

// The core is built with 64-bit file offsets, so it calls the *64 names.
extern "C" {
int __real_open64(const char* path, int flags, ...);
int __real_fstat64(int fd, struct stat64* info);
int __real_fcntl64(int fd, int command, ...);
int __real_ftruncate64(int fd, off64_t length);
ssize_t __real_pread64(int fd, void* buffer, size_t size, off64_t offset);
ssize_t __real_writev(int fd, const struct iovec* iov, int count);
ssize_t __real_pwritev64(int fd, const struct iovec* iov, int count, off64_t offset);
off64_t __real_lseek64(int fd, off64_t offset, int whence);
int __real_fallocate64(int fd, int mode, off64_t offset, off64_t length);
int __real_close(int fd);
int __real_truncate64(const char* path, off64_t length);
int __real_unlink(const char* path);
int __real_linkat(int from_dir, const char* from, int to_dir, const char* to, int flags);
int __real_rename(const char* from, const char* to);
int __real_fchmod(int fd, mode_t mode);
int __real_fchown(int fd, uid_t owner, gid_t group);
int __real_openat64(int dir, const char* path, int flags, ...);
int __real_fstatat64(int dir, const char* path, struct stat64* info, int flags);
int __real_unlinkat(int dir, const char* path, int flags);
int __real_renameat(int from_dir, const char* from, int to_dir, const char* to);
int __real_renameat2(int from_dir, const char* from, int to_dir, const char* to,
                     unsigned int flags);
}

namespace faults {
namespace {

std::mutex mutex;
bool armed = false;
Plan plan;
std::vector<Call> record;

// Counts the call; true when it is the one to fail (errno is then set).
// For a read or write that is to be cut short, sets `cut_to`.
bool should_fail(Call call, std::function<std::size_t(std::size_t)>* cut_to = nullptr) {
  std::function<void()> hook;
  {
    const std::lock_guard<std::mutex> lock(mutex);
    if (!armed) {
      return false;
    }
    record.push_back(call);
    const int number = static_cast<int>(record.size());
    if (number == plan.fail_at) {
      errno = plan.fail_errno;
      return true;
    }
    if (number == plan.hook_at) {
      hook = plan.hook;
    }
    if (number == plan.cut_at && cut_to != nullptr) {
      *cut_to = plan.cut_to;
    }
  }
  if (hook) {
    hook();
  }
  return false;
}

// The first `count` spans of `iov` cut to `bytes` bytes in all, into `cut`;
// returns how many spans that leaves.
int cut_spans(const struct iovec* iov, int count, std::size_t bytes, struct iovec (&cut)[64]) {
  int n = 0;
  for (; n < count && n < 64 && bytes > 0; ++n) {
    cut[n] = iov[n];
    cut[n].iov_len = iov[n].iov_len < bytes ? iov[n].iov_len : bytes;
    bytes -= cut[n].iov_len;
  }
  return n;
}

std::size_t total_of(const struct iovec* iov, int count) {
  std::size_t total = 0;
  for (int i = 0; i < count; ++i) {
    total += iov[i].iov_len;
  }
  return total;
}

}  // namespace

// A gathered write as `call` makes it through `write`: failed, cut short,
// interrupted or passed on, as armed.
template <typename Write>
ssize_t gathered_write(Call call, const struct iovec* iov, int count, Write write) {
  std::function<std::size_t(std::size_t)> cut_to;
  if (should_fail(call, &cut_to)) {
    return -1;
  }
  if (!cut_to) {
    return write(iov, count);
  }
  struct iovec cut[64];
  const std::size_t bytes = cut_to(total_of(iov, count));
  if (bytes == 0) {
    errno = EINTR;
    return -1;
  }
  return write(cut, cut_spans(iov, count, bytes, cut));
}

bool refuses_unnamed_files() {
  const std::lock_guard<std::mutex> lock(mutex);
  return armed && plan.no_unnamed_files;
}

const char* name(Call call) {
  switch (call) {
    case Call::open:
      return "open";
    case Call::fstat:
      return "fstat";
    case Call::fcntl:
      return "fcntl";
    case Call::ftruncate:
      return "ftruncate";
    case Call::pread:
      return "pread";
    case Call::writev:
      return "writev";
    case Call::pwritev:
      return "pwritev";
    case Call::lseek:
      return "lseek";
    case Call::fallocate:
      return "fallocate";
    case Call::close:
      return "close";
    case Call::truncate:
      return "truncate";
    case Call::unlink:
      return "unlink";
    case Call::linkat:
      return "linkat";
    case Call::rename:
      return "rename";
    case Call::fchmod:
      return "fchmod";
    case Call::fchown:
      return "fchown";
    case Call::openat:
      return "openat";
    case Call::fstatat:
      return "fstatat";
    case Call::unlinkat:
      return "unlinkat";
    case Call::renameat:
      return "renameat";
  }
  return "?";
}

void arm(Plan new_plan) {
  const std::lock_guard<std::mutex> lock(mutex);
  plan = std::move(new_plan);
  record.clear();
  armed = true;
}

std::vector<Call> disarm() {
  const std::lock_guard<std::mutex> lock(mutex);
  armed = false;
  return record;
}

int open_descriptors() {
  int count = 0;
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) {
    return -1;
  }
  while (readdir(folder) != nullptr) {
    ++count;
  }
  closedir(folder);
  return count - 3;  // ".", ".." and the folder's own descriptor
}

}  // namespace faults

using faults::Call;
using faults::should_fail;

extern "C" {

int __wrap_open64(const char* path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  if ((flags & O_TMPFILE) == O_TMPFILE && faults::refuses_unnamed_files()) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return should_fail(Call::open) ? -1 : __real_open64(path, flags, mode);
}

int __wrap_fstat64(int fd, struct stat64* info) {
  return should_fail(Call::fstat) ? -1 : __real_fstat64(fd, info);
}

int __wrap_fcntl64(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  const long argument = va_arg(args, long);
  va_end(args);
  return should_fail(Call::fcntl) ? -1 : __real_fcntl64(fd, command, argument);
}

int __wrap_ftruncate64(int fd, off64_t length) {
  return should_fail(Call::ftruncate) ? -1 : __real_ftruncate64(fd, length);
}

ssize_t __wrap_pread64(int fd, void* buffer, size_t size, off64_t offset) {
  std::function<std::size_t(std::size_t)> cut_to;
  if (should_fail(Call::pread, &cut_to)) {
    return -1;
  }
  if (cut_to) {
    size = cut_to(size);
    if (size == 0) {
      errno = EINTR;
      return -1;
    }
  }
  return __real_pread64(fd, buffer, size, offset);
}

ssize_t __wrap_writev(int fd, const struct iovec* iov, int count) {
  return faults::gathered_write(Call::writev, iov, count, [fd](const struct iovec* spans, int n) {
    return __real_writev(fd, spans, n);
  });
}

ssize_t __wrap_pwritev64(int fd, const struct iovec* iov, int count, off64_t offset) {
  return faults::gathered_write(Call::pwritev, iov, count,
                                [fd, offset](const struct iovec* spans, int n) {
                                  return __real_pwritev64(fd, spans, n, offset);
                                });
}

off64_t __wrap_lseek64(int fd, off64_t offset, int whence) {
  return should_fail(Call::lseek) ? -1 : __real_lseek64(fd, offset, whence);
}

int __wrap_fallocate64(int fd, int mode, off64_t offset, off64_t length) {
  return should_fail(Call::fallocate) ? -1 : __real_fallocate64(fd, mode, offset, length);
}

int __wrap_close(int fd) {
  // A failed close still releases the descriptor, as on Linux.
  if (should_fail(Call::close)) {
    const int saved = errno;
    __real_close(fd);
    errno = saved;
    return -1;
  }
  return __real_close(fd);
}

int __wrap_truncate64(const char* path, off64_t length) {
  return should_fail(Call::truncate) ? -1 : __real_truncate64(path, length);
}

int __wrap_unlink(const char* path) { return should_fail(Call::unlink) ? -1 : __real_unlink(path); }

int __wrap_linkat(int from_dir, const char* from, int to_dir, const char* to, int flags) {
  return should_fail(Call::linkat) ? -1 : __real_linkat(from_dir, from, to_dir, to, flags);
}

int __wrap_rename(const char* from, const char* to) {
  return should_fail(Call::rename) ? -1 : __real_rename(from, to);
}

int __wrap_fchmod(int fd, mode_t mode) {
  return should_fail(Call::fchmod) ? -1 : __real_fchmod(fd, mode);
}

int __wrap_fchown(int fd, uid_t owner, gid_t group) {
  return should_fail(Call::fchown) ? -1 : __real_fchown(fd, owner, group);
}

int __wrap_openat64(int dir, const char* path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  if ((flags & O_TMPFILE) == O_TMPFILE && faults::refuses_unnamed_files()) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return should_fail(Call::openat) ? -1 : __real_openat64(dir, path, flags, mode);
}

int __wrap_fstatat64(int dir, const char* path, struct stat64* info, int flags) {
  return should_fail(Call::fstatat) ? -1 : __real_fstatat64(dir, path, info, flags);
}

int __wrap_unlinkat(int dir, const char* path, int flags) {
  return should_fail(Call::unlinkat) ? -1 : __real_unlinkat(dir, path, flags);
}

int __wrap_renameat(int from_dir, const char* from, int to_dir, const char* to) {
  return should_fail(Call::renameat) ? -1 : __real_renameat(from_dir, from, to_dir, to);
}

int __wrap_renameat2(int from_dir, const char* from, int to_dir, const char* to,
                     unsigned int flags) {
  if (faults::refuses_unnamed_files()) {
    errno = EINVAL;
    return -1;
  }
  return should_fail(Call::renameat) ? -1 : __real_renameat2(from_dir, from, to_dir, to, flags);
}

}  // extern "C"
