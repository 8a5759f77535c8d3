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
  std::int32_t factor = 0;
  // INPUT OUTPUT FACTOR
  std::string input;
  std::string output;
  // -f FACTOR -o DIR [-j N] FILE...
  std::string output_dir;
  std::size_t jobs = 1;
  std::vector<std::string> files;
};

// Reads the arguments after the program's name (UTF-8 on every platform).
Arguments parse_arguments(const std::vector<std::string>& args);

}  // namespace bmpresize

#endif
