#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "console.h"

namespace bmpresize {

namespace {

bool closed_at_start[3] = {};

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

std::string temporary_folder() {
  char folder[bmpresizer::kMaxPathUnits];
  return bmpresizer::temporary_folder(folder);
}

std::string name_key(const std::string& name) { return name; }

std::vector<std::string> utf8_arguments(int argc, const char* const* argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

NativeString native_path(const std::string& path) { return path; }

bool open_to_read(const std::string& path, bmpresizer::FileHandle& handle, int& error) {
  // Blocking, unlike the file layer's inputs: a named pipe waits for its
  // writer. prepare_process keeps 0, 1 and 2 taken, so this is none of them.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    error = errno;
    return false;
  }
  const bmpresizer::FileFacts facts = bmpresizer::facts_of(fd);
  if (facts.error != 0 || facts.directory) {
    ::close(fd);
    error = facts.error != 0 ? facts.error : EISDIR;
    return false;
  }
  handle = fd;
  return true;
}

std::string error_text(int error) { return std::strerror(error); }

namespace {

void print_to(bmpresizer::FileHandle handle, const std::string& text) {
  const bmpresizer::ByteSpan span{reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
  int error = 0;
  bmpresizer::write_all(handle, &span, 1, error);
}

}  // namespace

void print_error(const std::string& text) { print_to(bmpresizer::standard_error(), text); }

void print_output(const std::string& text) { print_to(bmpresizer::standard_output(), text); }

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

int terminal_columns() {
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return 80;
}

}  // namespace bmpresize
