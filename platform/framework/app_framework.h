/*
 * A small application framework for hosts that load extension modules.
 *
 * It keeps, for the process, the registrations of the module being loaded
 * (its classes and object factories) and a list of the extension libraries
 * that are loaded. An extension module calls four operations from its load
 * and unload hooks: initialisation, object allocation, list-object
 * construction and termination; hosts and tests read the list and can make
 * the next initialisation or allocation fail.
 *
 * Every function may be called from any thread; the list and the switches
 * are guarded by one lock. The current module state is not: it is touched
 * only while the platform loader holds its own lock, during a module's load
 * and unload, and by the host before it loads anything.
 *
 * On Windows the five operations for extension modules (from
 * afw_current_module_state to afw_term_extension_module) are exported by
 * ordinal only, and the import library imports them by ordinal; the
 * helpers for hosts and tests keep their names (app_framework.def).
 */
#ifndef APP_FRAMEWORK_H
#define APP_FRAMEWORK_H

#include <stddef.h>

#if defined(_WIN32)
#if defined(APP_FRAMEWORK_BUILDING) && defined(APP_FRAMEWORK_EXPORTS_FROM_DEF)
/* app_framework.def alone sets the exports: LLVM's linker before version 17
 * takes an attribute's export by name over the definition's ordinal. */
#define AFW_API
#elif defined(APP_FRAMEWORK_BUILDING)
#define AFW_API __declspec(dllexport)
#else
#define AFW_API __declspec(dllimport)
#endif
#elif defined(APP_FRAMEWORK_BUILDING) && defined(__GNUC__)
#define AFW_API __attribute__((visibility("default")))
#else
#define AFW_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A registered class or object factory: one node of a singly linked list.
 * The registrant owns the node; the framework only links it. */
typedef struct AfwRegistration {
  struct AfwRegistration* next;
  const char* name;
} AfwRegistration;

/* The framework's state for the module being loaded: two registration
 * lists, each a live head (where registrations go) and a saved slot beside
 * it (where a loading extension module parks the host's list). */
typedef struct AfwModuleState {
  AfwRegistration* classes;
  AfwRegistration* saved_classes;
  AfwRegistration* factories;
  AfwRegistration* saved_factories;
} AfwModuleState;

/* The record of one extension module. The module owns it, all zero at
 * load; the framework fills it at initialisation. */
typedef struct AfwExtensionModule {
  int initialized;
  void* instance;           /* the module's instance handle */
  AfwRegistration* classes; /* what the module registered while loading */
  AfwRegistration* factories;
} AfwExtensionModule;

/* Bytes to allocate for one list object. */
#define AFW_LIST_OBJECT_BYTES 64

/* The current module state; never null, the same for the whole process. */
AFW_API AfwModuleState* afw_current_module_state(void);

/* Initialises the extension module `module` loaded at `instance`: records the
 * handle, moves into the record the classes and factories registered since
 * the live heads were emptied (the module's own), and puts the heads saved
 * beside them back live. Returns nonzero on success. On refusal returns 0,
 * leaves the record as it was, drops the module's registrations and still
 * puts the saved heads back, so the host's registrations survive either way. */
AFW_API int afw_init_extension_module(AfwExtensionModule* module, void* instance);

/* Allocates `bytes` bytes for a framework object; null on failure. */
AFW_API void* afw_allocate(size_t bytes);

/* Constructs, in `object` (AFW_LIST_OBJECT_BYTES from afw_allocate), the list
 * object of the extension library `module` and puts it on the process-wide
 * list of extension libraries. `system_library` is nonzero for libraries of
 * the framework itself. The framework owns the object from then on. */
AFW_API void afw_construct_extension_library(void* object, AfwExtensionModule* module,
                                             int system_library);

/* Terminates the extension module `module`: takes its list objects off the
 * list and frees them, and sets the record back to zero. With `all_modules`
 * nonzero every list object goes, whichever module it is bound to. */
AFW_API void afw_term_extension_module(AfwExtensionModule* module, int all_modules);

/* For hosts and tests. */

/* Copies up to `capacity` module records of the loaded extension libraries,
 * oldest first, into `modules` (which may be null when `capacity` is 0), and
 * their system-library flags into `system_flags` when that is not null.
 * Returns how many there are in all. */
AFW_API size_t afw_extension_libraries(const AfwExtensionModule** modules, int* system_flags,
                                       size_t capacity);

/* Makes the next afw_init_extension_module refuse (once). */
AFW_API void afw_fail_next_init(void);

/* Makes the next afw_allocate return null (once). */
AFW_API void afw_fail_next_allocation(void);

#ifdef __cplusplus
}
#endif

#endif /* APP_FRAMEWORK_H */
