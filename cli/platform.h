// What the tool needs of the operating system beyond the core: a sane
// process to start from, the terminal, and the files of its own output
// policy (a temporary file renamed over the output, removed again on failure
// or interruption). Paths are UTF-8 on every platform.
#ifndef BMPRESIZE_PLATFORM_H
#define BMPRESIZE_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bmpresizer_core.h"

namespace bmpresize {

using bmpresizer::FileHandle;
using NativeString = std::basic_string<bmpresizer::PathChar>;

// The characters that end a folder's name in a path.
extern const char kPathSeparators[];

// Makes the process safe to work in before anything else happens: standard
// input, output and error are open (on the null device if the caller closed
// them, so that no file the tool opens takes their numbers), a reader that
// goes away makes writes fail instead of killing the tool, and on Windows
// the console shows UTF-8.
void prepare_process();

// The arguments after the program's name, as UTF-8.
std::vector<std::string> utf8_arguments(int argc, const bmpresizer::PathChar* const* argv);

// `path` as the core opens it.
NativeString native_path(const std::string& path);

// The system's text for an error number of the core's outcomes.
std::string error_text(int error);

// Writes UTF-8 `text` to standard error in one piece (a console shows it as
// Unicode).
void print_error(const std::string& text);

// Writes UTF-8 `text` to standard output.
void print_output(const std::string& text);

// Whether standard error is a terminal, and its width in columns (80 when it
// cannot be told).
bool stderr_is_terminal();
int terminal_columns();

// What the path of an output names, after its symbolic links.
struct OutputTarget {
  enum Kind { missing, regular, other } kind = missing;
  std::string path;        // the file a rename must replace: the last link's target
  std::uint32_t mode = 0;  // a regular file's permission bits
};

// Follows `path`'s symbolic links to what they name (which may not exist);
// false with `error` set when a link cannot be read or the chain is too long.
bool resolve_output(const std::string& path, OutputTarget& target, int& error);

// Whether the existing `path` is the open file `file` (through any link).
bool is_same_file(const std::string& path, FileHandle file);

// A new, empty temporary file in the folder of `beside`, named after it,
// with the permission bits a new file gets (`mode` 0) or `mode`. Its path is
// registered for removal on interruption until forget_temporary.
bool create_temporary(const std::string& beside, std::uint32_t mode, FileHandle& handle,
                      std::string& path, int& error);

// Puts the closed temporary file `temporary` in the place of `target`, in one
// step: `target` is either left as it was or replaced whole.
bool replace_with(const std::string& temporary, const std::string& target, int& error);

// Removes the temporary file `path` and forgets it.
void remove_temporary(const std::string& path);

// Forgets `path` once it is no longer a temporary file (renamed).
void forget_temporary(const std::string& path);

// On SIGINT, SIGTERM or SIGHUP (Ctrl-C or Ctrl-Break on Windows): removes the
// registered temporary files, clears a progress line that is shown, and ends
// the process as the signal would (130 for Ctrl-C).
void clean_up_on_interruption();

// Tells the interruption handler whether a progress line is on the terminal.
void set_progress_line_shown(bool shown);

// What the tool needs to know of a named file before any work: whether and
// what it is, how long, and which file it is (two paths to one file have the
// same identity).
struct FileFacts {
  int error = 0;  // why it could not be looked at (it may not exist)
  bool regular = false;
  bool directory = false;
  std::uint64_t size = 0;
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
};

FileFacts facts_of(const std::string& path);

// Whether two open handles are the same file.
bool same_open_file(FileHandle a, FileHandle b);

// Standard input and output as handles.
FileHandle standard_input();
FileHandle standard_output();

// Whether `handle` is a regular file (one the core can read twice), and its
// length (0 for anything else).
bool is_regular_file(FileHandle handle);
std::uint64_t size_of(FileHandle handle);

// Copies everything from `from` (a pipe) into a new unnamed temporary file,
// through `buffer`, and opens that for reading; the file disappears when
// closed. False with `error` set on failure.
bool spool_to_temporary(FileHandle from, bmpresizer::WorkBuffer buffer, FileHandle& copy,
                        int& error);

}  // namespace bmpresize

#endif
