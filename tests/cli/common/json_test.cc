#include "cli/common/json.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace pel_mora::cli {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::HasSubstr;

struct ParseCase {
  const char* name;
  std::string text;
  EncodableValue expected;
};

// The printer's own test name for each case, so a failure says which row broke.
std::string PrintCaseName(const ::testing::TestParamInfo<ParseCase>& info) {
  return info.param.name;
}

class JsonParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(JsonParseTest, ParsesToTheExpectedValueAndType) {
  const JsonParseResult result = ParseJson(GetParam().text);
  ASSERT_TRUE(result.ok()) << result.error;
  // The variant's index is compared too: an int64 where an int32 belongs is a different value
  // on the wire.
  EXPECT_EQ(result.value.index(), GetParam().expected.index());
  EXPECT_EQ(result.value, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, JsonParseTest,
    ::testing::Values(
        ParseCase{"Null", "null", EncodableValue()},
        ParseCase{"True", " true ", EncodableValue(true)},
        ParseCase{"False", "\tfalse\n", EncodableValue(false)},
        ParseCase{"Zero", "0", EncodableValue(int32_t{0})},
        ParseCase{"NegativeZeroIsAnInteger", "-0", EncodableValue(int32_t{0})},
        ParseCase{"Int32Max", "2147483647", EncodableValue(int32_t{2147483647})},
        ParseCase{"Int32MaxPlusOneIsInt64", "2147483648", EncodableValue(int64_t{2147483648})},
        ParseCase{"Int32Min", "-2147483648", EncodableValue(std::numeric_limits<int32_t>::min())},
        ParseCase{"Int32MinMinusOneIsInt64", "-2147483649", EncodableValue(int64_t{-2147483649})},
        ParseCase{"Int64Max", "9223372036854775807", EncodableValue(std::numeric_limits<int64_t>::max())},
        ParseCase{"Int64Min", "-9223372036854775808", EncodableValue(std::numeric_limits<int64_t>::min())},
        ParseCase{"Fraction", "1.5", EncodableValue(1.5)},
        ParseCase{"IntegralFractionIsDouble", "2.0", EncodableValue(2.0)},
        ParseCase{"Exponent", "-2.5e-3", EncodableValue(-0.0025)},
        ParseCase{"ExponentWithoutFractionIsDouble", "1E3", EncodableValue(1000.0)},
        ParseCase{"Underflow", "1e-400", EncodableValue(0.0)},
        ParseCase{"UnderflowInTheFraction", "-0.00001e-320", EncodableValue(-0.0)},
        ParseCase{"LargeButInRange", "123.5e306", EncodableValue(1.235e308)},
        ParseCase{"SimpleEscapes", R"("a\"b\\c\/d\b\f\n\r\t")", EncodableValue(std::string("a\"b\\c/d\b\f\n\r\t"))},
        ParseCase{"UnicodeEscape", R"("\u00e9\u20AC")", EncodableValue(std::string("\xC3\xA9\xE2\x82\xAC"))},
        ParseCase{"SurrogatePair", R"("\ud83d\ude00")", EncodableValue(std::string("\xF0\x9F\x98\x80"))},
        ParseCase{"EscapedNul", R"("a\u0000b")", EncodableValue(std::string("a\0b", 3))},
        ParseCase{"RawUtf8", "\"Gr\xC3\xBC\xC3\x9F\xF0\x9F\x98\x80\"", EncodableValue(std::string("Gr\xC3\xBC\xC3\x9F\xF0\x9F\x98\x80"))},
        ParseCase{"EmptyArray", "[ ]", EncodableValue(EncodableList{})},
        ParseCase{"EmptyObject", "{ }", EncodableValue(EncodableMap{})},
        ParseCase{"Nested", R"({"driveLetter": "C", "paths": ["a", 1, null], "deep": {"x": [true]}})",
                  EncodableValue(EncodableMap{
                      {EncodableValue("driveLetter"), EncodableValue("C")},
                      {EncodableValue("paths"), EncodableValue(EncodableList{EncodableValue("a"), EncodableValue(int32_t{1}),
                                                                            EncodableValue()})},
                      {EncodableValue("deep"),
                       EncodableValue(EncodableMap{{EncodableValue("x"), EncodableValue(EncodableList{EncodableValue(true)})}})},
                  })}),
    PrintCaseName);

struct InvalidCase {
  const char* name;
  std::string text;
  const char* message;  // a part of the error line
};

std::string PrintInvalidName(const ::testing::TestParamInfo<InvalidCase>& info) {
  return info.param.name;
}

class JsonInvalidTest : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(JsonInvalidTest, IsRefusedWithAClearMessage) {
  const JsonParseResult result = ParseJson(GetParam().text);
  EXPECT_FALSE(result.ok());
  EXPECT_THAT(result.error, HasSubstr(GetParam().message));
  EXPECT_TRUE(result.value.IsNull());
}

INSTANTIATE_TEST_SUITE_P(
    Errors, JsonInvalidTest,
    ::testing::Values(
        InvalidCase{"Empty", "", "expected a value, found end of input at line 1, column 1"},
        InvalidCase{"OnlySpace", "   ", "expected a value, found end of input"},
        InvalidCase{"BareWord", "hello", "expected a value, found character 'h'"},
        InvalidCase{"TrailingText", "1 2", "unexpected character '2' after the value at line 1, column 3"},
        InvalidCase{"TrailingComma", "[1,]", "expected a value, found character ']'"},
        InvalidCase{"MissingColon", "{\"a\" 1}", "expected ':' after an object key"},
        InvalidCase{"UnquotedKey", "{a: 1}", "expected a string key"},
        InvalidCase{"UnclosedArray", "[1, 2", "expected ']' or ',' in an array, found end of input"},
        InvalidCase{"UnterminatedString", "\"abc", "unterminated string at line 1, column 1"},
        InvalidCase{"LeadingZero", "012", "number with a leading zero"},
        InvalidCase{"LonePoint", "1.", "expected a digit after the decimal point"},
        InvalidCase{"BareMinus", "-", "expected a digit, found end of input"},
        InvalidCase{"PlusSign", "+1", "expected a value, found character '+'"},
        InvalidCase{"EmptyExponent", "1e", "expected a digit in the exponent"},
        InvalidCase{"IntegerBeyond64Bits", "9223372036854775808", "does not fit in 64 bits"},
        InvalidCase{"NegativeBeyond64Bits", "-9223372036854775809", "does not fit in 64 bits"},
        InvalidCase{"DoubleOverflow", "1e400", "number 1e400 is out of range"},
        InvalidCase{"DoubleOverflowWithSmallExponent", "-1234567890.5e300", "is out of range"},
        InvalidCase{"DoubleOverflowWithHugeExponent", "0.5e99999999999999999999", "is out of range"},
        InvalidCase{"InvalidEscape", R"("\x")", "invalid escape '\\x'"},
        InvalidCase{"ShortUnicodeEscape", R"("\u12")", "expected a hex digit in a \\u escape"},
        InvalidCase{"LoneHighSurrogate", R"("\ud83d")", "unpaired high surrogate"},
        InvalidCase{"HighSurrogateThenText", R"("\ud83dx")", "unpaired high surrogate"},
        InvalidCase{"HighSurrogateThenNonSurrogate", R"("\ud83d\u0041")", "unpaired high surrogate"},
        InvalidCase{"LoneLowSurrogate", R"("\ude00")", "unpaired low surrogate"},
        InvalidCase{"RawControlCharacter", "\"a\nb\"", "control character"},
        InvalidCase{"InvalidUtf8", "\"\xC3\x28\"", "invalid UTF-8"},
        InvalidCase{"OverlongUtf8", "\"\xC0\xAF\"", "invalid UTF-8"},
        InvalidCase{"EncodedSurrogateUtf8", "\"\xED\xA0\x80\"", "invalid UTF-8"},
        InvalidCase{"DuplicateKey", "{\"a\": 1, \"a\": 2}", "duplicate key \"a\" at line 1, column 10"},
        InvalidCase{"SecondLine", "[1,\n  x]", "at line 2, column 3"},
        // Inside containers the line names the token that starts where the comma belongs.
        InvalidCase{"MissingCommaInObject", R"({"a":1 "b":2})", "expected '}' or ',' in an object, found character '\"' at line 1, column 8"},
        InvalidCase{"MissingCommaInArray", "[true false]", "expected ']' or ',' in an array, found character 'f' at line 1, column 7"},
        InvalidCase{"LeadingZeroInArray", "[012]", "number with a leading zero at line 1, column 2"},
        InvalidCase{"OutOfRangeInArray", "[1, 1e400]", "number 1e400 is out of range at line 1, column 5"},
        InvalidCase{"BigIntegerInArray", "[99999999999999999999]", "integer 99999999999999999999 does not fit in 64 bits at line 1, column 2"},
        InvalidCase{"TooDeep", std::string(300, '[') + std::string(300, ']'), "nesting deeper than 256 levels"}),
    PrintInvalidName);

TEST(JsonFormatTest, CompactAndIndentedLayouts) {
  const EncodableValue value(EncodableMap{
      {EncodableValue("b"), EncodableValue(EncodableList{EncodableValue(int32_t{1}), EncodableValue()})},
      {EncodableValue("a"), EncodableValue(EncodableMap{})},
      {EncodableValue("c"), EncodableValue(EncodableList{})},
  });
  EXPECT_EQ(FormatJson(value, JsonLayout::kCompact), R"({"a":{},"b":[1,null],"c":[]})");
  EXPECT_EQ(FormatJson(value, JsonLayout::kIndented), "{\n  \"a\": {},\n  \"b\": [\n    1,\n    null\n  ],\n  \"c\": []\n}");
}

TEST(JsonFormatTest, ScalarsRenderSoTheyReadBackAsTheSameType) {
  struct Case {
    EncodableValue value;
    const char* text;
  };
  const Case cases[] = {
      {EncodableValue(int32_t{-7}), "-7"},
      {EncodableValue(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
      {EncodableValue(2.0), "2.0"},
      {EncodableValue(-0.0), "-0.0"},
      {EncodableValue(0.1), "0.1"},
      {EncodableValue(1e300), "1e+300"},
      {EncodableValue(std::nan("")), "\"NaN\""},
      {EncodableValue(-std::numeric_limits<double>::infinity()), "\"-Infinity\""},
      {EncodableValue(std::string("q\"\\\x01\x7f\n")), R"("q\"\\\u0001)" "\x7f" R"(\n")"},
      {EncodableValue(std::string("\xF0\x9F\x98\x80")), "\"\xF0\x9F\x98\x80\""},
      {EncodableValue(std::string("a\xFF" "b\xC3")), "\"a\xEF\xBF\xBD" "b\xEF\xBF\xBD\""},
      {EncodableValue(std::vector<uint8_t>{0, 255}), "[0,255]"},
      {EncodableValue(std::vector<int64_t>{-1, 5000000000}), "[-1,5000000000]"},
      {EncodableValue(std::vector<float>{0.5f}), "[0.5]"},
  };
  for (const Case& test_case : cases) {
    const std::string text = FormatJson(test_case.value, JsonLayout::kCompact);
    EXPECT_EQ(text, test_case.text);
    if (test_case.value.index() <= 5 && text.front() != '"') {
      const JsonParseResult back = ParseJson(text);
      ASSERT_TRUE(back.ok()) << back.error;
      EXPECT_EQ(back.value.index(), test_case.value.index()) << text;
    }
  }
}

TEST(JsonFormatTest, MapWithNonStringKeysBecomesPairsThatKeepEveryEntry) {
  // 1 and "1" would collide as object keys; pairs keep both, each with its own type.
  const EncodableValue value(EncodableMap{
      {EncodableValue(int32_t{1}), EncodableValue("int")},
      {EncodableValue("1"), EncodableValue("string")},
  });
  EXPECT_EQ(FormatJson(value, JsonLayout::kCompact), R"([[1,"int"],["1","string"]])");
}

TEST(JsonFormatTest, ParsedTextRoundTrips) {
  const std::string text = R"({"a":[1,2147483648,-2.5,"\u00e9\n",true,false,null],"b":{"c":{}}})";
  const JsonParseResult parsed = ParseJson(text);
  ASSERT_TRUE(parsed.ok()) << parsed.error;
  EXPECT_EQ(FormatJson(parsed.value, JsonLayout::kCompact), R"({"a":[1,2147483648,-2.5,")" "\xC3\xA9" R"(\n",true,false,null],"b":{"c":{}}})");
}

}  // namespace
}  // namespace pel_mora::cli
