#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "console.h"

namespace bmpresize {

namespace {

bool closed_at_start[3] = {};

// Writes all of `text` to `fd`, resuming after interruptions and short
// writes; gives up on an error.
void write_fully(int fd, const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(fd, text, size);
    if (done < 0 && errno == EINTR) {
      continue;
    }
    if (done <= 0) {
      return;
    }
    text += done;
    size -= static_cast<std::size_t>(done);
  }
}

}  // namespace

const char kPathSeparators[] = "/";

void prepare_process() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0) {
      closed_at_start[fd] = true;
      // open() takes the lowest free number, which is this one.
      ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
  }
  // A write that fails says why; a signal would end the tool without a word.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
}

bool standard_input_was_closed() { return closed_at_start[STDIN_FILENO]; }
bool standard_output_was_closed() { return closed_at_start[STDOUT_FILENO]; }

std::string name_key(const std::string& name) { return name; }

std::vector<std::string> utf8_arguments(int argc, const char* const* argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

PathFacts facts_of(const std::string& path) {
  PathFacts facts;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    facts.error = errno;
    return facts;
  }
  facts.directory = S_ISDIR(info.st_mode);
  facts.size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
  facts.volume = static_cast<std::uint64_t>(info.st_dev);
  facts.file = static_cast<std::uint64_t>(info.st_ino);
  return facts;
}

bool same_file(const PathFacts& a, const PathFacts& b) {
  return a.error == 0 && b.error == 0 && a.volume == b.volume && a.file == b.file;
}

ListReader::~ListReader() {
  if (owned_) {
    ::close(static_cast<int>(handle_));
  }
}

bool ListReader::open(const std::string& path, int& error) {
  // Blocking, unlike the engine's inputs: a named pipe waits for its
  // writer. prepare_process keeps 0, 1 and 2 taken, so this is none of them.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    error = errno;
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    return false;
  }
  handle_ = fd;
  owned_ = true;
  return true;
}

void ListReader::open_standard_input() {
  handle_ = STDIN_FILENO;
  owned_ = false;
}

std::size_t ListReader::read(char* buffer, std::size_t size, int& error) {
  std::size_t done = 0;
  error = 0;
  while (done < size) {
    const ssize_t got = ::read(static_cast<int>(handle_), buffer + done, size - done);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      error = errno;
      break;
    }
    if (got == 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::string error_text(int error) { return std::strerror(error); }

void print_error(const std::string& text) { write_fully(STDERR_FILENO, text.data(), text.size()); }

void print_output(const std::string& text) { write_fully(STDOUT_FILENO, text.data(), text.size()); }

void write_error_bytes(const char* text, std::size_t size) {
  write_fully(STDERR_FILENO, text, size);
}

bool reader_went_away(const bmpresize_result& result) {
  return result.error == BMPRESIZE_E_WRITE_FAILED && result.system_error == EPIPE;
}

void end_as_broken_pipe() {
  ::signal(SIGPIPE, SIG_DFL);
  ::raise(SIGPIPE);
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

int terminal_columns() {
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return 80;
}

}  // namespace bmpresize
