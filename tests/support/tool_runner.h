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
// captured in files of `dir` (stderr is always captured unless redirected).
// `before` is shell text put before the tool's name ("umask 027;", "cat x |").
// On Windows the tool is started directly, without a shell, and
// `redirections` and `before` are not used.
ToolRun run_tool(const TempDir& dir, const std::vector<std::string>& args,
                 const std::string& redirections = "", const std::string& before = "");

// Whether the tool runs as a plain native program (no emulator, no
// sanitizer), whose memory a limit such as "ulimit -v" measures as it is.
bool tool_is_plain();

// What the system says of a missing file, and of a path through a missing
// folder, in the tool's messages.
std::string missing_file_text();
std::string missing_folder_text();

// How a refusal of another kind of image ends: the command that converts
// `input` (as the shell should see it) into `output`.
std::string conversion_hint(const std::string& input, const std::string& output);

#ifndef _WIN32
// The shell command that runs the tool with `args` in place of the shell.
std::string tool_command(const std::vector<std::string>& args);

// Starts the tool with `args` in the background (standard input and output
// on the null device, standard error into the file `err`) and returns its
// process id; the process is the tool's (or its emulator's), so a signal
// sent to it reaches the tool.
int start_tool(const std::vector<std::string>& args, const std::string& err = "/dev/null");
#endif

}  // namespace bmptest

#endif
