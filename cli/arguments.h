// The tool's command line: what was asked for, or why the arguments are
// wrong.
#ifndef BMPRESIZE_ARGUMENTS_H
#define BMPRESIZE_ARGUMENTS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bmpresize {

enum class Action { enlarge, enlarge_batch, help, version, usage_error };

struct Arguments {
  Action action = Action::usage_error;
  std::string problem;  // for usage_error: what is wrong, one line
  bool quiet = false;
  bool verbose = false;
  bool uncompressed = false;  // --uncompressed: run-length encoded inputs written uncompressed
  // FACTOR: `across` times along each row, `down` times down the image
  // ("3" is both, "3x2" 3 across and 2 down).
  std::int32_t across = 0;
  std::int32_t down = 0;
  // INPUT OUTPUT FACTOR
  std::string input;
  std::string output;
  // -f FACTOR -o DIR [-j N] [-0] [--files-from LIST] FILE...
  std::string output_dir;
  std::size_t jobs = 1;
  std::vector<std::string> files;  // the FILE operands (the list's names follow, once read)
  bool from_list = false;          // --files-from LIST was given
  std::string list;                // LIST: a file, or "-" for standard input
  bool null_separated = false;     // -0: the list's names end with NUL, not a line break
};

// Reads the arguments after the program's name (UTF-8 on every platform).
// Reads no file: the names of a LIST are the caller's to read.
Arguments parse_arguments(const std::vector<std::string>& args);

// What is wrong with `file` as a FILE of the batch form, or "".
std::string file_problem(const std::string& file);

}  // namespace bmpresize

#endif
