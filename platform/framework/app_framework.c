/* The framework's inner working: one module state, one list of extension
 * libraries and two failure switches for the whole process. */
#include "app_framework.h"

#include <stdlib.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
static SRWLOCK list_lock = SRWLOCK_INIT;
static void lock(void) { AcquireSRWLockExclusive(&list_lock); }
static void unlock(void) { ReleaseSRWLockExclusive(&list_lock); }
#else
#include <pthread.h>
static pthread_mutex_t list_lock = PTHREAD_MUTEX_INITIALIZER;
static void lock(void) { pthread_mutex_lock(&list_lock); }
static void unlock(void) { pthread_mutex_unlock(&list_lock); }
#endif

/* The list object: the node of one extension library on the process-wide
 * list. It must fit the bytes a module allocates for it. */
typedef struct ListObject {
  struct ListObject* next;
  AfwExtensionModule* module;
  int system_library;
} ListObject;

typedef char list_object_fits[sizeof(ListObject) <= AFW_LIST_OBJECT_BYTES ? 1 : -1];

static AfwModuleState module_state;
static ListObject* libraries; /* oldest first */
static int fail_next_init;
static int fail_next_allocation;

AfwModuleState* afw_current_module_state(void) { return &module_state; }

int afw_init_extension_module(AfwExtensionModule* module, void* instance) {
  lock();
  const int refuse = fail_next_init;
  fail_next_init = 0;
  unlock();
  if (!refuse) {
    module->initialized = 1;
    module->instance = instance;
    module->classes = module_state.classes;
    module->factories = module_state.factories;
  }
  /* The live heads hold only what the module registered; the host's lists
   * wait in the saved slots. */
  module_state.classes = module_state.saved_classes;
  module_state.factories = module_state.saved_factories;
  module_state.saved_classes = NULL;
  module_state.saved_factories = NULL;
  return refuse ? 0 : 1;
}

void* afw_allocate(size_t bytes) {
  lock();
  const int refuse = fail_next_allocation;
  fail_next_allocation = 0;
  unlock();
  return refuse ? NULL : malloc(bytes);
}

void afw_construct_extension_library(void* object, AfwExtensionModule* module, int system_library) {
  ListObject* library = (ListObject*)object;
  library->next = NULL;
  library->module = module;
  library->system_library = system_library;
  lock();
  ListObject** end = &libraries;
  while (*end != NULL) {
    end = &(*end)->next;
  }
  *end = library;
  unlock();
}

void afw_term_extension_module(AfwExtensionModule* module, int all_modules) {
  lock();
  ListObject** at = &libraries;
  while (*at != NULL) {
    ListObject* library = *at;
    if (all_modules || library->module == module) {
      *at = library->next;
      free(library);
    } else {
      at = &library->next;
    }
  }
  unlock();
  /* Back to the state of a module never initialised: a module loaded again
   * starts afresh. */
  module->initialized = 0;
  module->instance = NULL;
  module->classes = NULL;
  module->factories = NULL;
}

size_t afw_extension_libraries(const AfwExtensionModule** modules, int* system_flags,
                               size_t capacity) {
  size_t count = 0;
  lock();
  for (const ListObject* library = libraries; library != NULL; library = library->next) {
    if (count < capacity) {
      modules[count] = library->module;
      if (system_flags != NULL) {
        system_flags[count] = library->system_library;
      }
    }
    ++count;
  }
  unlock();
  return count;
}

void afw_fail_next_init(void) {
  lock();
  fail_next_init = 1;
  unlock();
}

void afw_fail_next_allocation(void) {
  lock();
  fail_next_allocation = 1;
  unlock();
}
