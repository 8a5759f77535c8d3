// Many threads calling BMPResizer at once, on their own files and on one
// shared input: every result must be exact. Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "bmp_testing.h"
#include "bmpresizer.h"

namespace {

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
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < 5 && codes[static_cast<std::size_t>(i)] == 0; ++round) {
        const std::wstring in = bmptest::widen(dir.file("in" + std::to_string(i) + ".bmp"));
        const std::wstring out = bmptest::widen(dir.file("out" + std::to_string(i) + ".bmp"));
        const int code = BMPResizer(in.c_str(), out.c_str(), 1 + i % 4);
        if (code != BMPRESIZER_SUCCESS) {
          codes[static_cast<std::size_t>(i)] = code;
        }
      }
    });
    threads.emplace_back([&, i] {
      const std::wstring in = bmptest::widen(dir.file("shared.bmp"));
      const std::wstring out = bmptest::widen(dir.file("shared-out" + std::to_string(i) + ".bmp"));
      codes[static_cast<std::size_t>(kThreads + i)] = BMPResizer(in.c_str(), out.c_str(), 3);
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
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
