// Many threads calling BMPResizer at once, on their own files and on one
// shared input, each on a thread with a small stack: every result must be
// exact. Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bmp_testing.h"
#include "bmpresizer.h"

namespace {

// The default thread stack of small Windows devices, where the library's
// module design comes from; small stacks are common in embedded and server
// hosts too.
constexpr std::size_t kSmallStack = 64 * 1024;
// What a call may take of it (sanitizers add room of their own).
constexpr std::size_t kMostStackACallUses = 16 * 1024;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif
constexpr unsigned char kPaint = 0xA5;
#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// Valgrind takes a finished thread's stack for memory nobody may read (and
// puts its own preload library in front of the program's).
bool under_valgrind() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "vgpreload") != nullptr;
}

// The stack a test thread gets: kSmallStack, or the least the system's
// threads take where that is more (128 KiB on 64-bit ARM), 1 MiB under
// sanitizers.
std::size_t stack_bytes() {
  if (kSanitized) {
    return 16 * kSmallStack;
  }
#ifdef PTHREAD_STACK_MIN
  return std::max(kSmallStack, static_cast<std::size_t>(PTHREAD_STACK_MIN));
#else
  return kSmallStack;
#endif
}

// A thread on a stack of stack_bytes(), painted before it starts, so that
// afterwards the deepest byte the body wrote shows how much of the stack it
// used.
class SmallStackThread {
 public:
  explicit SmallStackThread(std::function<void()> body)
      : body_(std::move(body)), stack_(stack_bytes(), kPaint) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
#ifdef _WIN32
    // Windows makes every thread's stack itself: only its size is ours.
    EXPECT_EQ(pthread_attr_setstacksize(&attributes, stack_.size()), 0);
#else
    EXPECT_EQ(pthread_attr_setstack(&attributes, stack_.data(), stack_.size()), 0);
#endif
    started_ = pthread_create(&thread_, &attributes, &SmallStackThread::run, this) == 0;
    pthread_attr_destroy(&attributes);
    EXPECT_TRUE(started_);
  }
  SmallStackThread(SmallStackThread&&) = delete;
  ~SmallStackThread() { join(); }

  void join() {
    if (started_) {
      pthread_join(thread_, nullptr);
      started_ = false;
    }
  }
  // The bytes the body used below the frame that called it (the stack
  // grows down on every platform the library is built for).
  std::size_t body_stack_bytes() const {
    std::size_t untouched = 0;
    while (untouched < stack_.size() && stack_[untouched] == kPaint) {
      ++untouched;
    }
    const auto deepest = reinterpret_cast<std::uintptr_t>(stack_.data()) + untouched;
    return caller_frame_ > deepest ? caller_frame_ - deepest : 0;
  }

 private:
  static void* run(void* self) {
    auto* thread = static_cast<SmallStackThread*>(self);
    volatile unsigned char here = 0;
    thread->caller_frame_ = reinterpret_cast<std::uintptr_t>(&here);
    thread->body_();
    return nullptr;
  }

  std::function<void()> body_;
  std::vector<unsigned char> stack_;
  pthread_t thread_{};
  bool started_ = false;
  std::uintptr_t caller_frame_ = 0;
};

TEST(Concurrency, ThreadsShareNothingButTheirFiles) {
  bmptest::TempDir dir;
  constexpr int kThreads = 12;
  std::vector<bmptest::Bytes> inputs;
  for (int i = 0; i < kThreads; ++i) {
    inputs.push_back(bmptest::make_random_bmp(37 + 11 * i, (i % 2 == 0 ? 1 : -1) * (20 + i),
                                              static_cast<std::uint32_t>(i)));
    bmptest::write_file(dir.file("in" + std::to_string(i) + ".bmp"), inputs.back());
  }
  const bmptest::Bytes shared = bmptest::make_random_bmp(301, 17, 77);
  bmptest::write_file(dir.file("shared.bmp"), shared);

  std::vector<int> codes(2 * kThreads, 0);
  std::vector<std::unique_ptr<SmallStackThread>> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.push_back(std::make_unique<SmallStackThread>([&, i] {
      for (int round = 0; round < 5 && codes[static_cast<std::size_t>(i)] == 0; ++round) {
        const std::wstring in = bmptest::widen(dir.file("in" + std::to_string(i) + ".bmp"));
        const std::wstring out = bmptest::widen(dir.file("out" + std::to_string(i) + ".bmp"));
        const int code = BMPResizer(in.c_str(), out.c_str(), 1 + i % 4);
        if (code != BMPRESIZER_SUCCESS) {
          codes[static_cast<std::size_t>(i)] = code;
        }
      }
    }));
    threads.push_back(std::make_unique<SmallStackThread>([&, i] {
      const std::wstring in = bmptest::widen(dir.file("shared.bmp"));
      const std::wstring out = bmptest::widen(dir.file("shared-out" + std::to_string(i) + ".bmp"));
      codes[static_cast<std::size_t>(kThreads + i)] = BMPResizer(in.c_str(), out.c_str(), 3);
    }));
  }
  for (const auto& thread : threads) {
    thread->join();
    if (!kSanitized && !kWindows && !under_valgrind()) {
      EXPECT_LE(thread->body_stack_bytes(), kMostStackACallUses);
    }
  }
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(codes[static_cast<std::size_t>(i)], 0) << "thread " << i;
    EXPECT_EQ(codes[static_cast<std::size_t>(kThreads + i)], BMPRESIZER_SUCCESS);
    EXPECT_EQ(bmptest::check_enlargement(
                  inputs[static_cast<std::size_t>(i)],
                  bmptest::read_file(dir.file("out" + std::to_string(i) + ".bmp")), 1 + i % 4),
              "");
    EXPECT_EQ(
        bmptest::check_enlargement(
            shared, bmptest::read_file(dir.file("shared-out" + std::to_string(i) + ".bmp")), 3),
        "");
  }
}

}  // namespace
