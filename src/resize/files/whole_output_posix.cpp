// The tool's half of the POSIX file layer: outputs that appear whole or not
// at all, a piped input spooled to a file, and the clean-up after an
// interruption. The library never calls these.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "posix_files.h"
#include "unfinished_names.h"

namespace bmpresizer {
namespace {

constexpr int kOutputFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
// The longest name a folder entry may have on the file systems in use.
constexpr std::size_t kMaxNameBytes = NAME_MAX;
const char kTemporaryMark[] = ".bmpresize-";

std::atomic<void (*)()> last_words_to_say{nullptr};
const int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void on_interruption(int signal_number) {
  remove_unfinished_names();
  if (void (*last_words)() = last_words_to_say.load()) {
    last_words();
  }
  // Ends the process as the signal would have, once the handler returns and
  // the signal is unblocked: the shell sees 128 + the signal's number.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// Whether new files can be made without a name and named later: O_TMPFILE,
// linked in through /proc/self/fd (AT_EMPTY_PATH would need a privilege).
bool can_make_unnamed_files() {
#if defined(__linux__) && defined(O_TMPFILE)
  // Asked once, kept without a guarded local static, which would tie the
  // libraries to the C++ run-time library: 0 not yet known, 1 yes, 2 no.
  static std::atomic<int> proc_mounted{0};
  int known = proc_mounted.load(std::memory_order_relaxed);
  if (known == 0) {
    known = ::access("/proc/self/fd", X_OK) == 0 ? 1 : 2;
    proc_mounted.store(known, std::memory_order_relaxed);
  }
  return known == 1;
#else
  return false;
#endif
}

// The name after the last slash of `path`.
const char* base_of(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

// Links the unnamed file `fd` into `folder` under the name that ends
// `path`.
bool link_unnamed(int fd, int folder, const char* path, int& error) {
  char proc_path[64];
  std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, proc_path, folder, base_of(path), AT_SYMLINK_FOLLOW) != 0) {
    error = errno;
    return false;
  }
  return true;
}

// The folder of `path` ("." for a bare name), into `folder`.
void folder_of(const char* path, char (&folder)[kMaxPathUnits]) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::memcpy(folder, ".", 2);
    return;
  }
  const std::size_t length = slash == path ? 1 : static_cast<std::size_t>(slash - path);
  std::memcpy(folder, path, length);
  folder[length] = '\0';
}

// A fresh temporary name beside `target`: .NAME.bmpresize-UNIQUE, with NAME
// shortened (at a character's start) so that the whole fits a folder entry
// and a path; ENAMETOOLONG when even an empty NAME would not.
bool temporary_name(const char* target, char (&name)[kMaxPathUnits], int& error) {
  static std::atomic<unsigned> counter{0};
  char unique[64];
  std::snprintf(
      unique, sizeof unique, "%s%ld-%x-%lx", kTemporaryMark, static_cast<long>(::getpid()),
      counter.fetch_add(1),
      static_cast<unsigned long>(std::clock()) ^ static_cast<unsigned long>(time(nullptr)));
  const std::size_t unique_bytes = std::strlen(unique);
  const char* slash = std::strrchr(target, '/');
  const std::size_t folder = slash == nullptr ? 0 : static_cast<std::size_t>(slash - target) + 1;
  if (folder + 1 + unique_bytes >= sizeof name) {
    error = ENAMETOOLONG;
    return false;
  }
  const std::size_t path_room = sizeof name - 1 - folder - 1 - unique_bytes;
  const std::size_t name_room = kMaxNameBytes - 1 - unique_bytes;
  const char* base = target + folder;
  std::size_t base_bytes = std::strlen(base);
  const std::size_t room = path_room < name_room ? path_room : name_room;
  if (base_bytes > room) {
    base_bytes = room;
    while (base_bytes > 0 && (static_cast<unsigned char>(base[base_bytes]) & 0xC0) == 0x80) {
      --base_bytes;
    }
  }
  std::memcpy(name, target, folder);
  name[folder] = '.';
  std::memcpy(name + folder + 1, base, base_bytes);
  std::memcpy(name + folder + 1 + base_bytes, unique, unique_bytes + 1);
  return true;
}

// Makes `make(name)` true for a fresh temporary name beside `target` in
// `folder`, as this thread's unfinished name: `make` creates or links the
// file there and fails with EEXIST when the name is taken.
template <typename Make>
bool name_temporary(const char* target, int folder, char (&name)[kMaxPathUnits], int& error,
                    Make make) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (!temporary_name(target, name, error)) {
      return false;
    }
    NameStep step;
    if (!step.may_name()) {
      error = EINTR;
      return false;
    }
    step.about_to_name(folder, base_of(name));
    const bool made = make(name, error);
    step.named(made);
    if (made || error != EEXIST) {
      return made;
    }
  }
  return false;
}

void remove_named(int folder, const char* name) {
  NameStep step;
  ::unlinkat(folder, base_of(name), 0);
  step.named(false);
}

// Opens the folder of `path` once: every later step (making, linking,
// renaming, removing) is done in that folder, whatever its name comes to
// name meanwhile. O_PATH needs no permission to read the folder.
#ifdef O_PATH
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
int open_folder_of(const char* path) {
  char folder[kMaxPathUnits];
  folder_of(path, folder);
  return above_stdio(::open(folder, kFolderFlags));
}

}  // namespace

void remove_name(int folder, const char* path) {
  ::unlinkat(folder < 0 ? AT_FDCWD : folder, path, 0);
}

void wait_for_the_end() {
  for (int wait = 0; wait < 500; ++wait) {
    const timespec tick{0, 10L * 1000 * 1000};
    nanosleep(&tick, nullptr);
  }
}

WholeOutput::~WholeOutput() { discard(); }

Outcome WholeOutput::open(NativePath path, FileHandle input) {
  discard();
  if (path == nullptr) {
    return failed(Failure::output_path_invalid);
  }
  if (path[0] == '\0') {
    return failed(Failure::output_open, ENOENT);
  }
  // The kernel follows the links, and says whether this user may write the
  // file there: a read-only output is refused before any work.
  const int fd = above_stdio(::open(path, kOutputFlags));
  int error = errno;
  if (fd < 0 && error == ENOENT) {
    if (!follow_links(path, target_, temporary_, error)) {
      return failed(Failure::output_open, error);
    }
    folder_ = open_folder_of(target_);
    return folder_ >= 0 ? create_beside_target(false) : failed(Failure::output_open, errno);
  }
  if (fd < 0 && error == ENXIO) {
    // No reader at a named pipe, or a socket, which open() never opens.
    struct stat what {};
    const bool socket = ::stat(path, &what) == 0 && S_ISSOCK(what.st_mode);
    return failed(socket ? Failure::output_is_socket : Failure::output_no_reader, error);
  }
  if (fd < 0) {
    return failed(Failure::output_open, error);
  }
  const FileFacts opened = facts_of(fd);
  if (opened.error != 0 || same_file(opened, facts_of(input))) {
    ::close(fd);
    return opened.error != 0 ? failed(Failure::output_open, opened.error)
                             : failed(Failure::output_is_input);
  }
  // The folder the name leads to, opened now, must hold the file opened.
  struct stat in_folder {};
  const bool placed = opened.regular && follow_links(path, target_, temporary_, error) &&
                      (folder_ = open_folder_of(target_)) >= 0 &&
                      ::fstatat(folder_, base_of(target_), &in_folder, AT_SYMLINK_NOFOLLOW) == 0 &&
                      static_cast<std::uint64_t>(in_folder.st_dev) == opened.volume &&
                      static_cast<std::uint64_t>(in_folder.st_ino) == opened.file;
  // A pipe, terminal or device, or a name whose last link leads elsewhere
  // than to the file opened (/dev/fd/N of a deleted file): written in place.
  if (!placed) {
    discard();
    if (!opened.regular) {
      make_blocking(fd);
    } else if (opened.size != 0 && ::ftruncate(fd, 0) != 0) {
      error = errno;
      ::close(fd);
      return failed(Failure::output_open, error);
    }
    handle_ = fd;
    mode_ = Mode::in_place;
    return Outcome{};
  }
  return replace_file(fd);
}

Outcome WholeOutput::replace_file(int fd) {
  struct stat old {};
  const bool described = ::fstat(fd, &old) == 0;
  const int error = errno;
  ::close(fd);
  if (!described) {
    return failed(Failure::output_open, error);
  }
  old_mode_ = old.st_mode & 07777;
  old_owner_ = old.st_uid;
  old_group_ = old.st_gid;
  // A sticky folder (/tmp) lets only the file's owner, the folder's owner
  // or a privileged user replace a file: said before any work, not after.
  struct stat folder {};
  if (::fstat(folder_, &folder) == 0 && (folder.st_mode & S_ISVTX) != 0 && ::geteuid() != 0 &&
      old.st_uid != ::geteuid() && folder.st_uid != ::geteuid()) {
    return failed(Failure::output_open, EPERM);
  }
  return create_beside_target(true);
}

namespace {

// Why a folder takes no new file: no permission, or read-only.
bool unwritable(int error) { return error == EACCES || error == EPERM || error == EROFS; }

// Gives the new file `to` the extended attributes of the file `name` in
// `folder` that it replaces, its access control list among them (as
// system.posix_acl_access), as far as the system lets this user set them:
// the user's attributes go with the file, as its mode and owner do. Best
// effort: a name or value too long for the room here is left out.
void copy_extended_attributes(int folder, const char* name, int to) {
#if defined(__linux__)
  char path[kMaxPathUnits];
  if (std::snprintf(path, sizeof path, "/proc/self/fd/%d/%s", folder, name) >=
      static_cast<int>(sizeof path)) {
    return;
  }
  char names[4096];
  const ssize_t listed = ::listxattr(path, names, sizeof names);
  char value[4096];
  for (ssize_t at = 0; at < listed;) {
    const char* const attribute = names + at;
    at += static_cast<ssize_t>(std::strlen(attribute)) + 1;
    const ssize_t size = ::getxattr(path, attribute, value, sizeof value);
    if (size >= 0) {
      ::fsetxattr(to, attribute, value, static_cast<std::size_t>(size), 0);
    }
  }
#else
  static_cast<void>(folder);
  static_cast<void>(name);
  static_cast<void>(to);
#endif
}

}  // namespace

Outcome WholeOutput::create_beside_target(bool replacing) {
  replacing_ = replacing;
  int fd = -1;
  int error = 0;
  // A replacement is named beside its target before it takes its place:
  // a folder too deep for any such name is refused before any work.
  if (replacing && !temporary_name(target_, temporary_, error)) {
    return failed(Failure::output_open, error);
  }
  if (can_make_unnamed_files()) {
#if defined(__linux__) && defined(O_TMPFILE)
    // 0666 under the umask: the mode a new output gets.
    fd = above_stdio(::openat(folder_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    error = errno;
    // EISDIR, EOPNOTSUPP: a file system without unnamed files.
    if (fd < 0 && error != EISDIR && error != EOPNOTSUPP && error != EINVAL) {
      return failed(unwritable(error) ? Failure::output_folder_unwritable : Failure::output_open,
                    error);
    }
    mode_ = fd >= 0 ? Mode::unnamed : Mode::closed;
#endif
  }
  if (fd < 0) {
    const int folder = folder_;
    const bool named =
        name_temporary(target_, folder_, temporary_, error, [&](const char* name, int& why) {
          fd = above_stdio(::openat(folder, base_of(name),
                                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
          why = errno;
          return fd >= 0;
        });
    if (!named) {
      return failed(unwritable(error) ? Failure::output_folder_unwritable : Failure::output_open,
                    error);
    }
    mode_ = Mode::named;
  }
  handle_ = fd;
  if (!replacing) {
    return Outcome{};
  }
  // The replaced file's attributes, then its owner and group where the
  // system lets us give them, then its mode (which sets the access control
  // list's mask as the old file had it); without its owner, no set-user-ID
  // or set-group-ID bit.
  copy_extended_attributes(folder_, base_of(target_), fd);
  struct stat made {};
  const bool owner_kept =
      ::fchown(fd, old_owner_, old_group_) == 0 ||
      (::fstat(fd, &made) == 0 && made.st_uid == old_owner_ && made.st_gid == old_group_);
  const mode_t mode =
      owner_kept ? old_mode_ : (old_mode_ & ~static_cast<mode_t>(S_ISUID | S_ISGID));
  if (::fchmod(fd, mode) != 0) {
    error = errno;
    discard();
    return failed(Failure::output_open, error);
  }
  return Outcome{};
}

Outcome WholeOutput::commit() {
  if (mode_ == Mode::closed) {
    return failed(Failure::close_failed, EBADF);
  }
  if (mode_ == Mode::in_place) {
    mode_ = Mode::closed;
    const Outcome closed = close_file(handle_);
    handle_ = kNoFile;
    return closed;
  }
  if (mode_ == Mode::unnamed && !replacing_) {
    // A new output is linked in under its own name in one step, unless a
    // file of that name appeared meanwhile, which it then replaces. An
    // interruption during the link takes it back: the status the process
    // ends with must be true, and an interrupted run leaves no new output.
    int error = 0;
    bool linked = false;
    bool interrupted = false;
    {
      NameStep step;
      linked = step.may_name() && link_unnamed(handle_, folder_, target_, error);
      interrupted = linked && step.interrupted();
      if (interrupted) {
        ::unlinkat(folder_, base_of(target_), 0);
        linked = false;
        error = EINTR;
      }
    }
    if (interrupted) {
      wait_for_the_end();  // the clean-up ends the process meanwhile
    }
    if (linked) {
      mode_ = Mode::closed;
      const Outcome closed = close_file(handle_);
      handle_ = kNoFile;
      if (!closed.ok()) {
        ::unlinkat(folder_, base_of(target_), 0);
      }
      discard();
      return closed;
    }
    if (error != EEXIST) {
      discard();
      return failed(Failure::close_failed, error != 0 ? error : EINTR);
    }
  }
  return name_and_replace();
}

namespace {

// Puts the file named `from` in `folder` in the place of `to` (which
// `exists`), so that an interruption that comes meanwhile leaves `to` as it
// was: where the system can swap two names, the two are swapped and, if
// an interruption came, swapped back; elsewhere the old file is kept under
// a second name of its own (a hard link) until the new one is in place, and
// put back if an interruption came; a new file is taken away again. Only
// where none of that is possible (no hard links) can an interruption come
// too late. False with `error` set when `to` is as it was.
bool replace_unless_interrupted(const NameStep& step, int folder, const char* from, const char* to,
                                bool exists, int& error) {
  if (step.interrupted()) {
    error = EINTR;
    return false;
  }
#if defined(RENAME_EXCHANGE)
  if (exists && ::renameat2(folder, from, folder, to, RENAME_EXCHANGE) == 0) {
    // The old output now has the temporary name, and goes with it unless
    // an interruption came meanwhile or it cannot go: then the two swap
    // back, and the old output is as it was.
    const bool interrupted = step.interrupted();
    if (!interrupted && ::unlinkat(folder, from, 0) == 0) {
      return true;
    }
    error = interrupted ? EINTR : errno;
    ::renameat2(folder, from, folder, to, RENAME_EXCHANGE);
    return false;
  }
#endif
  // The second name: the temporary one with its mark changed, as unique.
  char kept_as[kMaxPathUnits];
  std::snprintf(kept_as, sizeof kept_as, "%s", from);
  char* const mark = std::strstr(kept_as, kTemporaryMark);
  if (mark != nullptr) {
    mark[sizeof kTemporaryMark - 2] = '~';
  }
  const bool kept = exists && mark != nullptr && ::linkat(folder, to, folder, kept_as, 0) == 0;
  if (::renameat(folder, from, folder, to) != 0) {
    error = errno;
    if (kept) {
      ::unlinkat(folder, kept_as, 0);
    }
    return false;
  }
  if (step.interrupted() && (kept || !exists)) {
    if (kept) {
      ::renameat(folder, kept_as, folder, to);
    } else {
      ::unlinkat(folder, to, 0);
    }
    error = EINTR;
    return false;
  }
  // The old file goes, or comes back if it cannot: nothing is left behind.
  if (kept && ::unlinkat(folder, kept_as, 0) != 0) {
    error = errno;
    ::renameat(folder, kept_as, folder, to);
    return false;
  }
  return true;
}

}  // namespace

// The output under a temporary name beside the target, closed, then put in
// the target's place.
Outcome WholeOutput::name_and_replace() {
  int error = 0;
  const int fd = handle_;
  const int folder = folder_;
  if (mode_ == Mode::unnamed && !name_temporary(target_, folder_, temporary_, error,
                                                [fd, folder](const char* name, int& why) {
                                                  return link_unnamed(fd, folder, name, why);
                                                })) {
    discard();
    return failed(Failure::close_failed, error);
  }
  mode_ = Mode::named;
  const Outcome closed = close_file(handle_);
  handle_ = kNoFile;
  if (!closed.ok()) {
    discard();
    return closed;
  }
  {
    NameStep step;
    const bool may_name = step.may_name();
    const bool replaced =
        may_name && replace_unless_interrupted(step, folder_, base_of(temporary_), base_of(target_),
                                               replacing_, error);
    if (!may_name) {
      error = EINTR;
    }
    step.named(!replaced);
    if (replaced) {
      mode_ = Mode::closed;
      discard();
      return Outcome{};
    }
  }
  if (error == EINTR) {
    wait_for_the_end();  // the clean-up ends the process meanwhile
  }
  discard();
  return failed(Failure::close_failed, error);
}

void WholeOutput::discard() {
  if (handle_ != kNoFile) {
    ::close(handle_);
    handle_ = kNoFile;
  }
  if (mode_ == Mode::named) {
    remove_named(folder_, temporary_);
  }
  mode_ = Mode::closed;
  if (folder_ >= 0) {
    ::close(folder_);
    folder_ = -1;
  }
}

NativePath temporary_folder(char (&buffer)[kMaxPathUnits]) {
  const char* folder = std::getenv("TMPDIR");
  const char* dir = folder != nullptr && *folder != '\0' ? folder : "/tmp";
  std::snprintf(buffer, sizeof buffer, "%s", dir);
  return buffer;
}

bool create_temporary_file(FileHandle& file, int& error) {
  char dir[kMaxPathUnits];
  temporary_folder(dir);
  // An unnamed file where the file system can make one; else a named one,
  // unlinked at once.
  int fd = -1;
#if defined(__linux__) && defined(O_TMPFILE)
  fd = above_stdio(::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
#endif
  if (fd < 0) {
    char name[kMaxPathUnits];
    if (std::snprintf(name, sizeof name, "%s/bmpresize-stdin-XXXXXX", dir) >=
        static_cast<int>(sizeof name)) {
      error = ENAMETOOLONG;
      return false;
    }
    // Named for no longer than it takes to unlink it, as an unfinished
    // name: an interruption meanwhile removes it too.
    NameStep step;
    if (!step.may_name()) {
      error = EINTR;
      return false;
    }
    step.about_to_name(-1, name);
    fd = ::mkostemp(name, O_CLOEXEC);
    if (fd >= 0) {
      ::unlink(name);
    }
    step.named(false);
    fd = above_stdio(fd);
  }
  if (fd < 0) {
    error = errno;
    return false;
  }
  file = fd;
  return true;
}

void clean_up_on_interruption(void (*last_words)()) {
  last_words_to_say.store(last_words);
  clean_up_installed();
  for (int signal_number : kTerminationSignals) {
    struct sigaction action {};
    action.sa_handler = on_interruption;
    sigemptyset(&action.sa_mask);
    for (int blocked : kTerminationSignals) {
      sigaddset(&action.sa_mask, blocked);
    }
    action.sa_flags = SA_RESTART;
    ::sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace bmpresizer
