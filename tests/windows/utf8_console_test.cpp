// The console message of a host whose active code page is UTF-8 (its
// manifest says so): a long path of characters that take three bytes each
// is printed whole.
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "bmp_testing.h"
#include "bmpresizer.h"

namespace {

TEST(Utf8CodePage, TheMessageShowsTheWholePath) {
  ASSERT_EQ(GetACP(), 65001u) << "the manifest asks for UTF-8";
  bmptest::TempDir dir;
  // 300 characters of U+65E5, in three folders that do not exist.
  const std::wstring hundred(100, L'\x65E5');
  std::string hundred_utf8;
  for (int i = 0; i < 100; ++i) {
    hundred_utf8 += "\xE6\x97\xA5";
  }
  const std::wstring missing =
      bmptest::widen(dir.path()) + L"/" + hundred + L"/" + hundred + L"/" + hundred + L".bmp";
  bmptest::StdoutCapture capture;
  EXPECT_EQ(BMPResizer(missing.c_str(), bmptest::widen(dir.file("out.bmp")).c_str(), 2),
            BMPRESIZER_CANNOT_OPEN_INPUT);
  EXPECT_EQ(capture.finish(), "Could not open " + dir.path() + "/" + hundred_utf8 + "/" +
                                  hundred_utf8 + "/" + hundred_utf8 + ".bmp.\n");
}

}  // namespace
