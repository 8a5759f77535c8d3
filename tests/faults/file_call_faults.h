// Failing file calls on demand, for tests linked with -Wl,--wrap=<call> for
// each call below (the *64 names where there is one): while armed, every
// wrapped call is counted and recorded; the one numbered `fail_at` fails with
// `fail_errno` instead of running, and a read or write numbered `cut_at`
// transfers fewer bytes than asked (or none, failing with EINTR).
#ifndef BMPRESIZER_TESTS_FILE_CALL_FAULTS_H
#define BMPRESIZER_TESTS_FILE_CALL_FAULTS_H

#include <functional>
#include <string>
#include <vector>

namespace faults {

enum class Call {
  open,
  fstat,
  fcntl,
  ftruncate,
  pread,
  writev,
  pwritev,
  lseek,
  fallocate,
  close,
  truncate,
  unlink,
  linkat,
  rename,
  fchmod,
  fchown,
  openat,
  fstatat,
  unlinkat,
  renameat
};

const char* name(Call call);

struct Plan {
  int fail_at = 0;     // 1-based number of the call to fail; 0: none
  int fail_errno = 0;  // errno of the failed call
  // Runs before the call numbered `hook_at`, which then goes ahead.
  int hook_at = 0;
  std::function<void()> hook;
  // The read or write numbered `cut_at` moves only `cut_to(asked)` bytes;
  // 0 makes it fail with EINTR before moving any.
  int cut_at = 0;
  std::function<std::size_t(std::size_t asked)> cut_to;
  // Opens of unnamed files (O_TMPFILE) fail as on a file system without
  // them, and so does swapping two names (RENAME_EXCHANGE).
  bool no_unnamed_files = false;
};

// Arms the wrappers with `plan` and clears the record.
void arm(Plan plan);
// Disarms them; returns the calls made while armed, in order.
std::vector<Call> disarm();

// Whether an armed plan refuses unnamed files.
bool refuses_unnamed_files();

// File descriptors open in this process.
int open_descriptors();

}  // namespace faults

#endif
