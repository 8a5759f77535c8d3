#include "module_entry.h"

namespace bmpresizer {
namespace module {
namespace {

// Zero-initialised at load, constant-initialised: nothing runs to set it up.
AfwExtensionModule record;

int attach(void* instance) {
  if (afw_init_extension_module(&record, instance) == 0) {
    return 0;
  }
  // Without a list object the module still works; it is just not listed.
  void* list_object = afw_allocate(AFW_LIST_OBJECT_BYTES);
  if (list_object != nullptr) {
    afw_construct_extension_library(list_object, &record, 0);
  }
  return 1;
}

int detach() {
  afw_term_extension_module(&record, 0);
  return 1;
}

}  // namespace

int pre_initialisation_hook(void* /*instance*/, unsigned long reason, void* /*reserved*/) {
  if (reason == kProcessAttach) {
    AfwModuleState* state = afw_current_module_state();
    state->saved_classes = state->classes;
    state->classes = nullptr;
    state->saved_factories = state->factories;
    state->factories = nullptr;
  }
  return 1;
}

int module_entry(void* instance, unsigned long reason, void* /*reserved*/) {
  switch (reason) {
    case kProcessAttach:
      return attach(instance);
    case kProcessDetach:
      return detach();
    default:
      return 1;
  }
}

const AfwExtensionModule& module_record() { return record; }

}  // namespace module
}  // namespace bmpresizer
