// The names of a list of files, for --files-from: one a line, or each
// ended by a NUL byte (-0), as find -print0 writes them.
#ifndef BMPRESIZE_FILE_LIST_H
#define BMPRESIZE_FILE_LIST_H

#include <cstddef>
#include <string>
#include <vector>

namespace bmpresize {

// Cuts the bytes of a list into names, as they come, in pieces of any size.
// A name is exactly what stands between two separators: spaces, quotes and
// backslashes are part of it. Empty names are skipped; with line breaks, a
// carriage return before one (a list written on Windows) is dropped.
class NameSplitter {
 public:
  explicit NameSplitter(bool null_separated) : separator_(null_separated ? '\0' : '\n') {}

  // Appends to `names` each name that the next `size` bytes of the list end.
  void take(const char* bytes, std::size_t size, std::vector<std::string>& names);
  // The list has ended: appends its last name if no separator followed it.
  void finish(std::vector<std::string>& names);
  // Whether a list of lines held a NUL byte (a list made for -0, surely).
  bool saw_nul() const { return saw_nul_; }

 private:
  void end_name(std::vector<std::string>& names);

  char separator_;
  std::string name_;
  bool saw_nul_ = false;
};

// Reads the names of the list `list` (a file, "-" for standard input; a
// named pipe waits for its writer) and appends them to `names`, in their
// order. Returns "" or the one line that says why the list cannot be used
// (it cannot be read, it holds NUL bytes without `null_separated`, a name is
// not a FILE). Only the names are kept, not the list's bytes.
std::string read_file_list(const std::string& list, bool null_separated,
                           std::vector<std::string>& names);

}  // namespace bmpresize

#endif
