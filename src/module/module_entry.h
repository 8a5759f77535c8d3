// The library as an extension module of the host's application framework:
// what runs when the platform loader attaches it to a process or detaches it.
// Nothing here touches the resizing code, and the resizing code never calls
// the framework.
#ifndef BMPRESIZER_MODULE_MODULE_ENTRY_H
#define BMPRESIZER_MODULE_MODULE_ENTRY_H

#include "app_framework.h"

namespace bmpresizer {
namespace module {

// The loader's reasons for calling the entry.
enum Reason : unsigned long {
  kProcessDetach = 0,
  kProcessAttach = 1,
  kThreadAttach = 2,
  kThreadDetach = 3,
};

// The framework's pre-initialisation hook. Must run before any static
// initialisation of the module on process attach: parks the host's class and
// factory lists in the saved slots of the current module state and empties
// the live heads, so that whatever the module registers while it initialises
// is told apart from the host's. Called again after exit processing on
// process detach, where it does nothing. Always returns 1.
int pre_initialisation_hook(void* instance, unsigned long reason, void* reserved);

// The module's entry, to run after static initialisation on attach and
// before exit processing on detach. Process attach: initialises the extension
// module (0 if the framework refuses, which must fail the load), then puts a
// list object for the module on the framework's list when the framework can
// allocate one; 1 with or without it. Process detach: terminates the module,
// which takes its list object off; 1. Thread attach and detach: nothing; 1.
int module_entry(void* instance, unsigned long reason, void* reserved);

// The module's record with the framework; all zero until the module is
// initialised.
const AfwExtensionModule& module_record();

}  // namespace module
}  // namespace bmpresizer

#endif
