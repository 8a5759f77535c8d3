/* What the C++ library's std::this_thread calls, in MinGW-w64's POSIX
 * thread model: sleep_for calls nanosleep (and reads errno when it fails,
 * which this one never does), yield calls sched_yield. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <errno.h>
#include <pthread_time.h>
#include <sched.h>

/* The sleep, rounded up to whole milliseconds: never shorter than asked. */
int nanosleep(const struct timespec* request, struct timespec* remain) {
  const long long milliseconds =
      (long long)request->tv_sec * 1000 + (request->tv_nsec + 999999) / 1000000;
  for (long long left = milliseconds; left > 0;) {
    const DWORD now = left < 0x7FFFFFFF ? (DWORD)left : 0x7FFFFFFF;
    Sleep(now);
    left -= now;
  }
  if (remain != NULL) {
    remain->tv_sec = 0;
    remain->tv_nsec = 0;
  }
  return 0;
}

int sched_yield(void) {
  SwitchToThread();
  return 0;
}

/* errno, which nothing here sets: one for the process. The headers import
 * _errno from the C runtime's DLL, through the pointer __imp__errno. */
static int error_number;
static int* errno_location(void) { return &error_number; }
int* (*__imp__errno)(void) = errno_location;
