// The FILE... form of the tool: many files enlarged into one folder.
#ifndef BMPRESIZE_BATCH_H
#define BMPRESIZE_BATCH_H

#include "arguments.h"

namespace bmpresize {

// Enlarges every file of `args.files` into the existing folder
// `args.output_dir` under its own base name, `args.jobs` at a time. Prints
// one line per failure (and per success with `verbose`), then a summary when
// something failed (or with `verbose` and other than one file); `quiet`
// leaves out the progress bar. Refuses with 4, unconverted, a
// file whose name an earlier file already has and a file whose output would
// be another input of the run. Returns the exit status: the result code of
// the first file that failed, in the order given, or 0.
int run_batch(const Arguments& args);

}  // namespace bmpresize

#endif
