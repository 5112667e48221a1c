#include <gtest/gtest.h>

#include <string>

#include "runner/entrypoint_arguments.h"

namespace {

struct ArgumentCase {
  const char* name;
  std::wstring argument;
  std::string expected;
};

class ArgumentToUtf8Test : public testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentToUtf8Test, ConvertsOrGivesAnEmptyStringInPlace) {
  EXPECT_EQ(ArgumentToUtf8(GetParam().argument.c_str()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ArgumentToUtf8Test,
    testing::Values(ArgumentCase{"ascii", L"--verbose", "--verbose"},
                    ArgumentCase{"blank", L"two words", "two words"},
                    ArgumentCase{"non_ascii", L"\u00dcn\u00efc\u00f8d\u00e9 \u6587\u4ef6",
                                 "\xc3\x9cn\xc3\xaf" "c\xc3\xb8" "d\xc3\xa9 \xe6\x96\x87\xe4\xbb\xb6"},
                    ArgumentCase{"surrogate_pair", L"\xd83d\xde00", "\xf0\x9f\x98\x80"},
                    ArgumentCase{"unpaired_high_surrogate", L"a\xd800" L"b", ""},
                    ArgumentCase{"unpaired_low_surrogate", L"\xdc00", ""},
                    ArgumentCase{"empty", L"", ""}),
    [](const testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.name); });

TEST(ArgumentToUtf8, NullBecomesEmpty) {
  EXPECT_EQ(ArgumentToUtf8(nullptr), "");
}

TEST(ArgumentToUtf8, CutsAnOverlongArgumentToTheCommandLineLimit) {
  const std::wstring overlong(40000, L'x');
  EXPECT_EQ(ArgumentToUtf8(overlong.c_str()).size(), 32767u);
}

}  // namespace
