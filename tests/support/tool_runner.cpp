#include "tool_runner.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

// Shell words that start a program built for another architecture (the
// emulator with its arguments, each quoted, then a space); empty natively.
#ifndef BMPRESIZE_TOOL_RUNNER
#define BMPRESIZE_TOOL_RUNNER ""
#endif

namespace bmptest {
namespace {

std::string quoted(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) {
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return q + "'";
}

}  // namespace

ToolRun run_tool(const TempDir& dir, const std::vector<std::string>& args,
                 const std::string& redirections, const std::string& before) {
  std::string command = before + " " + BMPRESIZE_TOOL_RUNNER + quoted(BMPRESIZE_TOOL);
  for (const std::string& arg : args) {
    command += " " + quoted(arg);
  }
  write_file(dir.file("stdout"), {});
  write_file(dir.file("stderr"), {});
  command += redirections.empty() ? " >" + quoted(dir.file("stdout")) + " 2>" +
                                        quoted(dir.file("stderr")) + " </dev/null"
                                  : " " + redirections;
  const int raw = std::system(command.c_str());
  const Bytes out = read_file(dir.file("stdout"));
  const Bytes err = read_file(dir.file("stderr"));
  return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(out.begin(), out.end()),
                 std::string(err.begin(), err.end())};
}

int start_tool(const std::vector<std::string>& args) {
  std::string command = "exec " BMPRESIZE_TOOL_RUNNER + quoted(BMPRESIZE_TOOL);
  for (const std::string& arg : args) {
    command += " " + quoted(arg);
  }
  command += " </dev/null >/dev/null 2>/dev/null";
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t child = -1;
  if (posix_spawn(&child, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    return -1;
  }
  return child;
}

}  // namespace bmptest
