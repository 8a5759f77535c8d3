#include "file_list.h"

#include <algorithm>
#include <memory>

#include "arguments.h"
#include "console.h"

namespace bmpresize {

void NameSplitter::take(const char* bytes, std::size_t size, std::vector<std::string>& names) {
  const char* const end = bytes + size;
  while (bytes != end) {
    const char* const stop = std::find(bytes, end, separator_);
    if (separator_ != '\0' && std::find(bytes, stop, '\0') != stop) {
      saw_nul_ = true;
    }
    name_.append(bytes, stop);
    if (stop == end) {
      return;
    }
    end_name(names);
    bytes = stop + 1;
  }
}

void NameSplitter::finish(std::vector<std::string>& names) { end_name(names); }

void NameSplitter::end_name(std::vector<std::string>& names) {
  if (separator_ == '\n' && !name_.empty() && name_.back() == '\r') {
    name_.pop_back();
  }
  if (!name_.empty()) {
    names.push_back(name_);
    name_.clear();
  }
}

std::string read_file_list(const std::string& list, bool null_separated,
                           std::vector<std::string>& names) {
  const bool standard = list == "-";
  const std::string what = standard ? "the list on standard input" : "the list " + list;
  if (standard && standard_input_was_closed()) {
    return "cannot read " + what + ": standard input is closed";
  }
  ListReader reader;
  int error = 0;
  if (standard) {
    reader.open_standard_input();
  } else if (!reader.open(list, error)) {
    return "cannot read " + what + ": " + error_text(error);
  }
  constexpr std::size_t kChunk = std::size_t{64} * 1024;
  const std::unique_ptr<char[]> chunk(new char[kChunk]);
  NameSplitter splitter(null_separated);
  const std::size_t first = names.size();
  for (;;) {
    const std::size_t got = reader.read(chunk.get(), kChunk, error);
    splitter.take(chunk.get(), got, names);
    if (got < kChunk) {
      break;
    }
  }
  if (error != 0) {
    return "cannot read " + what + ": " + error_text(error);
  }
  splitter.finish(names);
  if (splitter.saw_nul()) {
    return what +
           " holds NUL bytes: give -0 (--null) for names that each end with NUL, as "
           "find -print0 writes them";
  }
  for (std::size_t i = first; i < names.size(); ++i) {
    if (std::string problem = file_problem(names[i]); !problem.empty()) {
      return problem.append(" (in ").append(what).append(")");
    }
  }
  return "";
}

}  // namespace bmpresize
