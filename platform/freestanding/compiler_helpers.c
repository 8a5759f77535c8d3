/* Functions that clang's code for Windows on ARM calls by itself, which a C
 * runtime (or the compiler's own helper library) would provide.
 *
 * __chkstk: a function whose frame is larger than a page calls it before
 * moving the stack pointer down, so that each page of the new frame is
 * touched in order from the top; Windows commits a thread's stack a page at
 * a time, as its guard page below the stack is touched, and a touch further
 * down would fault. The size comes in a register (x15: bytes / 16 on ARM64;
 * r4: bytes / 4 on ARMv7, which gets the bytes back), and no other register
 * but the scratch ones (x16, x17; r12) and the flags may change.
 *
 * ARMv7 only: division (Windows on ARMv7 does not require the divide
 * instructions), called with the divisor first; __rt_udiv and __rt_sdiv give
 * the quotient in r0 and the remainder in r1, __rt_udiv64 and __rt_sdiv64
 * the quotient in r0:r1 and the remainder in r2:r3. The caller has already
 * checked the divisor for zero. And __u64tod, an unsigned 64-bit number to a
 * double. */
#include <stdint.h>

#if defined(__aarch64__)

__attribute__((naked)) void __chkstk(void) {
  __asm__(
      "lsl x16, x15, #4\n\t" /* the bytes still to cover */
      "mov x17, sp\n"
      "1:\n\t"
      "cmp x16, #4096\n\t"
      "b.lo 2f\n\t"
      "sub x17, x17, #4096\n\t"
      "ldr xzr, [x17]\n\t"
      "sub x16, x16, #4096\n\t"
      "b 1b\n"
      "2:\n\t"
      "ret\n\t");
}

#elif defined(__x86_64__)

/* Only for the x86-64 build that lets Wine run the stand-ins: its
 * ___chkstk_ms (the size in rax; every register kept), and __main, which
 * clang calls first thing in a program's main to run its static
 * constructors, of which the C example hosts have none. */
__attribute__((naked)) void ___chkstk_ms(void) {
  __asm__(
      "pushq %rcx\n\t"
      "pushq %rax\n\t"
      "leaq 24(%rsp), %rcx\n" /* the caller's stack pointer */
      "1:\n\t"
      "cmpq $0x1000, %rax\n\t"
      "jb 2f\n\t"
      "subq $0x1000, %rcx\n\t"
      "orq $0, (%rcx)\n\t"
      "subq $0x1000, %rax\n\t"
      "jmp 1b\n"
      "2:\n\t"
      "subq %rax, %rcx\n\t"
      "orq $0, (%rcx)\n\t"
      "popq %rax\n\t"
      "popq %rcx\n\t"
      "ret\n\t");
}

void __main(void);
void __main(void) {}

#elif defined(__arm__)

__attribute__((naked)) void __chkstk(void) {
  __asm__(
      "push {r5, r6}\n\t"
      "lsl.w r4, r4, #2\n\t" /* the bytes, returned */
      "add.w r5, sp, #8\n\t" /* the caller's stack pointer */
      "sub.w r12, r5, r4\n"  /* where the frame will end */
      "1:\n\t"
      "sub.w r5, r5, #4096\n\t"
      "cmp r5, r12\n\t"
      "blo 2f\n\t"
      "ldr r6, [r5]\n\t"
      "b 1b\n"
      "2:\n\t"
      "pop {r5, r6}\n\t"
      "bx lr\n\t");
}

/* Shift and subtract: the compiler's division would call these. */
static uint32_t divide_u32(uint32_t dividend, uint32_t divisor, uint32_t* remainder) {
  uint32_t quotient = 0;
  if (divisor <= dividend) {
    const int shift = __builtin_clz(divisor) - __builtin_clz(dividend);
    uint32_t step = divisor << shift;
    for (int i = 0; i <= shift; ++i, step >>= 1) {
      quotient <<= 1;
      if (dividend >= step) {
        dividend -= step;
        quotient |= 1;
      }
    }
  }
  *remainder = dividend;
  return quotient;
}

static uint64_t divide_u64(uint64_t dividend, uint64_t divisor, uint64_t* remainder) {
  if ((dividend >> 32) == 0) {
    uint32_t rest;
    const uint32_t quotient =
        divisor >> 32 != 0 ? 0 : divide_u32((uint32_t)dividend, (uint32_t)divisor, &rest);
    *remainder = divisor >> 32 != 0 ? dividend : rest;
    return quotient;
  }
  uint64_t quotient = 0;
  if (divisor <= dividend) {
    const int shift = __builtin_clzll(divisor) - __builtin_clzll(dividend);
    uint64_t step = divisor << shift;
    for (int i = 0; i <= shift; ++i, step >>= 1) {
      quotient <<= 1;
      if (dividend >= step) {
        dividend -= step;
        quotient |= 1;
      }
    }
  }
  *remainder = dividend;
  return quotient;
}

static uint32_t magnitude32(int32_t n) { return n < 0 ? 0u - (uint32_t)n : (uint32_t)n; }
static uint64_t magnitude64(int64_t n) { return n < 0 ? 0u - (uint64_t)n : (uint64_t)n; }

/* Quotient in the low half (r0), remainder in the high half (r1). */
uint64_t __rt_udiv(uint32_t divisor, uint32_t dividend) {
  uint32_t remainder;
  const uint32_t quotient = divide_u32(dividend, divisor, &remainder);
  return (uint64_t)remainder << 32 | quotient;
}

/* The quotient truncated toward zero; the remainder has the dividend's sign. */
uint64_t __rt_sdiv(int32_t divisor, int32_t dividend) {
  uint32_t remainder;
  uint32_t quotient = divide_u32(magnitude32(dividend), magnitude32(divisor), &remainder);
  if ((dividend < 0) != (divisor < 0)) {
    quotient = 0u - quotient;
  }
  if (dividend < 0) {
    remainder = 0u - remainder;
  }
  return (uint64_t)remainder << 32 | quotient;
}

/* The 64-bit ones' work, the remainder stored through the third argument;
 * __rt_udiv64 and __rt_sdiv64 load it into r2:r3. */
uint64_t freestanding_udivmod64(uint64_t divisor, uint64_t dividend, uint64_t* remainder);
uint64_t freestanding_sdivmod64(int64_t divisor, int64_t dividend, uint64_t* remainder);

uint64_t freestanding_udivmod64(uint64_t divisor, uint64_t dividend, uint64_t* remainder) {
  return divide_u64(dividend, divisor, remainder);
}

uint64_t freestanding_sdivmod64(int64_t divisor, int64_t dividend, uint64_t* remainder) {
  uint64_t quotient = divide_u64(magnitude64(dividend), magnitude64(divisor), remainder);
  if ((dividend < 0) != (divisor < 0)) {
    quotient = 0u - quotient;
  }
  if (dividend < 0) {
    *remainder = 0u - *remainder;
  }
  return quotient;
}

/* The arguments stay where they came (r0-r3); the remainder's room is on the
 * stack, its address the third argument, and the stack stays 8-byte aligned
 * at the call. */
#define DIVIDE_64(name, worker)            \
  __attribute__((naked)) void name(void) { \
    __asm__(                               \
        "push {r11, lr}\n\t"               \
        "sub sp, sp, #16\n\t"              \
        "add.w r12, sp, #8\n\t"            \
        "str r12, [sp]\n\t"                \
        "bl " #worker                      \
        "\n\t"                             \
        "ldrd r2, r3, [sp, #8]\n\t"        \
        "add sp, sp, #16\n\t"              \
        "pop {r11, pc}\n\t");              \
  }

DIVIDE_64(__rt_udiv64, freestanding_udivmod64)
DIVIDE_64(__rt_sdiv64, freestanding_sdivmod64)

/* Each half converts exactly; their sum is rounded once. */
double __u64tod(uint64_t value) {
  return (double)(uint32_t)(value >> 32) * 4294967296.0 + (double)(uint32_t)value;
}

#endif
