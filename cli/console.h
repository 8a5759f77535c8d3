// What the tool needs of the operating system beyond the engine: a sane
// process to start from, its arguments, what a path names, and the
// terminal it talks to. Paths and text are UTF-8 on every platform.
#ifndef BMPRESIZE_CONSOLE_H
#define BMPRESIZE_CONSOLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bmpresize.h"

namespace bmpresize {

#ifdef _WIN32
using ArgumentChar = wchar_t;
#else
using ArgumentChar = char;
#endif

// The characters that end a folder's name in a path.
extern const char kPathSeparators[];

// Makes the process safe to work in before anything else happens: standard
// input, output and error are open (on the null device if the caller closed
// them, so that no file the tool opens takes their numbers), a reader that
// goes away makes writes fail instead of killing the tool, and on Windows
// the console shows UTF-8.
void prepare_process();

// Whether standard input or output was closed when the process started
// (and prepare_process put the null device in its place).
bool standard_input_was_closed();
bool standard_output_was_closed();

// The key under which a folder tells `name` from others: the name itself,
// or on Windows, whose folders ignore letter case, its capitals.
std::string name_key(const std::string& name);

// The arguments after the program's name, as UTF-8.
std::vector<std::string> utf8_arguments(int argc, const ArgumentChar* const* argv);

// What a path names, after its symbolic links.
struct PathFacts {
  int error = 0;  // why it could not be looked at (it may not exist), else 0
  bool directory = false;
  std::uint64_t size = 0;  // of a regular file
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
};
PathFacts facts_of(const std::string& path);

// Whether two looked-at paths name one file.
bool same_file(const PathFacts& a, const PathFacts& b);

// A file read in order from its start, or standard input.
class ListReader {
 public:
  ListReader() = default;
  ListReader(const ListReader&) = delete;
  ListReader& operator=(const ListReader&) = delete;
  ~ListReader();
  // Opens `path` as cat would: a named pipe waits for its writer; a folder
  // is refused (EISDIR; on Windows, access denied). False with `error` set.
  bool open(const std::string& path, int& error);
  // Reads standard input from now on.
  void open_standard_input();
  // Reads up to `size` bytes, fewer only at the end (`error` 0) or on an
  // error (`error` set); returns the bytes read.
  std::size_t read(char* buffer, std::size_t size, int& error);

 private:
  std::intptr_t handle_ = -1;
  bool owned_ = false;
};

// The system's text for an error number (errno; Windows: GetLastError).
std::string error_text(int error);

// Writes UTF-8 `text` to standard error in one piece (a console shows it as
// Unicode).
void print_error(const std::string& text);

// Writes UTF-8 `text` to standard output.
void print_output(const std::string& text);

// Writes `size` bytes to standard error as they are, taking no memory and
// no lock: for a signal handler and for a process out of memory.
void write_error_bytes(const char* text, std::size_t size);

// Whether a failed enlargement failed because the reader of its output
// (a pipe) went away: a filter then ends as SIGPIPE ends it.
bool reader_went_away(const bmpresize_result& result);

// Ends the process as SIGPIPE would (141 in the shell), saying nothing;
// returns where the system has no such signal (Windows).
void end_as_broken_pipe();

// Whether standard error is a terminal, and its width in columns (80 when it
// cannot be told).
bool stderr_is_terminal();
int terminal_columns();

}  // namespace bmpresize

#endif
