// The engine's half of the file layer, beyond what the module's library
// needs: outputs that appear whole or not at all, streams kept in
// temporary files, and the clean-up after an interruption (with its
// registry of unfinished names). The module never links it.
#ifndef BMPRESIZER_WHOLE_OUTPUTS_H
#define BMPRESIZER_WHOLE_OUTPUTS_H

#ifndef _WIN32
#include <signal.h>
#endif

#include <cstddef>
#include <cstdint>

#include "bmpresizer_files.h"

namespace bmpresizer {

// An output that appears complete or not at all. A regular or missing file
// is written as a new file beside it (beside a symbolic link's target),
// which takes its place in one step on commit: a new output gets the mode a
// new file gets, a replaced one keeps its mode and, where the system lets
// it, its owner. Where the system can, the new file has no name until then,
// so that nothing is left behind even when the process is killed; a file
// that must be named meanwhile is called .NAME.bmpresize-UNIQUE (shortened
// to fit the folder's name limit). A pipe, terminal or device, or a name
// that is no plain entry of a folder (/dev/fd/N), is written in place.
class WholeOutput {
 public:
  WholeOutput() = default;
  WholeOutput(const WholeOutput&) = delete;
  WholeOutput& operator=(const WholeOutput&) = delete;
  // Discards what was not committed.
  ~WholeOutput();

  // Opens the output `path` for an enlargement of the open `input`, after
  // the checks a write to it would make: output_open when it may not be
  // written (a read-only file, a folder), output_no_reader, output_is_input.
  Outcome open(NativePath path, FileHandle input);
  FileHandle handle() const { return handle_; }
  // Written in place (a pipe, terminal or device): nothing to commit.
  bool in_place() const { return mode_ == Mode::in_place; }
  // Closes the output and puts it in place; close_failed when that fails,
  // which leaves the path as it was.
  Outcome commit();
  // Closes and throws away an uncommitted output; the path is left as it
  // was (except an output written in place).
  void discard();

 private:
  enum class Mode : std::uint8_t { closed, in_place, unnamed, named };
  Outcome create_beside_target(bool replacing);
#ifndef _WIN32
  // Replaces the regular file open as `fd` (which it closes) in folder_.
  Outcome replace_file(int fd);
#endif
  Outcome name_and_replace();

  FileHandle handle_ = kNoFile;
  Mode mode_ = Mode::closed;
  bool replacing_ = false;
  PathChar target_[kMaxPathUnits] = {};  // the name the output takes
  // Its name until then, if named; before that, room for reading links.
  PathChar temporary_[kMaxPathUnits] = {};
#ifndef _WIN32
  std::uint32_t old_mode_ = 0, old_owner_ = 0, old_group_ = 0;
  // The target's folder, opened once: every step is taken in it, whatever
  // its name comes to name meanwhile.
  int folder_ = -1;
#endif
};

// A stream read once, in order: a pipe, or a caller's reads.
class SequentialSource {
 public:
  // Reads up to `size` bytes, fewer only where the stream ends (`error` 0)
  // or fails (`error` set); returns the bytes read.
  virtual std::size_t read(void* buffer, std::size_t size, int& error) = 0;

 protected:
  ~SequentialSource() = default;
};

// The reads of an open pipe or device, from its position.
class HandleReader final : public SequentialSource {
 public:
  explicit HandleReader(FileHandle handle) : handle_(handle) {}
  std::size_t read(void* buffer, std::size_t size, int& error) override {
    return read_all(handle_, buffer, size, error);
  }

 private:
  FileHandle handle_;
};

// Makes a new temporary file in temporary_folder(), open for reading and
// writing, that goes when it is closed (unnamed where the system can make
// one, else named for no longer than its creation). False with `error` set.
bool create_temporary_file(FileHandle& file, int& error);

// Keeps a stream's bytes where they can be read twice: `prefix` (read from
// it already), then what follows in `from`, up to `limit` bytes in all (the
// rest is left unread), in a new temporary file (create_temporary_file)
// copied through `buffer` and opened for reading. False with `error` set on
// failure.
bool spool_to_temporary(SequentialSource& from, ByteSpan prefix, std::uint64_t limit,
                        WorkBuffer buffer, FileHandle& copy, int& error);

// The folder of temporary files: $TMPDIR, else /tmp (Windows: GetTempPath).
NativePath temporary_folder(PathChar (&buffer)[kMaxPathUnits]);

struct UnfinishedName;

// Holds off the clean-up after an interruption while it lives, on this
// thread: what is done under it (drawing a progress line, naming a file)
// comes before the clean-up and its last words. Once the process is ending,
// ending() is true (and the hold let go): nothing more should be made or
// shown.
class InterruptionHold {
 public:
  InterruptionHold();
  ~InterruptionHold();
  InterruptionHold(const InterruptionHold&) = delete;
  InterruptionHold& operator=(const InterruptionHold&) = delete;
  bool ending();
  // Whether an interruption came while the hold lasted (its clean-up waits
  // for the hold, or its signal waits here): unlike ending(), the hold is
  // kept, so that a step just done can be undone before the clean-up.
  bool interrupted() const;

 protected:
  UnfinishedName* slot_;
  int before_ = 0;  // the slot's state before the hold
#ifndef _WIN32
  sigset_t saved_{};
  bool blocked_ = false;
#endif
};

// From now on, an interruption (SIGINT, SIGTERM, SIGHUP; Ctrl-C, Ctrl-Break
// or a closed console on Windows) removes the names of uncommitted outputs,
// calls `last_words` (which must be async-signal-safe), and ends the process
// as the signal would (130 for Ctrl-C). Correct whatever the threads are
// doing: an output is never named after the clean-up, and none of its
// names outlives it.
void clean_up_on_interruption(void (*last_words)());

}  // namespace bmpresizer

#endif
