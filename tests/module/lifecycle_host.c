/* A host of the application framework that loads the library at run time,
 * as a framework-based program would, and checks what the library's load and
 * unload do to the framework:
 *
 *   lifecycle_host LIBRARY INPUT.bmp OUTPUT.bmp [normal|refused|no-list-object]
 *
 * normal: while loaded exactly one extension library is listed, bound to a
 * record that carries the library's instance handle; none after unloading.
 * refused (the framework refuses the next initialisation): on Windows the
 * load fails; elsewhere it goes on with nothing registered. no-list-object
 * (the framework's next allocation fails): the load succeeds and nothing is
 * listed. In every mode the host's own class and factory registrations are
 * the same before, during and after, a thread started and ended while the
 * library is loaded changes nothing, and BMPResizer enlarges INPUT 3 times
 * into OUTPUT whenever the library is loaded. Prints one line per check and
 * "N passed, N failed"; exits 0 when all passed.
 */
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "app_framework.h"
#include "bmpresizer.h"

typedef int (*resizer_fn)(const wchar_t*, const wchar_t*, int);

static int passed, failed;

static void check(int ok, const char* what) {
  printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (ok) {
    ++passed;
  } else {
    ++failed;
  }
}

/* ASCII, or UTF-8 on Windows, to a wide string. */
static wchar_t* widen(const char* text) {
  size_t n = strlen(text);
  wchar_t* wide = calloc(n + 1, sizeof *wide);
#ifdef _WIN32
  if (wide != NULL) {
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, (int)(n + 1));
  }
#else
  for (size_t i = 0; wide != NULL && i < n; ++i) {
    wide[i] = (wchar_t)(unsigned char)text[i];
  }
#endif
  return wide;
}

/* The host's own registrations, made before anything is loaded. */
static AfwRegistration host_classes[2] = {{&host_classes[1], "HostView"}, {NULL, "HostDoc"}};
static AfwRegistration host_factory = {NULL, "HostFactory"};

static int host_registrations_intact(void) {
  const AfwModuleState* state = afw_current_module_state();
  return state->classes == &host_classes[0] && host_classes[0].next == &host_classes[1] &&
         host_classes[1].next == NULL && state->factories == &host_factory &&
         host_factory.next == NULL;
}

static size_t listed(const AfwExtensionModule** first) {
  const AfwExtensionModule* modules[4] = {NULL};
  size_t count = afw_extension_libraries(modules, NULL, 4);
  if (first != NULL) {
    *first = modules[0];
  }
  return count;
}

/* `path` (UTF-8 on Windows) opened for binary reading, or NULL. */
static FILE* open_for_reading(const char* path) {
#ifdef _WIN32
  wchar_t* wide = widen(path);
  FILE* file = wide != NULL ? _wfopen(wide, L"rb") : NULL;
  free(wide);
  return file;
#else
  return fopen(path, "rb");
#endif
}

/* A file's size, or -1. */
static long file_size(const char* path) {
  FILE* file = open_for_reading(path);
  long size = -1;
  if (file != NULL && fseek(file, 0, SEEK_END) == 0) {
    size = ftell(file);
  }
  if (file != NULL) {
    fclose(file);
  }
  return size;
}

/* The length of the BMP `path` enlarged `factor` times, by the format's
 * rule that rows are rounded up to whole 32-bit words; -1 when unreadable. */
static long enlarged_size(const char* path, long factor) {
  unsigned char header[54];
  FILE* file = open_for_reading(path);
  const size_t got = file != NULL ? fread(header, 1, sizeof header, file) : 0;
  if (file != NULL) {
    fclose(file);
  }
  if (got != sizeof header) {
    return -1;
  }
  const long width = (long)(int)((unsigned)header[18] | (unsigned)header[19] << 8 |
                                 (unsigned)header[20] << 16 | (unsigned)header[21] << 24);
  long height = (long)(int)((unsigned)header[22] | (unsigned)header[23] << 8 |
                            (unsigned)header[24] << 16 | (unsigned)header[25] << 24);
  height = height < 0 ? -height : height;
  return 54 + (24 * width * factor + 31) / 32 * 4 * height * factor;
}

#ifdef _WIN32
static DWORD WINAPI thread_body(LPVOID unused) {
  (void)unused;
  return 0;
}
static int run_a_thread(void) {
  HANDLE thread = CreateThread(NULL, 0, thread_body, NULL, 0, NULL);
  if (thread == NULL) {
    return 0;
  }
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return 1;
}
#else
static void* thread_body(void* unused) { return unused; }
static int run_a_thread(void) {
  pthread_t thread;
  if (pthread_create(&thread, NULL, thread_body, NULL) != 0) {
    return 0;
  }
  return pthread_join(thread, NULL) == 0;
}
#endif

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    fprintf(stderr, "usage: lifecycle_host LIBRARY INPUT OUTPUT [normal|refused|no-list-object]\n");
    return 2;
  }
  const char* mode = argc == 5 ? argv[4] : "normal";
  const int refused = strcmp(mode, "refused") == 0;
  const int no_list_object = strcmp(mode, "no-list-object") == 0;
  if (!refused && !no_list_object && strcmp(mode, "normal") != 0) {
    fprintf(stderr, "lifecycle_host: unknown mode %s\n", mode);
    return 2;
  }

  AfwModuleState* state = afw_current_module_state();
  state->classes = &host_classes[0];
  state->factories = &host_factory;
  check(listed(NULL) == 0, "no extension library is listed before the load");
  if (refused) {
    afw_fail_next_init();
  }
  if (no_list_object) {
    afw_fail_next_allocation();
  }

  /* Load. */
  resizer_fn resize = NULL;
  void* instance = NULL;
#ifdef _WIN32
  wchar_t* library_path = widen(argv[1]);
  HMODULE library = LoadLibraryW(library_path);
  free(library_path);
  if (library != NULL) {
    instance = (void*)library;
    resize = (resizer_fn)(void (*)(void))GetProcAddress(library, "BMPResizer");
  }
  if (refused) {
    check(library == NULL, "a refused initialisation fails LoadLibraryW");
  } else {
    check(library != NULL, "LoadLibraryW succeeds");
  }
#else
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library != NULL) {
    *(void**)&resize = dlsym(library, "BMPResizer");
    Dl_info info;
    if (resize != NULL && dladdr(*(void**)&resize, &info) != 0) {
      instance = info.dli_fbase;
    }
  }
  check(library != NULL, "dlopen succeeds");
#endif
  check(host_registrations_intact(), "the host's registrations are unchanged by the load");

  const AfwExtensionModule* record = NULL;
  const size_t count = listed(&record);
  if (refused || no_list_object) {
    check(count == 0, "nothing is listed while loaded");
  } else {
    check(count == 1, "exactly one extension library is listed while loaded");
    check(record != NULL && record->initialized && record->instance == instance,
          "it is bound to a record holding the library's instance handle");
    check(record != NULL && record->classes == NULL && record->factories == NULL,
          "the library registered no classes or factories of its own");
  }

  if (library != NULL) {
    check(run_a_thread(), "a thread starts and ends while loaded");
    check(listed(NULL) == count && host_registrations_intact(),
          "thread attach and detach change nothing");
    check(resize != NULL, "BMPResizer is exported");
    if (resize != NULL) {
      wchar_t* input = widen(argv[2]);
      wchar_t* output = widen(argv[3]);
      check(resize(input, output, 3) == BMPRESIZER_SUCCESS, "BMPResizer enlarges the input");
      check(enlarged_size(argv[2], 3) > 54 && file_size(argv[3]) == enlarged_size(argv[2], 3),
            "the output is as long as the format says a 3 times enlargement is");
      free(input);
      free(output);
    }
    /* Unload. */
#ifdef _WIN32
    check(FreeLibrary(library) != 0, "FreeLibrary succeeds");
#else
    check(dlclose(library) == 0, "dlclose succeeds");
#endif
  }
  check(listed(NULL) == 0, "nothing is listed after the unload");
  check(host_registrations_intact(), "the host's registrations are unchanged by the unload");

  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
