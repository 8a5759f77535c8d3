/* The thread-local storage directory, which the C runtime would provide:
 * the loader gives every thread a copy of the DLL's .tls section (from
 * _tls_start to _tls_end; the linker sorts the thread_local variables'
 * .tls$ sections between them) and puts the slot's number in _tls_index,
 * through which the compiled code finds that copy. No callbacks. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

ULONG _tls_index = 0;

__attribute__((section(".tls"))) char _tls_start = 0;
__attribute__((section(".tls$ZZZ"))) char _tls_end = 0;

/* The callbacks' list: empty, between two null entries. */
__attribute__((section(".CRT$XLA"))) PIMAGE_TLS_CALLBACK __xl_a = 0;
__attribute__((section(".CRT$XLZ"))) PIMAGE_TLS_CALLBACK __xl_z = 0;

/* The linker points the image's TLS directory at this symbol. */
const IMAGE_TLS_DIRECTORY _tls_used = {(ULONG_PTR)&_tls_start,
                                       (ULONG_PTR)&_tls_end,
                                       (ULONG_PTR)&_tls_index,
                                       (ULONG_PTR)(&__xl_a + 1),
                                       0,
                                       0};
