// The names of the tool's unfinished outputs, which an interruption removes:
// one registry for both platforms. The handler runs on whichever thread the
// system picks (a signal) or on a thread of its own (a console event); a
// thread that changes its name does so in a step that the handler sees
// before or after, never halfway, and once the process is ending no step
// makes a name.
#ifndef BMPRESIZER_FILES_UNFINISHED_NAMES_H
#define BMPRESIZER_FILES_UNFINISHED_NAMES_H

#include "whole_outputs.h"

namespace bmpresizer {

// A change to this thread's unfinished name (making it, renaming it,
// removing it), under a hold: the handler sees the name before or after,
// never halfway.
class NameStep : public InterruptionHold {
 public:
  // False once the process is ending (after waiting a while for the end):
  // the step must then make no name, and its slot is left for the handler
  // as it was before the step.
  bool may_name();
  // The name the step is about to make, before it exists: `path` in the
  // open folder `folder`, or the whole path when `folder` is -1.
  void about_to_name(int folder, const PathChar* path) const;
  // Ends the step with the name in place (true) or gone (false); a step
  // that does not say leaves the slot as it was.
  void named(bool exists) const;
};

// For the handler: marks the process as ending, waits for the steps under
// way and removes every name left.
void remove_unfinished_names();

// The clean-up is in place (clean_up_on_interruption was called): a
// termination signal then ends the process, and one held off by a hold
// counts as an interruption.
void clean_up_installed();

// The platform's own parts.
void remove_name(int folder, const PathChar* path);
void wait_for_the_end();

}  // namespace bmpresizer

#endif
