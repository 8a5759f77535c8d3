// The public BMP Suite: the one plain 24-bit image enlarges exactly, every
// other file is refused with 5 and leaves an empty output.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "bmp_testing.h"
#include "bmpresizer.h"

namespace {

std::vector<std::string> suite_files() {
  std::vector<std::string> files;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(bmptest::data_dir() + "/bmpsuite")) {
    if (entry.path().extension() == ".bmp") {
      files.push_back(entry.path().generic_string());  // "/" on Windows too
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(BmpSuite, OnlyThePlain24BitImageIsAccepted) {
  const std::vector<std::string> files = suite_files();
  ASSERT_EQ(files.size(), 88u) << "the copied suite is incomplete";
  bmptest::TempDir dir;
  const std::string out = dir.file("out.bmp");
  int accepted = 0;
  for (const std::string& file : files) {
    const bool plain = file.size() >= 11 && file.compare(file.size() - 11, 11, "g/rgb24.bmp") == 0;
    const int code = BMPResizer(bmptest::widen(file).c_str(), bmptest::widen(out).c_str(), 2);
    if (plain) {
      ++accepted;
      EXPECT_EQ(code, BMPRESIZER_SUCCESS) << file;
      EXPECT_EQ(bmptest::check_enlargement(bmptest::read_file(file), bmptest::read_file(out), 2),
                "");
    } else {
      EXPECT_EQ(code, BMPRESIZER_UNSUPPORTED_INPUT) << file;
      EXPECT_EQ(bmptest::read_file(out).size(), 0u) << file;
    }
  }
  EXPECT_EQ(accepted, 1);
}

}  // namespace
