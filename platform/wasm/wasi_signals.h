/* wasi-libc's signal.h (its emulation, _WASI_EMULATED_SIGNAL) has no signal
 * sets, which the engine's headers hold in their guards against POSIX
 * signals. A browser raises none: the guards are stand-ins here
 * (engine_stand_ins.cpp) and the sets are never used. Included before
 * every source of the module. */
#ifndef BMPRESIZE_WASI_SIGNALS_H
#define BMPRESIZE_WASI_SIGNALS_H

#include <signal.h>

typedef struct {
  unsigned long bits[1];
} sigset_t;

#endif
