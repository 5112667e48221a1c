// The standard codec's byte format: what each value writes, how padding and size prefixes fall,
// and what malformed input decodes to, with the diagnostics it produces.

#include <gtest/gtest.h>

#include <any>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <typeinfo>
#include <vector>

#include "channel/byte_streams.h"
#include "channel/encodable_value.h"
#include "channel/standard_codec_serializer.h"
#include "tests/channel/allocation_probe.h"
#include "tests/channel/codec_test_support.h"

namespace {

using flutter::ByteBufferStreamReader;
using flutter::ByteBufferStreamWriter;
using flutter::CustomEncodableValue;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::StandardCodecSerializer;
using pelmora_test::Bytes;
using pelmora_test::DecodeValues;
using pelmora_test::Describe;
using pelmora_test::DiagnosticsCapture;
using pelmora_test::EncodeValue;
using pelmora_test::EncodeValues;
using pelmora_test::Hex;
using pelmora_test::kInvalidRead;
using pelmora_test::kUnhandledCustom;
using pelmora_test::ToHex;
using pelmora_test::UnknownType;

// Values written one after another into one message, and the exact bytes they make.
struct EncodingCase {
  std::string name;
  std::vector<EncodableValue> values;
  std::string hex;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const EncodingCase& test_case, std::ostream* stream) {
  *stream << test_case.name;
}

std::vector<EncodingCase> EncodingCases() {
  return {
      {"Null", {EncodableValue()}, "00"},
      {"True", {EncodableValue(true)}, "01"},
      {"False", {EncodableValue(false)}, "02"},
      {"Int32One", {EncodableValue(int32_t{1})}, "03 01 00 00 00"},
      {"Int32Negative", {EncodableValue(int32_t{-2})}, "03 FE FF FF FF"},
      {"Int64MinusOne", {EncodableValue(int64_t{-1})}, "04 FF FF FF FF FF FF FF FF"},
      {"Int64LittleEndian", {EncodableValue(int64_t{0x0102030405060708})}, "04 08 07 06 05 04 03 02 01"},
      {"DoubleAtMessageStart", {EncodableValue(1.0)}, "06 00 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"},
      {"DoubleAfterAnotherValue", {EncodableValue(true), EncodableValue(-2.0)},
       "01 06 00 00 00 00 00 00 00 00 00 00 00 00 00 C0"},
      {"DoubleNeedingNoPadding", {EncodableValue("abcde"), EncodableValue(1.0)},
       "07 05 61 62 63 64 65 06 00 00 00 00 00 00 F0 3F"},
      {"EmptyString", {EncodableValue("")}, "07 00"},
      {"Utf8String", {EncodableValue("h\xC3\xA9")}, "07 03 68 C3 A9"},
      {"Uint8List", {EncodableValue(std::vector<uint8_t>{1, 2, 255})}, "08 03 01 02 FF"},
      {"EmptyUint8List", {EncodableValue(std::vector<uint8_t>{})}, "08 00"},
      {"Int32List", {EncodableValue(std::vector<int32_t>{1, -1})}, "09 02 00 00 01 00 00 00 FF FF FF FF"},
      {"EmptyInt32List", {EncodableValue(std::vector<int32_t>{})}, "09 00 00 00"},
      {"Int64List", {EncodableValue(std::vector<int64_t>{2})}, "0A 01 00 00 00 00 00 00 02 00 00 00 00 00 00 00"},
      {"EmptyInt64List", {EncodableValue(std::vector<int64_t>{})}, "0A 00 00 00 00 00 00 00"},
      {"Float64List", {EncodableValue(std::vector<double>{-2.0})},
       "0B 01 00 00 00 00 00 00 00 00 00 00 00 00 00 C0"},
      {"EmptyFloat64List", {EncodableValue(std::vector<double>{})}, "0B 00 00 00 00 00 00 00"},
      {"Float32List", {EncodableValue(std::vector<float>{1.0f, -0.5f})}, "0E 02 00 00 00 00 80 3F 00 00 00 BF"},
      {"EmptyFloat32List", {EncodableValue(std::vector<float>{})}, "0E 00 00 00"},
      {"List", {EncodableValue(EncodableList{EncodableValue(int32_t{1}), EncodableValue("a")})},
       "0C 02 03 01 00 00 00 07 01 61"},
      {"EmptyList", {EncodableValue(EncodableList{})}, "0C 00"},
      {"Map", {EncodableValue(EncodableMap{{EncodableValue("a"), EncodableValue(true)}})}, "0D 01 07 01 61 01"},
      {"EmptyMap", {EncodableValue(EncodableMap{})}, "0D 00"},
      // Padding inside a list depends on the position in the whole message.
      {"DoubleInsideList", {EncodableValue(EncodableList{EncodableValue(true), EncodableValue(2.5)})},
       "0C 02 01 06 00 00 00 00 00 00 00 00 00 00 04 40"},
      {"DoubleInsideListAfterOuterValue",
       {EncodableValue(false), EncodableValue(EncodableList{EncodableValue(true), EncodableValue(2.5)})},
       "02 0C 02 01 06 00 00 00 00 00 00 00 00 00 04 40"},
      {"Int64ListInsideList", {EncodableValue(EncodableList{EncodableValue(true), EncodableValue(std::vector<int64_t>{1})})},
       "0C 02 01 0A 01 00 00 00 01 00 00 00 00 00 00 00"},
      // An empty typed list still pads after its size, and the next value starts after the padding.
      {"ValueAfterEmptyInt32List", {EncodableValue(std::vector<int32_t>{}), EncodableValue(int32_t{7})},
       "09 00 00 00 03 07 00 00 00"},
      {"ValueAfterEmptyInt64ListInList",
       {EncodableValue(EncodableList{EncodableValue(std::vector<int64_t>{}), EncodableValue(int32_t{7})})},
       "0C 02 0A 00 00 00 00 00 03 07 00 00 00"},
      {"ValueAfterEmptyFloat64List", {EncodableValue(true), EncodableValue(std::vector<double>{}), EncodableValue("x")},
       "01 0B 00 00 00 00 00 00 07 01 78"},
      {"ValueAfterEmptyFloat32ListInList",
       {EncodableValue(EncodableList{EncodableValue(true), EncodableValue(std::vector<float>{}), EncodableValue(false)})},
       "0C 03 01 0E 00 00 00 00 02"},
  };
}

class EncodingTest : public testing::TestWithParam<EncodingCase> {};

TEST_P(EncodingTest, WritesExactBytesAndReadsThemBack) {
  const EncodingCase& test_case = GetParam();
  DiagnosticsCapture diagnostics;

  const Bytes message = EncodeValues(test_case.values);
  EXPECT_EQ(ToHex(message), ToHex(Hex(test_case.hex)));

  ByteBufferStreamReader reader(message.data(), message.size());
  for (const auto& expected : test_case.values) {
    EXPECT_EQ(StandardCodecSerializer::GetInstance().ReadValue(&reader), expected);
  }
  EXPECT_EQ(reader.RemainingBytes(), 0u);
  EXPECT_EQ(diagnostics.Take(), "");
}

INSTANTIATE_TEST_SUITE_P(Values, EncodingTest, testing::ValuesIn(EncodingCases()),
                         [](const testing::TestParamInfo<EncodingCase>& info) { return info.param.name; });

// The size prefix: one byte below 254, FE and a uint16 up to 65535, FF and a uint32 above.
struct SizePrefixCase {
  size_t size;
  std::string prefix_hex;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const SizePrefixCase& test_case, std::ostream* stream) {
  *stream << "size " << test_case.size;
}

class SizePrefixTest : public testing::TestWithParam<SizePrefixCase> {};

TEST_P(SizePrefixTest, StringsListsAndMapsCarryTheSameSizePrefix) {
  const SizePrefixCase& test_case = GetParam();
  const Bytes prefix = Hex(test_case.prefix_hex);

  const std::string text(test_case.size, 'x');
  const std::vector<uint8_t> bytes(test_case.size, 0xAB);
  const EncodableList nulls(test_case.size);

  // Each of these takes one byte per element, so the payload is as long as the size.
  struct Subject {
    uint8_t type_byte;
    EncodableValue value;
  };
  const Subject subjects[] = {
      {0x07, EncodableValue(text)},
      {0x08, EncodableValue(bytes)},
      {0x0C, EncodableValue(nulls)},
  };
  for (const Subject& subject : subjects) {
    SCOPED_TRACE("type byte " + std::to_string(subject.type_byte));
    const Bytes message = EncodeValue(subject.value);
    ASSERT_EQ(message.size(), 1 + prefix.size() + test_case.size);
    EXPECT_EQ(message[0], subject.type_byte);
    EXPECT_EQ(ToHex(Bytes(message.begin() + 1, message.begin() + 1 + static_cast<ptrdiff_t>(prefix.size()))),
              ToHex(prefix));
    EXPECT_TRUE(DecodeValues(message, 1)[0] == subject.value);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SizePrefixTest,
                         testing::Values(SizePrefixCase{0, "00"}, SizePrefixCase{1, "01"}, SizePrefixCase{253, "FD"},
                                         SizePrefixCase{254, "FE FE 00"}, SizePrefixCase{255, "FE FF 00"},
                                         SizePrefixCase{65535, "FE FF FF"}, SizePrefixCase{65536, "FF 00 00 01 00"},
                                         SizePrefixCase{70000, "FF 70 11 01 00"}),
                         [](const testing::TestParamInfo<SizePrefixCase>& info) {
                           return "Size" + std::to_string(info.param.size);
                         });

// A message decoded value after value: what each read yields and the diagnostics on the way.
struct DecodingCase {
  std::string name;
  std::string hex;
  std::vector<EncodableValue> expected;
  std::string diagnostics;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const DecodingCase& test_case, std::ostream* stream) {
  *stream << test_case.name;
}

std::vector<DecodingCase> DecodingCases() {
  const std::string invalid_read(kInvalidRead);
  return {
      {"Type5IsAString", "05 02 31 32", {EncodableValue("12")}, ""},
      {"UnknownType15ConsumesNoPayload", "0F 03 01 00 00 00", {EncodableValue(), EncodableValue(int32_t{1})},
       UnknownType(15)},
      {"UnknownType255", "FF 01", {EncodableValue(), EncodableValue(true)}, UnknownType(255)},
      {"UnknownTypeInsideList", "0C 02 0F 01", {EncodableValue(EncodableList{EncodableValue(), EncodableValue(true)})},
       UnknownType(15)},
      {"RepeatedMapKeyKeepsFirstValue", "0D 02 07 01 61 01 07 01 61 02",
       {EncodableValue(EncodableMap{{EncodableValue("a"), EncodableValue(true)}})}, ""},
      {"Int32AndInt64KeysAreDistinct", "0D 02 04 01 00 00 00 00 00 00 00 01 03 01 00 00 00 02",
       {EncodableValue(EncodableMap{{EncodableValue(int32_t{1}), EncodableValue(false)},
                                    {EncodableValue(int64_t{1}), EncodableValue(true)}})},
       ""},
      // Truncated input: a failed read leaves zeros and does not move the position.
      {"EmptyInputIsNull", "", {EncodableValue()}, invalid_read},
      {"TruncatedInt32", "03 01 00", {EncodableValue(int32_t{0})}, invalid_read},
      {"TruncatedInt64", "04 01 02", {EncodableValue(int64_t{0})}, invalid_read},
      {"TruncatedDoublePadding", "06 00 00", {EncodableValue(0.0)}, invalid_read},
      {"TruncatedDouble", "06 00 00 00 00 00 00 00 00 00 F0", {EncodableValue(0.0)}, invalid_read},
      {"MissingStringSize", "07", {EncodableValue("")}, invalid_read},
      {"TruncatedSixteenBitSizeReadsZero", "07 FE 01", {EncodableValue(""), EncodableValue(true)}, invalid_read},
      {"TruncatedThirtyTwoBitSizeReadsZero", "08 FF 01 02",
       {EncodableValue(std::vector<uint8_t>{}), EncodableValue(true), EncodableValue(false)}, invalid_read},
      {"StringShorterThanDeclared", "07 05 01", {EncodableValue(""), EncodableValue(true)}, invalid_read},
      {"Uint8ListShorterThanDeclared", "08 03 01 02",
       {EncodableValue(std::vector<uint8_t>{}), EncodableValue(true), EncodableValue(false)}, invalid_read},
      {"Int32ListShorterThanDeclared", "09 02 00 00 01 00 00 00", {EncodableValue(std::vector<int32_t>{})},
       invalid_read},
      {"EmptyInt32ListWithoutPadding", "09 00", {EncodableValue(std::vector<int32_t>{})}, invalid_read},
      {"ListShorterThanDeclared", "0C 03 01 02",
       {EncodableValue(EncodableList{}), EncodableValue(true), EncodableValue(false)}, invalid_read},
      {"ListWithTruncatedElement", "0C 02 01 03 01",
       {EncodableValue(EncodableList{EncodableValue(true), EncodableValue(int32_t{0})})}, invalid_read},
      {"MapShorterThanDeclared", "0D 05 01 02",
       {EncodableValue(EncodableMap{}), EncodableValue(true), EncodableValue(false)}, invalid_read},
      {"MapEntryWithoutValue", "0D 01 07 01 61", {EncodableValue(EncodableMap{{EncodableValue("a"), EncodableValue()}})},
       invalid_read},
      {"ReadsAfterTheEndKeepFailing", "01", {EncodableValue(true), EncodableValue(), EncodableValue()},
       invalid_read + invalid_read},
  };
}

class DecodingTest : public testing::TestWithParam<DecodingCase> {};

TEST_P(DecodingTest, YieldsWellFormedValuesAndDiagnostics) {
  const DecodingCase& test_case = GetParam();
  DiagnosticsCapture diagnostics;

  const std::vector<EncodableValue> values = DecodeValues(Hex(test_case.hex), test_case.expected.size());

  EXPECT_EQ(values, test_case.expected);
  EXPECT_EQ(diagnostics.Take(), test_case.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(Messages, DecodingTest, testing::ValuesIn(DecodingCases()),
                         [](const testing::TestParamInfo<DecodingCase>& info) { return info.param.name; });

// Six-byte messages whose size prefix declares 4,294,967,295 elements.
struct OversizedCase {
  std::string name;
  std::string hex;
  EncodableValue expected;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const OversizedCase& test_case, std::ostream* stream) {
  *stream << test_case.name;
}

class OversizedDeclarationTest : public testing::TestWithParam<OversizedCase> {};

TEST_P(OversizedDeclarationTest, GivesAnEmptyValueWithoutAllocatingTheDeclaredSize) {
  const OversizedCase& test_case = GetParam();
  const Bytes message = Hex(test_case.hex);
  DiagnosticsCapture diagnostics;
  pelmora_test::AllocationProbe probe;

  ByteBufferStreamReader reader(message.data(), message.size());
  const EncodableValue value = StandardCodecSerializer::GetInstance().ReadValue(&reader);

  EXPECT_LT(probe.LargestRequest(), 4096u);
  EXPECT_EQ(value, test_case.expected);
  EXPECT_EQ(diagnostics.Take(), kInvalidRead);
}

INSTANTIATE_TEST_SUITE_P(
    Declarations, OversizedDeclarationTest,
    testing::Values(OversizedCase{"String", "07 FF FF FF FF FF", EncodableValue("")},
                    OversizedCase{"Type5String", "05 FF FF FF FF FF", EncodableValue("")},
                    OversizedCase{"Uint8List", "08 FF FF FF FF FF", EncodableValue(std::vector<uint8_t>{})},
                    OversizedCase{"Int32List", "09 FF FF FF FF FF", EncodableValue(std::vector<int32_t>{})},
                    OversizedCase{"Int64List", "0A FF FF FF FF FF", EncodableValue(std::vector<int64_t>{})},
                    OversizedCase{"Float64List", "0B FF FF FF FF FF", EncodableValue(std::vector<double>{})},
                    OversizedCase{"Float32List", "0E FF FF FF FF FF", EncodableValue(std::vector<float>{})},
                    OversizedCase{"List", "0C FF FF FF FF FF", EncodableValue(EncodableList{})},
                    OversizedCase{"Map", "0D FF FF FF FF FF", EncodableValue(EncodableMap{})}),
    [](const testing::TestParamInfo<OversizedCase>& info) { return info.param.name; });

TEST(MapEncodingTest, WritesEntriesInKeyOrderWhateverTheInsertionOrder) {
  EncodableMap map;
  map[EncodableValue("b")] = EncodableValue(int32_t{1});
  map[EncodableValue("a")] = EncodableValue(int32_t{2});

  EXPECT_EQ(ToHex(EncodeValue(EncodableValue(map))), "0D 02 07 01 61 03 02 00 00 00 07 01 62 03 01 00 00 00");
}

TEST(MapEncodingTest, KeepsInt32AndInt64KeysApartWithTheInt32First) {
  EncodableMap map;
  map[EncodableValue(int64_t{1})] = EncodableValue("long");
  map[EncodableValue(int32_t{1})] = EncodableValue("int");

  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(ToHex(EncodeValue(EncodableValue(map))),
            "0D 02 03 01 00 00 00 07 03 69 6E 74 04 01 00 00 00 00 00 00 00 07 04 6C 6F 6E 67");
}

TEST(CustomValueTest, IsWrittenAsNullWithADiagnostic) {
  DiagnosticsCapture diagnostics;
  const EncodableValue list(EncodableList{EncodableValue(CustomEncodableValue(42)), EncodableValue(true)});

  EXPECT_EQ(ToHex(EncodeValue(list)), "0C 02 00 01");
  EXPECT_EQ(diagnostics.Take(), kUnhandledCustom);
}

// Nested values survive a round trip, and writing the decoded value again gives the same bytes.
std::vector<EncodableValue> NestedValues() {
  EncodableMap drive{
      {EncodableValue("letter"), EncodableValue("C")},
      {EncodableValue("totalBytes"), EncodableValue(int64_t{512'110'190'592})},
      {EncodableValue("usedPercent"), EncodableValue(63.25)},
      {EncodableValue("isRemovable"), EncodableValue(false)},
      {EncodableValue("label"), EncodableValue("")},
  };
  EncodableValue deep;
  for (int level = 0; level < 64; ++level) {
    deep = EncodableValue(EncodableList{EncodableValue(level), deep, EncodableValue(0.5 * level)});
  }
  EncodableMap mixed_keys{
      {EncodableValue(), EncodableValue("null key")},
      {EncodableValue(true), EncodableValue(std::vector<float>{0.25f})},
      {EncodableValue(int32_t{-7}), EncodableValue(std::vector<int32_t>{1, 2, 3})},
      {EncodableValue(int64_t{-7}), EncodableValue(std::vector<int64_t>{INT64_MIN, INT64_MAX})},
      {EncodableValue(-0.0), EncodableValue(std::vector<double>{std::numeric_limits<double>::infinity()})},
      {EncodableValue(std::vector<uint8_t>{0, 255}), EncodableValue(EncodableMap{})},
      {EncodableValue(EncodableList{EncodableValue(1)}), EncodableValue(EncodableMap{{EncodableValue(1), EncodableValue(2)}})},
  };
  return {
      EncodableValue(EncodableList{EncodableValue(drive), EncodableValue(drive)}),
      deep,
      EncodableValue(mixed_keys),
      EncodableValue(EncodableList{EncodableValue("a"), EncodableValue(1.0), EncodableValue(std::string(300, 'z')),
                                   EncodableValue(2.0), EncodableValue(std::vector<uint8_t>(70000, 7)),
                                   EncodableValue(3.0), EncodableValue(std::vector<double>{1.5, 2.5})}),
  };
}

TEST(RoundTripTest, NestedValuesDecodeEqualAndReencodeIdentically) {
  DiagnosticsCapture diagnostics;
  const std::vector<EncodableValue> values = NestedValues();
  for (size_t index = 0; index < values.size(); ++index) {
    SCOPED_TRACE("value " + std::to_string(index));
    const Bytes message = EncodeValue(values[index]);
    const EncodableValue decoded = DecodeValues(message, 1)[0];
    EXPECT_TRUE(decoded == values[index]) << Describe(decoded);
    EXPECT_EQ(EncodeValue(decoded), message);
  }
  EXPECT_EQ(diagnostics.Take(), "");
}

// A serializer that adds a type of its own, type byte 128, for a point held as a custom value.
struct Point {
  int32_t x;
  int32_t y;
};

class PointSerializer : public StandardCodecSerializer {
 public:
  static constexpr uint8_t kPointType = 128;

  void WriteValue(const EncodableValue& value, flutter::ByteStreamWriter* stream) const override {
    if (const auto* custom = std::get_if<CustomEncodableValue>(&value)) {
      if (custom->type() == typeid(Point)) {
        const auto& point = std::any_cast<const Point&>(static_cast<const std::any&>(*custom));
        stream->WriteByte(kPointType);
        stream->WriteBytes(reinterpret_cast<const uint8_t*>(&point.x), sizeof(point.x));
        stream->WriteBytes(reinterpret_cast<const uint8_t*>(&point.y), sizeof(point.y));
        return;
      }
    }
    StandardCodecSerializer::WriteValue(value, stream);
  }

 protected:
  EncodableValue ReadValueOfType(uint8_t type, flutter::ByteStreamReader* stream) const override {
    if (type != kPointType) {
      return StandardCodecSerializer::ReadValueOfType(type, stream);
    }
    Point point{};
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&point.x), sizeof(point.x));
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&point.y), sizeof(point.y));
    return EncodableValue(CustomEncodableValue(point));
  }
};

const Point* AsPoint(const EncodableValue& value) {
  const auto* custom = std::get_if<CustomEncodableValue>(&value);
  if (custom == nullptr) {
    return nullptr;
  }
  return std::any_cast<Point>(&static_cast<const std::any&>(*custom));
}

TEST(DerivedSerializerTest, AddsATypeThatWorksNestedInListsAndMaps) {
  const PointSerializer serializer;
  const EncodableValue value(EncodableList{
      EncodableValue(int32_t{1}),
      EncodableValue(CustomEncodableValue(Point{2, -3})),
      EncodableValue(EncodableMap{{EncodableValue("p"), EncodableValue(CustomEncodableValue(Point{4, 5}))}}),
  });

  Bytes message;
  ByteBufferStreamWriter writer(&message);
  serializer.WriteValue(value, &writer);
  EXPECT_EQ(ToHex(message),
            "0C 03 03 01 00 00 00 80 02 00 00 00 FD FF FF FF 0D 01 07 01 70 80 04 00 00 00 05 00 00 00");

  ByteBufferStreamReader reader(message.data(), message.size());
  const EncodableValue decoded = serializer.ReadValue(&reader);
  const auto* list = std::get_if<EncodableList>(&decoded);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->size(), 3u);
  EXPECT_EQ((*list)[0], EncodableValue(int32_t{1}));
  const Point* point = AsPoint((*list)[1]);
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(point->x, 2);
  EXPECT_EQ(point->y, -3);
  const auto* map = std::get_if<EncodableMap>(&(*list)[2]);
  ASSERT_NE(map, nullptr);
  const Point* nested = AsPoint(map->at(EncodableValue("p")));
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(nested->x, 4);
  EXPECT_EQ(nested->y, 5);
}

TEST(DerivedSerializerTest, TheStandardSerializerTreatsTheAddedTypeAsUnknown) {
  DiagnosticsCapture diagnostics;

  EXPECT_EQ(DecodeValues(Hex("80 02 00 00 00"), 1)[0], EncodableValue());
  EXPECT_EQ(diagnostics.Take(), UnknownType(128));
}

TEST(ByteStreamTest, AlignmentCountsFromTheStartOfTheBufferAndMayPassTheEnd) {
  DiagnosticsCapture diagnostics;
  const Bytes message = Hex("01 02 03");
  ByteBufferStreamReader reader(message.data(), message.size());

  EXPECT_EQ(reader.ReadByte(), 0x01);
  reader.ReadAlignment(2);
  EXPECT_EQ(reader.ReadByte(), 0x03);
  reader.ReadAlignment(8);
  EXPECT_EQ(reader.RemainingBytes(), 0u);
  uint8_t untouched = 0x5A;
  reader.ReadBytes(&untouched, 0);
  EXPECT_EQ(untouched, 0x5A);
  EXPECT_EQ(diagnostics.Take(), kInvalidRead);

  Bytes output = Hex("AA");
  ByteBufferStreamWriter writer(&output);
  writer.WriteAlignment(4);
  writer.WriteByte(0xBB);
  writer.WriteAlignment(4);
  writer.WriteAlignment(4);
  EXPECT_EQ(ToHex(output), "AA 00 00 00 BB 00 00 00");
}

}  // namespace
