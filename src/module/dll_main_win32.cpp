// The module's attach and detach on Windows, where the loader calls the DLL's
// entry point.
//
// The entry point is ours (bmpresizer_add_dll_entry links the DLL with
// -e BmpResizerDllStartup, decorated as __stdcall on 32-bit x86), not the C
// runtime's DllMainCRTStartup: the framework's pre-initialisation hook must
// run before the runtime initialises anything (the runtime's own start-up,
// then the static constructors), and the runtime offers no earlier call. So
// on process attach: the hook, then the runtime's start-up, which initialises
// statically and calls DllMain; on process detach: the runtime's, which calls
// DllMain and then runs exit processing, then the hook.
//
// A 0 from DllMain on process attach makes LoadLibrary fail; the runtime
// then calls DllMain for the process detach itself.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "module_entry.h"

extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved);

extern "C" BOOL WINAPI BmpResizerDllStartup(HANDLE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH &&
      bmpresizer::module::pre_initialisation_hook(instance, reason, reserved) == 0) {
    return FALSE;
  }
  const BOOL result = DllMainCRTStartup(instance, reason, reserved);
  if (reason == DLL_PROCESS_DETACH) {
    bmpresizer::module::pre_initialisation_hook(instance, reason, reserved);
  }
  return result;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return bmpresizer::module::module_entry(instance, reason, reserved) != 0 ? TRUE : FALSE;
}
