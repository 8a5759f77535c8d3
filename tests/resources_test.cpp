// The memory contract, measured: no heap allocation during a call, a stack
// of 128 KiB is enough, and no descriptor outlives a call whatever its result.
// This binary replaces malloc and friends to count them, so it is not built
// with sanitizers, which replace them too.
#include <dirent.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <string>

#include "bmp_testing.h"
#include "bmpresizer.h"

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void note() {
  if (counting.load(std::memory_order_relaxed)) {
    allocations.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace

// Every allocation of the process goes through these while the test runs
// (operator new included, which calls malloc).
extern "C" {
void* malloc(std::size_t size) {
  note();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  note();
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) {
  note();
  return __libc_realloc(pointer, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  note();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  note();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
  note();
  *result = __libc_memalign(alignment, size);
  return *result == nullptr ? ENOMEM : 0;
}
void free(void* pointer) { __libc_free(pointer); }
}

namespace {

int open_descriptors() {
  int count = 0;
  DIR* folder = opendir("/proc/self/fd");
  while (folder != nullptr && readdir(folder) != nullptr) {
    ++count;
  }
  if (folder != nullptr) {
    closedir(folder);
  }
  return count;
}

int resize(const std::string& in, const std::string& out, int factor) {
  const std::wstring wide_in = bmptest::widen(in);
  const std::wstring wide_out = bmptest::widen(out);
  counting = true;
  const int code = BMPResizer(wide_in.c_str(), wide_out.c_str(), factor);
  counting = false;
  return code;
}

TEST(Memory, NoHeapAllocationDuringACall) {
  bmptest::TempDir dir;
  struct Case {
    const char* name;
    std::int32_t width, height;
    int factor;
  } cases[] = {
      {"1x1", 1, 1, 1},
      {"3000x600 at 3 (49 MB)", 3000, 600, 3},
      {"long rows", 8000, 3, 4},
      {"huge factor", 1, 1, 25000},
  };
  for (const Case& c : cases) {
    bmptest::write_file(dir.file("in.bmp"), bmptest::make_random_bmp(c.width, c.height, 3));
    allocations = 0;
    EXPECT_EQ(resize(dir.file("in.bmp"), dir.file("out.bmp"), c.factor), BMPRESIZER_SUCCESS)
        << c.name;
    EXPECT_EQ(allocations.load(), 0) << c.name;
  }
}

TEST(Memory, RunsOnA128KiBStack) {
  bmptest::TempDir dir;
  bmptest::write_file(dir.file("in.bmp"), bmptest::make_random_bmp(9000, 4, 8));
  struct Call {
    std::wstring in, out;
    int code = 0;
  } call{bmptest::widen(dir.file("in.bmp")), bmptest::widen(dir.file("out.bmp"))};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, 128 * 1024), 0);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attributes,
                [](void* argument) -> void* {
                  auto* c = static_cast<Call*>(argument);
                  c->code = BMPResizer(c->in.c_str(), c->out.c_str(), 2);
                  return nullptr;
                },
                &call),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_EQ(call.code, BMPRESIZER_SUCCESS);
}

// Thousands of calls through every result code leave no descriptor behind.
TEST(Descriptors, NoneLeakOverThousandsOfCalls) {
  bmptest::TempDir dir;
  bmptest::write_file(dir.file("in.bmp"), bmptest::make_random_bmp(4, 3, 2));
  bmptest::write_file(dir.file("bad.bmp"), bmptest::Bytes(60, 'B'));
  struct Case {
    std::string in, out;
    int factor, want;
  } cases[] = {
      {dir.file("missing.bmp"), dir.file("out.bmp"), 2, BMPRESIZER_CANNOT_OPEN_INPUT},
      {dir.file("in.bmp"), dir.file("no/out.bmp"), 2, BMPRESIZER_CANNOT_OPEN_OUTPUT},
      {dir.file("in.bmp"), dir.file("in.bmp"), 2, BMPRESIZER_CANNOT_OPEN_OUTPUT},
      {dir.file("bad.bmp"), dir.file("out.bmp"), 2, BMPRESIZER_UNSUPPORTED_INPUT},
      {dir.file("in.bmp"), dir.file("out.bmp"), 0, BMPRESIZER_OUTPUT_TOO_LARGE},
      {dir.file("in.bmp"), "/dev/full", 2, BMPRESIZER_IO_ERROR},
      {dir.file("in.bmp"), dir.file("out.bmp"), 3, BMPRESIZER_SUCCESS},
  };
  const int before = open_descriptors();
  // Code 3 prints its line; keep the test's output readable.
  bmptest::StdoutCapture quiet;
  for (int round = 0; round < 500; ++round) {
    for (const Case& c : cases) {
      ASSERT_EQ(resize(c.in, c.out, c.factor), c.want) << c.in << " -> " << c.out;
    }
  }
  quiet.finish();
  EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
