#include "tool_runner.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <filesystem>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>

// Shell words that start a program built for another architecture (the
// emulator with its arguments, each quoted, then a space); empty natively.
#ifndef BMPRESIZE_TOOL_RUNNER
#define BMPRESIZE_TOOL_RUNNER ""
#endif

namespace bmptest {

std::string conversion_hint(const std::string& input, const std::string& output) {
#ifdef _WIN32
  // ImageMagick 7's command: Windows has a `convert` of its own (for disks).
  const std::string imagemagick = "magick ";
#else
  const std::string imagemagick = "convert ";
#endif
  return "convert it first: gm convert " + input + " -compress None BMP3:" + output +
         " (or ImageMagick: " + imagemagick + input + " -compress none BMP3:" + output + ")";
}

#ifdef _WIN32
namespace {

// One argument as the C runtime splits a command line: quoted, with the
// backslashes before a quote doubled.
std::wstring windows_quoted(const std::wstring& arg) {
  std::wstring q = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    q.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    q += c;
  }
  q.append(2 * backslashes, L'\\');
  return q + L"\"";
}

HANDLE inheritable_file(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(std::filesystem::u8path(path).c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition, 0, nullptr);
}

// The system's message for `error`, as the tool shows it: without the
// closing full stop and line break.
std::string system_message(DWORD error) {
  char text[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                 text, sizeof text, nullptr);
  std::string message = text;
  while (!message.empty() && std::string("\r\n .").find(message.back()) != std::string::npos) {
    message.pop_back();
  }
  return message;
}

}  // namespace

// No shell runs the tool there, and no "ulimit".
bool tool_is_plain() { return false; }

std::string missing_file_text() { return system_message(ERROR_FILE_NOT_FOUND); }
std::string missing_folder_text() { return system_message(ERROR_PATH_NOT_FOUND); }

ToolRun run_tool(const TempDir& dir, const std::vector<std::string>& args, const std::string&,
                 const std::string&) {
  std::wstring command = windows_quoted(std::filesystem::u8path(BMPRESIZE_TOOL).wstring());
  for (const std::string& arg : args) {
    command += L" " + windows_quoted(std::filesystem::u8path(arg).wstring());
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inheritable_file("NUL", GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = inheritable_file(dir.file("stdout"), GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = inheritable_file(dir.file("stderr"), GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION process{};
  DWORD status = static_cast<DWORD>(-1);
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(startup.hStdInput);
  CloseHandle(startup.hStdOutput);
  CloseHandle(startup.hStdError);
  const Bytes out = read_file(dir.file("stdout"));
  const Bytes err = read_file(dir.file("stderr"));
  return ToolRun{static_cast<int>(status), std::string(out.begin(), out.end()),
                 std::string(err.begin(), err.end())};
}

}  // namespace bmptest
#else
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

bool tool_is_plain() { return std::string(BMPRESIZE_TOOL_RUNNER).empty() && !BMPRESIZER_SANITIZED; }

std::string missing_file_text() { return "No such file or directory"; }
std::string missing_folder_text() { return "No such file or directory"; }

std::string tool_command(const std::vector<std::string>& args) {
  std::string command = "exec " BMPRESIZE_TOOL_RUNNER + quoted(BMPRESIZE_TOOL);
  for (const std::string& arg : args) {
    command += " " + quoted(arg);
  }
  return command;
}

int start_tool(const std::vector<std::string>& args, const std::string& err) {
  // Made here, so that a signal sent before the shell opens it finds an
  // empty file, as a tool that said nothing leaves.
  write_file(err, Bytes{});
  const std::string command = tool_command(args) + " </dev/null >/dev/null 2>" + quoted(err);
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t child = -1;
  if (posix_spawn(&child, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    return -1;
  }
  return child;
}

}  // namespace bmptest
#endif
