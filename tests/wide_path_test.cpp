// Wide paths to UTF-8 byte paths.
#include "wide_path.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <ostream>
#include <string>

namespace {

using bmpresizer::PathConversion;

struct Conversion {
  const char* name;
  std::wstring wide;
  PathConversion want_status;
  std::string want_bytes;
};

void PrintTo(const Conversion& c, std::ostream* os) { *os << c.name; }

class ToBytePathTest : public ::testing::TestWithParam<Conversion> {};

TEST_P(ToBytePathTest, ConvertsToUtf8) {
  const Conversion& c = GetParam();
  char buffer[bmpresizer::kPathBufferBytes];
  EXPECT_EQ(bmpresizer::to_byte_path(c.wide.c_str(), buffer), c.want_status) << c.name;
  EXPECT_EQ(std::string(buffer), c.want_bytes) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Characters, ToBytePathTest,
    ::testing::Values(
        Conversion{"ascii", L"/tmp/a b.bmp", PathConversion::converted, "/tmp/a b.bmp"},
        Conversion{"empty", L"", PathConversion::converted, ""},
        Conversion{"two bytes", L"\x00E9\x07FF", PathConversion::converted, "\xC3\xA9\xDF\xBF"},
        Conversion{"three bytes", L"\x0800\x65E5\xFFFD", PathConversion::converted,
                   "\xE0\xA0\x80\xE6\x97\xA5\xEF\xBF\xBD"},
        Conversion{"one byte, the last", L"\x007F", PathConversion::converted, "\x7F"},
        Conversion{"two bytes, the first", L"\x0080", PathConversion::converted, "\xC2\x80"},
        Conversion{"three bytes, the last", L"\xFFFF", PathConversion::converted, "\xEF\xBF\xBF"},
        Conversion{"four bytes", L"\U0001F600\U0010FFFF", PathConversion::converted,
                   "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        // Every plane's lead byte: the first supplementary character, a CJK
        // ideograph of plane 2 and the last of plane 3.
        Conversion{"planes 1 to 3", L"\U00010000\U00020BB7\U0003FFFD", PathConversion::converted,
                   "\xF0\x90\x80\x80\xF0\xA0\xAE\xB7\xF0\xBF\xBF\xBD"},
        Conversion{"lone high surrogate", std::wstring(L"a") + wchar_t(0xD83D) + L"b",
                   PathConversion::not_unicode, ""},
        Conversion{"lone low surrogate", std::wstring(1, wchar_t(0xDFFF)),
                   PathConversion::not_unicode, ""},
        // The ends of the two ranges.
        Conversion{"the last high surrogate alone", std::wstring(1, wchar_t(0xDBFF)),
                   PathConversion::not_unicode, ""},
        Conversion{"the first low surrogate alone", std::wstring(1, wchar_t(0xDC00)),
                   PathConversion::not_unicode, ""}));

#if WCHAR_MAX > 0xFFFF
// Only a 32-bit wchar_t can hold a value beyond Unicode.
INSTANTIATE_TEST_SUITE_P(WideUnits, ToBytePathTest,
                         ::testing::Values(Conversion{"above U+10FFFF",
                                                      std::wstring(1, wchar_t(0x110000)),
                                                      PathConversion::not_unicode, ""}));
#endif

TEST(ToBytePath, NullIsAnEmptyPath) {
  char buffer[bmpresizer::kPathBufferBytes];
  buffer[0] = 'x';
  EXPECT_EQ(bmpresizer::to_byte_path(nullptr, buffer), PathConversion::null_path);
  EXPECT_STREQ(buffer, "");
}

TEST(ToBytePath, LongestPathThatFitsAndOneMore) {
  char buffer[bmpresizer::kPathBufferBytes];
  const std::wstring fits(bmpresizer::kPathBufferBytes - 1, L'x');
  EXPECT_EQ(bmpresizer::to_byte_path(fits.c_str(), buffer), PathConversion::converted);
  EXPECT_EQ(std::string(buffer).size(), bmpresizer::kPathBufferBytes - 1);

  const std::wstring over(bmpresizer::kPathBufferBytes, L'x');
  EXPECT_EQ(bmpresizer::to_byte_path(over.c_str(), buffer), PathConversion::too_long);
  EXPECT_EQ(std::string(buffer), std::string(bmpresizer::kPathBufferBytes - 1, 'x'));
}

TEST(ToBytePath, ShortensTooLongPathsAtACharacterBoundary) {
  char buffer[bmpresizer::kPathBufferBytes];
  // Three-byte characters do not divide the buffer evenly.
  const std::wstring over(bmpresizer::kPathBufferBytes, wchar_t(0x65E5));
  EXPECT_EQ(bmpresizer::to_byte_path(over.c_str(), buffer), PathConversion::too_long);
  const std::string shortened(buffer);
  EXPECT_EQ(shortened.size() % 3, 0u);
  EXPECT_GT(shortened.size(), bmpresizer::kPathBufferBytes - 4);
}

}  // namespace
