// The module's attach and detach on ELF systems, from the shared object's
// load and unload hooks. The loader runs a shared object's constructors in
// ascending priority, then the unprioritised ones in link order (this file
// is linked last), and its destructors the other way round. So on dlopen:
// the pre-initialisation hook (priority 101, the first a program may use),
// the static initialisation of everything else in the library, the attach;
// on dlclose or exit: the detach, then exit processing, then the hook.
//
// A constructor cannot fail a load: when the framework refuses the module,
// the module stays unregistered and BMPResizer works all the same.
#include <dlfcn.h>

#include "module_entry.h"

namespace {

using bmpresizer::module::kProcessAttach;
using bmpresizer::module::kProcessDetach;

// The instance handle: the address where the loader mapped this library.
void* instance() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&instance), &info) == 0) {
    return nullptr;
  }
  return info.dli_fbase;
}

__attribute__((constructor(101))) void before_static_initialisation() {
  bmpresizer::module::pre_initialisation_hook(instance(), kProcessAttach, nullptr);
}

__attribute__((constructor)) void on_attach() {
  static_cast<void>(bmpresizer::module::module_entry(instance(), kProcessAttach, nullptr));
}

__attribute__((destructor)) void on_detach() {
  bmpresizer::module::module_entry(instance(), kProcessDetach, nullptr);
}

__attribute__((destructor(101))) void after_exit_processing() {
  bmpresizer::module::pre_initialisation_hook(instance(), kProcessDetach, nullptr);
}

}  // namespace
