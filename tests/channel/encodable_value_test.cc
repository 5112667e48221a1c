// The value model: the ordering that decides map key order (and so the order in which map
// entries travel), typed access, and deep copies.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "channel/encodable_value.h"
#include "tests/channel/codec_test_support.h"

namespace {

using flutter::CustomEncodableValue;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using pelmora_test::Describe;

// One value per alternative, in index order. The content is chosen against the index (large
// numbers and long texts first) so that only the index can put them in this order.
std::vector<EncodableValue> OneValuePerAlternative() {
  return {
      EncodableValue(),
      EncodableValue(true),
      EncodableValue(std::numeric_limits<int32_t>::max()),
      EncodableValue(std::numeric_limits<int64_t>::min()),
      EncodableValue(std::numeric_limits<double>::infinity()),
      EncodableValue("\xFF\xFF"),
      EncodableValue(std::vector<uint8_t>{}),
      EncodableValue(std::vector<int32_t>{9}),
      EncodableValue(std::vector<int64_t>{}),
      EncodableValue(std::vector<double>{9.0}),
      EncodableValue(EncodableList{EncodableValue(9)}),
      EncodableValue(EncodableMap{}),
      EncodableValue(CustomEncodableValue(9)),
      EncodableValue(std::vector<float>{}),
  };
}

TEST(OrderingTest, DifferentAlternativesCompareByIndex) {
  const std::vector<EncodableValue> values = OneValuePerAlternative();
  for (size_t left = 0; left < values.size(); ++left) {
    ASSERT_EQ(values[left].index(), left);
    for (size_t right = 0; right < values.size(); ++right) {
      SCOPED_TRACE(Describe(values[left]) + " against " + Describe(values[right]));
      EXPECT_EQ(values[left] < values[right], left < right);
    }
  }
}

struct OrderedPair {
  std::string name;
  EncodableValue lesser;
  EncodableValue greater;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const OrderedPair& test_case, std::ostream* stream) {
  *stream << test_case.name;
}

std::vector<OrderedPair> OrderedPairs() {
  const auto map = [](std::initializer_list<std::pair<const EncodableValue, EncodableValue>> entries) {
    return EncodableValue(EncodableMap(entries));
  };
  const auto list = [](std::initializer_list<EncodableValue> elements) {
    return EncodableValue(EncodableList(elements));
  };
  return {
      {"NullBeforeFalse", EncodableValue(), EncodableValue(false)},
      {"FalseBeforeTrue", EncodableValue(false), EncodableValue(true)},
      {"Int32FiveBeforeInt64Five", EncodableValue(int32_t{5}), EncodableValue(int64_t{5})},
      {"Int32Numerically", EncodableValue(int32_t{-3}), EncodableValue(int32_t{2})},
      {"Int64Numerically", EncodableValue(int64_t{-1}), EncodableValue(int64_t{1} << 40)},
      {"DoubleNumerically", EncodableValue(-0.5), EncodableValue(0.25)},
      {"StringProperPrefixFirst", EncodableValue("ab"), EncodableValue("abc")},
      {"EmptyStringFirst", EncodableValue(""), EncodableValue("\x01")},
      {"StringBytesUnsigned", EncodableValue("z"), EncodableValue("\xC3\xA9")},
      {"StringFirstDifferingByteDecides", EncodableValue("abz"), EncodableValue("ac")},
      {"Uint8ListBytesUnsigned", EncodableValue(std::vector<uint8_t>{0x7F}), EncodableValue(std::vector<uint8_t>{0x80})},
      {"Uint8ListProperPrefixFirst", EncodableValue(std::vector<uint8_t>{1}), EncodableValue(std::vector<uint8_t>{1, 0})},
      {"Int32ListByElementValue", EncodableValue(std::vector<int32_t>{-1, 9}), EncodableValue(std::vector<int32_t>{0})},
      {"Int64ListProperPrefixFirst", EncodableValue(std::vector<int64_t>{4}), EncodableValue(std::vector<int64_t>{4, -9})},
      {"Float64ListByElementValue", EncodableValue(std::vector<double>{1.0, -2.0}),
       EncodableValue(std::vector<double>{1.0, -1.0})},
      {"Float32ListByElementValue", EncodableValue(std::vector<float>{-1.5f}), EncodableValue(std::vector<float>{-1.0f})},
      {"ListByElementsInTurn", list({EncodableValue(1), EncodableValue("b")}), list({EncodableValue(1), EncodableValue("c")})},
      {"ListProperPrefixFirst", list({EncodableValue(1)}), list({EncodableValue(1), EncodableValue()})},
      {"ListElementsCompareByIndexFirst", list({EncodableValue(true)}), list({EncodableValue(int32_t{0})})},
      {"MapKeyBeforeValue", map({{EncodableValue(1), EncodableValue("z")}}), map({{EncodableValue(2), EncodableValue("a")}})},
      {"MapValueWhenKeysEqual", map({{EncodableValue(1), EncodableValue("a")}}), map({{EncodableValue(1), EncodableValue("b")}})},
      {"MapProperPrefixFirst", map({{EncodableValue(1), EncodableValue("a")}}),
       map({{EncodableValue(1), EncodableValue("a")}, {EncodableValue(2), EncodableValue("a")}})},
      {"EmptyMapFirst", map({}), map({{EncodableValue(), EncodableValue()}})},
      // Entries are taken in key order, not insertion order: {1: x, 3: x} against {2: x}.
      {"MapEntriesInKeyOrder", map({{EncodableValue(3), EncodableValue()}, {EncodableValue(1), EncodableValue()}}),
       map({{EncodableValue(2), EncodableValue()}})},
  };
}

class OrderedPairTest : public testing::TestWithParam<OrderedPair> {};

TEST_P(OrderedPairTest, LesserSortsFirstAndTheOrderIsStrict) {
  const OrderedPair& pair = GetParam();
  EXPECT_TRUE(pair.lesser < pair.greater);
  EXPECT_FALSE(pair.greater < pair.lesser);
  EXPECT_FALSE(pair.lesser < pair.lesser);
  EXPECT_FALSE(pair.lesser == pair.greater);
}

INSTANTIATE_TEST_SUITE_P(Pairs, OrderedPairTest, testing::ValuesIn(OrderedPairs()),
                         [](const testing::TestParamInfo<OrderedPair>& info) { return info.param.name; });

TEST(OrderingTest, NaNIsNeitherLessNorGreater) {
  const EncodableValue not_a_number(std::nan(""));
  const EncodableValue one(1.0);
  EXPECT_FALSE(not_a_number < one);
  EXPECT_FALSE(one < not_a_number);
  EXPECT_FALSE(not_a_number < not_a_number);
}

TEST(OrderingTest, NullsAreEqualAndEqualContentIsEqual) {
  EXPECT_TRUE(EncodableValue() == EncodableValue());
  EXPECT_FALSE(EncodableValue() < EncodableValue());
  const EncodableValue map(EncodableMap{{EncodableValue("k"), EncodableValue(EncodableList{EncodableValue(1.5)})}});
  const EncodableValue copy = map;
  EXPECT_TRUE(map == copy);
  EXPECT_FALSE(map < copy);
  EXPECT_FALSE(copy < map);
}

TEST(OrderingTest, CustomValuesCompareByTheAddressOfTheirStorage) {
  // A list stores its elements contiguously, so the first element lies at the lower address.
  const EncodableList customs{EncodableValue(CustomEncodableValue(2)), EncodableValue(CustomEncodableValue(1))};
  EXPECT_TRUE(customs[0] < customs[1]);
  EXPECT_FALSE(customs[1] < customs[0]);
  EXPECT_TRUE(customs[0] == customs[0]);
  EXPECT_FALSE(customs[0] == customs[1]);
}

TEST(EncodableValueTest, TypedAccessThrowsForAnotherAlternativeAndGetIfYieldsNothing) {
  const EncodableValue text("C:\\");
  EXPECT_THROW(static_cast<void>(std::get<int32_t>(text)), std::bad_variant_access);
  EXPECT_EQ(std::get_if<int32_t>(&text), nullptr);
  ASSERT_NE(std::get_if<std::string>(&text), nullptr);
  EXPECT_EQ(*std::get_if<std::string>(&text), "C:\\");
  EXPECT_THROW(static_cast<void>(text.LongValue()), std::bad_variant_access);
}

TEST(EncodableValueTest, LongValueWidensBothIntegerWidths) {
  EXPECT_EQ(EncodableValue(int32_t{-5}).LongValue(), -5);
  EXPECT_EQ(EncodableValue(int64_t{1} << 40).LongValue(), int64_t{1} << 40);
}

TEST(EncodableValueTest, DefaultIsNullAndCopiesAreDeep) {
  EXPECT_TRUE(EncodableValue().IsNull());
  EXPECT_FALSE(EncodableValue(false).IsNull());

  EncodableValue original(EncodableMap{{EncodableValue("entries"), EncodableValue(EncodableList{EncodableValue(1)})}});
  EncodableValue copy = original;
  std::get<EncodableList>(std::get<EncodableMap>(copy)[EncodableValue("entries")]).push_back(EncodableValue(2));

  EXPECT_EQ(std::get<EncodableList>(std::get<EncodableMap>(original)[EncodableValue("entries")]).size(), 1u);
  EXPECT_FALSE(original == copy);
}

}  // namespace
