// What the C library found the processor to offer when the program started,
// where it can say (glibc 2.33 and later): CPU_FEATURE_ACTIVE(name) is then
// defined. Asking it instead of the processor saves a CPUID per question,
// each an exit to the host in a virtual machine.
#ifndef BMPRESIZER_CORE_LIBC_CPU_FEATURES_H
#define BMPRESIZER_CORE_LIBC_CPU_FEATURES_H

#if defined(__has_include)
#if __has_include(<sys/platform/x86.h>)
#ifdef __clang__
// The header is C: its inline functions return _Bool, which clang, unlike
// GCC, does not take in C++.
#define _Bool bool  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif
#endif
#endif

#endif  // BMPRESIZER_CORE_LIBC_CPU_FEATURES_H
