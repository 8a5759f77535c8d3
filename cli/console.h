// What the tool needs of the operating system beyond the file layer: a sane
// process to start from, its arguments, and the terminal it talks to. Paths
// and text are UTF-8 on every platform.
#ifndef BMPRESIZE_CONSOLE_H
#define BMPRESIZE_CONSOLE_H

#include <string>
#include <vector>

#include "bmpresizer_files.h"

namespace bmpresize {

using NativeString = std::basic_string<bmpresizer::PathChar>;

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

// The folder of temporary files, as UTF-8.
std::string temporary_folder();

// The key under which a folder tells `name` from others: the name itself,
// or on Windows, whose folders ignore letter case, its capitals.
std::string name_key(const std::string& name);

// The arguments after the program's name, as UTF-8.
std::vector<std::string> utf8_arguments(int argc, const bmpresizer::PathChar* const* argv);

// `path` as the file layer opens it.
NativeString native_path(const std::string& path);

// Opens the file `path` for reading as cat would: a named pipe waits for
// its writer. A folder is refused (EISDIR; on Windows, access denied). False
// with `error` set when it cannot be opened.
bool open_to_read(const std::string& path, bmpresizer::FileHandle& handle, int& error);

// The system's text for an error number of the file layer's outcomes.
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

}  // namespace bmpresize

#endif
