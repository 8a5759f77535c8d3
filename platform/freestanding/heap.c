/* malloc and free on the process's heap. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdlib.h>

void* malloc(size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

void free(void* block) {
  if (block != NULL) {
    HeapFree(GetProcessHeap(), 0, block);
  }
}
