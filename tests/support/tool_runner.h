// Runs the bmpresize tool as a user would, for the tool's tests.
#ifndef BMPRESIZER_TESTS_TOOL_RUNNER_H
#define BMPRESIZER_TESTS_TOOL_RUNNER_H

#include <string>
#include <vector>

#include "bmp_testing.h"

namespace bmptest {

struct ToolRun {
  int status;       // exit status, -1 if the tool did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs the tool (BMPRESIZE_TOOL, through BMPRESIZE_TOOL_RUNNER when it was
// built for another architecture) with `args` through the shell, with
// `redirections` when given, else with no standard input and its output
// captured in files of `dir`.
ToolRun run_tool(const TempDir& dir, const std::vector<std::string>& args,
                 const std::string& redirections = "");

}  // namespace bmptest

#endif
