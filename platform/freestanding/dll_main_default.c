/* DllMain for a DLL that has none of its own: every call succeeds. Alone in
 * its file, so that the linker takes it only where nothing else defines
 * DllMain. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
