#include <gtest/gtest.h>

#include <string>

#include "plugin/string_conversion.h"

namespace pel_mora {
namespace {

// "Ünïcødé 文件 😀": two-, three- and four-byte sequences; the last is a surrogate pair in UTF-16.
constexpr char kUtf8Text[] = "\xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9 \xE6\x96\x87\xE4\xBB\xB6 \xF0\x9F\x98\x80";
const std::wstring kWideText = L"\u00DCn\u00EFc\u00F8d\u00E9 \u6587\u4EF6 \xD83D\xDE00";

TEST(StringConversionTest, NonAsciiTextRoundTrips) {
  EXPECT_EQ(Utf8ToWide(kUtf8Text), kWideText);
  EXPECT_EQ(WideToUtf8(kWideText), kUtf8Text);
  EXPECT_EQ(WideToUtf8(Utf8ToWide(kUtf8Text)), kUtf8Text);
}

TEST(StringConversionTest, EmptyInputGivesEmptyOutput) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
}

// The length is given to the system, so an embedded NUL is converted rather than ending the text.
TEST(StringConversionTest, EmbeddedNulIsKept) {
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
  EXPECT_EQ(WideToUtf8(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));
}

// Without MB_ERR_INVALID_CHARS the system (Windows and Wine alike) replaces each invalid
// sequence with U+FFFD instead of failing, so nothing is lost silently as an empty string.
TEST(StringConversionTest, InvalidUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), L"a\uFFFDb");
  // A sequence cut short at the end.
  EXPECT_EQ(Utf8ToWide("ab\xE6\x96"), L"ab\uFFFD");
}

TEST(StringConversionTest, UnpairedSurrogateBecomesReplacementCharacter) {
  EXPECT_EQ(WideToUtf8(std::wstring(L"a") + L'\xD800' + L"b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(WideToUtf8(std::wstring(1, L'\xDE00')), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace pel_mora
