#include <gtest/gtest.h>

#include <string>

#include "plugin/path_normalization.h"

namespace pel_mora {
namespace {

struct NormalizeCase {
  std::wstring input;
  std::wstring expected;
};

class NormalizePathTest : public ::testing::TestWithParam<NormalizeCase> {};

TEST_P(NormalizePathTest, TidiesSeparatorsOnly) {
  EXPECT_EQ(NormalizePath(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths,
    NormalizePathTest,
    ::testing::Values(
        NormalizeCase{L"", L""},
        NormalizeCase{L"C:/Users/me/file.txt", L"C:\\Users\\me\\file.txt"},
        NormalizeCase{L"C:\\Users\\\\me\\/\\file.txt", L"C:\\Users\\me\\file.txt"},
        // A leading pair is a UNC or device prefix and stays; a third leading separator goes.
        NormalizeCase{L"\\\\server\\share", L"\\\\server\\share"},
        NormalizeCase{L"//server/share//dir", L"\\\\server\\share\\dir"},
        NormalizeCase{L"\\\\\\server\\share", L"\\\\server\\share"},
        NormalizeCase{L"\\\\?\\C:\\long\\path", L"\\\\?\\C:\\long\\path"},
        // Trailing separators stay (one of a run).
        NormalizeCase{L"C:\\dir\\", L"C:\\dir\\"},
        NormalizeCase{L"C:\\dir\\\\\\", L"C:\\dir\\"},
        NormalizeCase{L"C:", L"C:"},
        NormalizeCase{L"/", L"\\"},
        // Case, dots and non-ASCII characters are left as they are.
        NormalizeCase{L"c:\\A\\..\\.\\b.TXT", L"c:\\A\\..\\.\\b.TXT"},
        NormalizeCase{L"D:/\u6587\u4EF6//\U0001F600", L"D:\\\u6587\u4EF6\\\U0001F600"}));

}  // namespace
}  // namespace pel_mora
