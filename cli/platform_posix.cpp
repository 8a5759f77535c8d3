#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace bmpresize {
namespace {

// Symbolic links followed to find an output's target (the kernel's own limit).
constexpr int kMaxLinkHops = 40;

// A temporary file that an interruption must remove. The path lives in the
// slot itself, so that the signal handler reads no memory that a worker might
// free meanwhile.
struct TemporarySlot {
  std::atomic<bool> active{false};
  char path[PATH_MAX] = {};
};

// One slot per worker thread at most (-j is capped at 1024); untouched slots
// cost no memory.
constexpr std::size_t kSlots = 1024;
TemporarySlot temporaries[kSlots];
std::atomic<std::size_t> slots_taken{0};
thread_local TemporarySlot* my_slot = nullptr;
std::atomic<bool> progress_line_shown{false};

const char kClearLine[] = "\r\033[K";

void write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t wrote = ::write(fd, data, size);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      return;
    }
    data += wrote;
    size -= static_cast<std::size_t>(wrote);
  }
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void remember_temporary(const std::string& path) {
  if (my_slot == nullptr) {
    const std::size_t slot = slots_taken.fetch_add(1);
    if (slot >= kSlots || path.size() >= PATH_MAX) {
      return;  // not removed on interruption; only ever more than 1024 threads
    }
    my_slot = &temporaries[slot];
  }
  std::memcpy(my_slot->path, path.c_str(), path.size() + 1);
  my_slot->active.store(true, std::memory_order_release);
}

extern "C" void on_interruption(int signal_number) {
  for (TemporarySlot& slot : temporaries) {
    if (slot.active.load(std::memory_order_acquire)) {
      ::unlink(slot.path);
    }
  }
  if (progress_line_shown.load()) {
    write_all(STDERR_FILENO, kClearLine, sizeof kClearLine - 1);
  }
  // Ends the process as the signal would have, once the handler returns and
  // the signal is unblocked: the shell sees 128 + the signal's number.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// A name no other run is likely to pick: process, time and a counter.
std::string unique_suffix() {
  static std::atomic<unsigned> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  char text[64];
  static const long process = static_cast<long>(::getpid());
  std::snprintf(text, sizeof text, "%ld-%llx-%u", process, static_cast<unsigned long long>(ticks),
                counter.fetch_add(1));
  return text;
}

}  // namespace

const char kPathSeparators[] = "/";

void prepare_process() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0) {
      // open() takes the lowest free number, which is this one.
      ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> utf8_arguments(int argc, const char* const* argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

NativeString native_path(const std::string& path) { return path; }

std::string error_text(int error) { return std::strerror(error); }

void print_error(const std::string& text) { write_all(STDERR_FILENO, text.data(), text.size()); }

void print_output(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

int terminal_columns() {
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return 80;
}

bool resolve_output(const std::string& path, OutputTarget& target, int& error) {
  // What the path names, through every link (the magic links of /proc and
  // /dev/stdout included): anything but a regular file is written through
  // the path as given.
  struct stat named {};
  if (::stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
    target = OutputTarget{OutputTarget::other, path, 0};
    return true;
  }
  // A regular file, or nothing yet: the last link's target is the file to
  // replace or create.
  std::string current = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0) {
      if (errno != ENOENT) {
        error = errno;
        return false;
      }
      target = OutputTarget{OutputTarget::missing, current, 0};
      return true;
    }
    if (!S_ISLNK(info.st_mode)) {
      target.kind = S_ISREG(info.st_mode) ? OutputTarget::regular : OutputTarget::other;
      target.path = current;
      target.mode = info.st_mode & 07777;
      return true;
    }
    char link[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), link, sizeof link);
    if (length < 0) {
      error = errno;
      return false;
    }
    // A relative target is relative to the link's folder.
    current = link[0] == '/' ? std::string() : folder_of(current);
    current.append(link, static_cast<std::size_t>(length));
  }
  error = ELOOP;
  return false;
}

bool is_same_file(const std::string& path, FileHandle file) {
  struct stat named {};
  struct stat open {};
  return ::stat(path.c_str(), &named) == 0 && ::fstat(file, &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

bool create_temporary(const std::string& beside, std::uint32_t mode, FileHandle& handle,
                      std::string& path, int& error) {
  const std::size_t slash = beside.rfind('/');
  const std::string base = slash == std::string::npos ? beside : beside.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = folder_of(beside) + "." + base + ".bmpresize-" + unique_suffix();
    // Registered before it exists: an interruption from the moment the file
    // appears removes it.
    remember_temporary(path);
    // 0666 under the umask: the mode a new output gets; a replaced one keeps
    // its own.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
      forget_temporary(path);
      if (errno == EEXIST) {
        continue;
      }
      error = errno;
      return false;
    }
    if (mode != 0 && ::fchmod(fd, static_cast<mode_t>(mode)) != 0) {
      error = errno;
      ::close(fd);
      remove_temporary(path);
      return false;
    }
    handle = fd;
    return true;
  }
  error = EEXIST;
  return false;
}

bool replace_with(const std::string& temporary, const std::string& target, int& error) {
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    error = errno;
    return false;
  }
  forget_temporary(temporary);
  return true;
}

void remove_temporary(const std::string& path) {
  ::unlink(path.c_str());
  forget_temporary(path);
}

void forget_temporary(const std::string&) {
  if (my_slot != nullptr) {
    my_slot->active.store(false, std::memory_order_release);
  }
}

void clean_up_on_interruption() {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = on_interruption;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
  }
}

void set_progress_line_shown(bool shown) { progress_line_shown.store(shown); }

FileFacts facts_of(const std::string& path) {
  FileFacts facts;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    facts.error = errno;
    return facts;
  }
  facts.regular = S_ISREG(info.st_mode);
  facts.directory = S_ISDIR(info.st_mode);
  facts.size = facts.regular ? static_cast<std::uint64_t>(info.st_size) : 0;
  facts.volume = static_cast<std::uint64_t>(info.st_dev);
  facts.file = static_cast<std::uint64_t>(info.st_ino);
  return facts;
}

bool same_open_file(FileHandle a, FileHandle b) {
  struct stat a_info {};
  struct stat b_info {};
  return ::fstat(a, &a_info) == 0 && ::fstat(b, &b_info) == 0 && a_info.st_dev == b_info.st_dev &&
         a_info.st_ino == b_info.st_ino;
}

FileHandle standard_input() { return STDIN_FILENO; }

FileHandle standard_output() { return STDOUT_FILENO; }

bool is_regular_file(FileHandle handle) {
  struct stat info {};
  return ::fstat(handle, &info) == 0 && S_ISREG(info.st_mode);
}

std::uint64_t size_of(FileHandle handle) {
  struct stat info {};
  return ::fstat(handle, &info) == 0 && S_ISREG(info.st_mode)
             ? static_cast<std::uint64_t>(info.st_size)
             : 0;
}

bool spool_to_temporary(FileHandle from, bmpresizer::WorkBuffer buffer, FileHandle& copy,
                        int& error) {
  const char* folder = std::getenv("TMPDIR");
  const std::string dir = folder != nullptr && *folder != '\0' ? folder : "/tmp";
  // An unnamed file where the file system can make one; else a named one,
  // unlinked at once.
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::string name = dir + "/bmpresize-stdin-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
      ::unlink(name.c_str());
    }
  }
  if (fd < 0) {
    error = errno;
    return false;
  }
  for (;;) {
    const ssize_t got = ::read(from, buffer.data, buffer.size);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      if (got == 0) {
        copy = fd;
        return true;
      }
      break;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t wrote = ::write(fd, buffer.data + done, static_cast<std::size_t>(got - done));
      if (wrote < 0 && errno == EINTR) {
        continue;
      }
      if (wrote <= 0) {
        error = wrote < 0 ? errno : EIO;
        ::close(fd);
        return false;
      }
      done += wrote;
    }
  }
  error = errno;
  ::close(fd);
  return false;
}

}  // namespace bmpresize
