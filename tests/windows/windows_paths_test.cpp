// Paths as Windows spells them: the file identity behind different names,
// and the console message in the ANSI code page.
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "bmp_testing.h"
#include "bmpresizer.h"

namespace {

using bmptest::Bytes;

class WindowsPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    input_ = bmptest::make_random_bmp(4, 2, 9);
    bmptest::write_file(dir_.file("in.bmp"), input_);
  }
  bmptest::TempDir dir_;
  Bytes input_;
};

// Names that Windows resolves to the input file itself: refused with 4, and
// the input stays as it was.
TEST_F(WindowsPaths, OtherSpellingsOfTheInputAreTheInput) {
  const std::wstring dir = bmptest::widen(dir_.path());
  const std::wstring in = dir + L"/in.bmp";
  const std::wstring spellings[] = {
      dir + L"/IN.BMP",     // names are compared without case
      dir + L"\\in.bmp",    // either separator
      dir + L"/in.bmp.",    // a trailing dot is dropped
      dir + L"/.\\in.bmp",  // a "." component
  };
  for (const std::wstring& out : spellings) {
    bmptest::StdoutCapture capture;
    EXPECT_EQ(BMPResizer(in.c_str(), out.c_str(), 2), BMPRESIZER_CANNOT_OPEN_OUTPUT)
        << std::string(out.begin(), out.end());
    EXPECT_EQ(capture.finish(), "");
    EXPECT_EQ(bmptest::read_file(dir_.file("in.bmp")), input_);
  }
}

TEST_F(WindowsPaths, TheMessageShowsThePathInTheAnsiCodePage) {
  if (GetACP() != 1252) {
    GTEST_SKIP() << "expected bytes written for code page 1252, the system has " << GetACP();
  }
  // "café-вход.bmp": é is 0xE9 in code page 1252; Cyrillic has no place
  // there and shows as "?".
  const std::wstring missing =
      bmptest::widen(dir_.path()) + L"/caf\x00E9-\x0432\x0445\x043E\x0434.bmp";
  const std::wstring out = bmptest::widen(dir_.file("out.bmp"));
  bmptest::StdoutCapture capture;
  EXPECT_EQ(BMPResizer(missing.c_str(), out.c_str(), 2), BMPRESIZER_CANNOT_OPEN_INPUT);
  EXPECT_EQ(capture.finish(), "Could not open " + dir_.path() + "/caf\xE9-????.bmp.\n");
  EXPECT_FALSE(bmptest::file_exists(dir_.file("out.bmp")));
}

TEST_F(WindowsPaths, NamesOutsideTheAnsiCodePageOpen) {
  // Greek and CJK input and output names, in a folder with a Cyrillic name.
  const std::string folder = dir_.file("\xD0\xBF\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0");  // папка
  ASSERT_TRUE(CreateDirectoryW(
      (bmptest::widen(dir_.path()) + L"/\x043F\x0430\x043F\x043A\x0430").c_str(), nullptr));
  bmptest::write_file(folder + "/\xCE\xB5\xCE\xB9\xCF\x83.bmp", input_);  // εισ.bmp
  const std::wstring wide_folder = bmptest::widen(dir_.path()) + L"/\x043F\x0430\x043F\x043A\x0430";
  const std::wstring in = wide_folder + L"/\x03B5\x03B9\x03C3.bmp";
  const std::wstring out = wide_folder + L"/\x51FA\x529B.bmp";  // 出力.bmp
  ASSERT_EQ(BMPResizer(in.c_str(), out.c_str(), 2), BMPRESIZER_SUCCESS);
  EXPECT_EQ(bmptest::check_enlargement(
                input_, bmptest::read_file(folder + "/\xE5\x87\xBA\xE5\x8A\x9B.bmp"), 2),
            "");
  // The refusal of the same file holds for such names too.
  EXPECT_EQ(BMPResizer(in.c_str(), in.c_str(), 2), BMPRESIZER_CANNOT_OPEN_OUTPUT);
}

}  // namespace
