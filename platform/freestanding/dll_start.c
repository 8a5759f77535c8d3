/* The DLL's start-up as a C runtime's DllMainCRTStartup does it: on process
 * attach, the static constructors, then DllMain; if DllMain refuses, DllMain
 * for the detach and exit processing at once, so that the loader (which
 * then unloads the DLL without calling it again) leaves nothing behind. On
 * process detach, DllMain, then exit processing: the static destructors.
 * Thread attach and detach: DllMain alone.
 *
 * The linker makes __CTOR_LIST__ and __DTOR_LIST__ from the .ctors and
 * .dtors sections: a first entry of -1 (or the count), the functions, and
 * a null entry. Constructors run from the last to the first, as the
 * sections hold them in reverse; destructors from the first. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

typedef void (*Function)(void);
extern Function __CTOR_LIST__[];
extern Function __DTOR_LIST__[];

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

static size_t list_length(Function* list) {
  size_t count = (size_t)list[0];
  if (count == (size_t)-1) {
    for (count = 0; list[count + 1] != NULL; ++count) {
    }
  }
  return count;
}

static void construct(void) {
  for (size_t i = list_length(__CTOR_LIST__); i >= 1; --i) {
    __CTOR_LIST__[i]();
  }
}

static void destruct(void) {
  const size_t count = list_length(__DTOR_LIST__);
  for (size_t i = 1; i <= count; ++i) {
    __DTOR_LIST__[i]();
  }
}

BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    construct();
    if (!DllMain((HINSTANCE)instance, reason, reserved)) {
      DllMain((HINSTANCE)instance, DLL_PROCESS_DETACH, reserved);
      destruct();
      return FALSE;
    }
    return TRUE;
  }
  const BOOL result = DllMain((HINSTANCE)instance, reason, reserved);
  if (reason == DLL_PROCESS_DETACH) {
    destruct();
  }
  return result;
}
