// What the tool needs of the operating system beyond the core: a sane
// process to start from, terminals, and files for its own output policy.
#ifndef BMPRESIZE_PLATFORM_H
#define BMPRESIZE_PLATFORM_H

namespace bmpresize {

// Makes the process safe to work in before anything else happens: standard
// input, output and error are open (on the null device if the caller closed
// them, so that no file the tool opens takes their numbers), and a reader
// that goes away makes writes fail instead of killing the tool.
void prepare_process();

// Whether standard error is a terminal.
bool stderr_is_terminal();

}  // namespace bmpresize

#endif
