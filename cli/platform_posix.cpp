#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "platform.h"

namespace bmpresize {

void prepare_process() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0) {
      // open() takes the lowest free number, which is this one.
      ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

}  // namespace bmpresize
