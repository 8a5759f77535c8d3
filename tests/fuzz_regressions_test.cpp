// Inputs the fuzzer found troublesome, kept with their expected result in
// the file name (NAME.CODE). Each file is laid out as the fuzz target takes
// it: one byte choosing the factor (1 + byte % 8), then the BMP file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "bmp_testing.h"
#include "bmpresizer.h"

namespace {

TEST(FuzzRegressions, EachGivesItsRecordedResult) {
  bmptest::TempDir dir;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(BMPRESIZER_FUZZ_REGRESSIONS)) {
    const std::string name = entry.path().filename().string();
    const int want = std::stoi(entry.path().extension().string().substr(1));
    const bmptest::Bytes data = bmptest::read_file(entry.path().string());
    ASSERT_FALSE(data.empty()) << name;
    bmptest::write_file(dir.file("in.bmp"), bmptest::Bytes(data.begin() + 1, data.end()));
    const int factor = 1 + data[0] % 8;
    const int code = BMPResizer(bmptest::widen(dir.file("in.bmp")).c_str(),
                                bmptest::widen(dir.file("out.bmp")).c_str(), factor);
    EXPECT_EQ(code, want) << name;
    if (code == BMPRESIZER_SUCCESS) {
      EXPECT_EQ(bmptest::check_enlargement(bmptest::Bytes(data.begin() + 1, data.end()),
                                           bmptest::read_file(dir.file("out.bmp")), factor),
                "")
          << name;
    }
    ++files;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
