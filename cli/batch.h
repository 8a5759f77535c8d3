// The FILE... form of the tool: many files enlarged into one folder.
#ifndef BMPRESIZE_BATCH_H
#define BMPRESIZE_BATCH_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bmpresize {

struct BatchSettings {
  std::int32_t factor = 1;
  std::size_t jobs_at_once = 1;
  std::string output_dir;  // an existing folder
  bool quiet = false;      // no progress bar
  bool verbose = false;    // a line per file and a summary
};

// Enlarges every file of `files` into `settings.output_dir` under its own
// base name, `settings.jobs_at_once` at a time. Prints one line per failure
// (and per success with `verbose`), then a summary when something failed
// (or with `verbose` and more than one file). Refuses with 4, unconverted, a
// file whose name an earlier file already has and a file whose output would
// be another input of the run. Returns the exit status: the result code of
// the first file that failed, in the order given, or 0.
int run_batch(const BatchSettings& settings, const std::vector<std::string>& files);

}  // namespace bmpresize

#endif
