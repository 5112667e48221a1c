// The method codec: method calls and the success and error envelopes, in both directions.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "channel/method_call.h"
#include "channel/method_result.h"
#include "channel/standard_method_codec.h"
#include "tests/channel/allocation_probe.h"
#include "tests/channel/codec_test_support.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::StandardMethodCodec;
using pelmora_test::Bytes;
using pelmora_test::Describe;
using pelmora_test::DiagnosticsCapture;
using pelmora_test::Hex;
using pelmora_test::kInvalidRead;
using pelmora_test::kNotAMethodName;
using pelmora_test::ToHex;

const StandardMethodCodec& Codec() {
  return StandardMethodCodec::GetInstance();
}

std::unique_ptr<EncodableValue> Arguments(EncodableValue value) {
  return std::make_unique<EncodableValue>(std::move(value));
}

// Writes down every completion it receives, one line each, so a test can compare them with text.
class RecordingResult : public flutter::MethodResult<EncodableValue> {
 public:
  std::vector<std::string> completions;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    completions.push_back("Success(" + (result != nullptr ? Describe(*result) : std::string()) + ")");
  }
  void ErrorInternal(const std::string& code, const std::string& message, const EncodableValue* details) override {
    completions.push_back("Error(" + code + ", \"" + message + "\", " +
                          (details != nullptr ? Describe(*details) : std::string("no details")) + ")");
  }
  void NotImplementedInternal() override { completions.push_back("NotImplemented()"); }
};

struct MethodCallEncodingCase {
  std::string name;
  std::string method;
  std::optional<EncodableValue> arguments;
  std::string hex;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const MethodCallEncodingCase& test_case, std::ostream* stream) {
  *stream << test_case.name;
}

class MethodCallEncodingTest : public testing::TestWithParam<MethodCallEncodingCase> {};

TEST_P(MethodCallEncodingTest, WritesTheNameThenTheArgumentsAndDecodesBack) {
  const MethodCallEncodingCase& test_case = GetParam();
  DiagnosticsCapture diagnostics;
  const MethodCall<EncodableValue> call(
      test_case.method, test_case.arguments ? Arguments(*test_case.arguments) : std::unique_ptr<EncodableValue>());

  const auto message = Codec().EncodeMethodCall(call);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(ToHex(*message), ToHex(Hex(test_case.hex)));

  const auto decoded = Codec().DecodeMethodCall(message->data(), message->size());
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->method_name(), test_case.method);
  // A decoded call always carries arguments: null when the sender gave none.
  ASSERT_NE(decoded->arguments(), nullptr);
  EXPECT_EQ(*decoded->arguments(), test_case.arguments.value_or(EncodableValue()));
  EXPECT_EQ(diagnostics.Take(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Calls, MethodCallEncodingTest,
    testing::Values(
        MethodCallEncodingCase{"WithoutArguments", "getDrives", std::nullopt, "07 09 67 65 74 44 72 69 76 65 73 00"},
        MethodCallEncodingCase{"WithNullArguments", "getDrives", EncodableValue(), "07 09 67 65 74 44 72 69 76 65 73 00"},
        MethodCallEncodingCase{"WithMapArguments", "startScan",
                               EncodableValue(EncodableMap{{EncodableValue("driveLetter"), EncodableValue("C")}}),
                               "07 09 73 74 61 72 74 53 63 61 6E 0D 01 07 0B 64 72 69 76 65 4C 65 74 74 65 72 07 01 43"},
        // The padding of a double argument counts from the first byte of the message.
        MethodCallEncodingCase{"DoubleArgumentPaddedFromMessageStart", "x", EncodableValue(1.0),
                               "07 01 78 06 00 00 00 00 00 00 00 00 00 00 F0 3F"},
        MethodCallEncodingCase{"EmptyName", "", EncodableValue(true), "07 00 01"}),
    [](const testing::TestParamInfo<MethodCallEncodingCase>& info) { return info.param.name; });

struct MethodCallDecodingCase {
  std::string name;
  std::string hex;
  // Empty when no call is expected.
  std::string method;
  EncodableValue arguments;
  std::string diagnostics;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const MethodCallDecodingCase& test_case, std::ostream* stream) {
  *stream << test_case.name;
}

class MethodCallDecodingTest : public testing::TestWithParam<MethodCallDecodingCase> {};

TEST_P(MethodCallDecodingTest, DecodesOrRejectsWithDiagnostics) {
  const MethodCallDecodingCase& test_case = GetParam();
  const Bytes message = Hex(test_case.hex);
  DiagnosticsCapture diagnostics;

  const auto call = Codec().DecodeMethodCall(message.data(), message.size());

  if (test_case.method.empty()) {
    EXPECT_EQ(call, nullptr);
  } else {
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->method_name(), test_case.method);
    ASSERT_NE(call->arguments(), nullptr);
    EXPECT_EQ(*call->arguments(), test_case.arguments);
  }
  EXPECT_EQ(diagnostics.Take(), test_case.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, MethodCallDecodingTest,
    testing::Values(
        MethodCallDecodingCase{"NameOnlyGivesNullArguments", "07 09 67 65 74 44 72 69 76 65 73", "getDrives",
                               EncodableValue(), std::string(kInvalidRead)},
        MethodCallDecodingCase{"BytesAfterTheArgumentsAreIgnored", "07 01 78 01 02 03", "x", EncodableValue(true), ""},
        MethodCallDecodingCase{"Type5Name", "05 01 78 02", "x", EncodableValue(false), ""},
        MethodCallDecodingCase{"EmptyMessage", "", "", EncodableValue(),
                               std::string(kInvalidRead) + std::string(kNotAMethodName)},
        MethodCallDecodingCase{"NameNotAString", "03 01 00 00 00 00", "", EncodableValue(), std::string(kNotAMethodName)},
        MethodCallDecodingCase{"NullName", "00 00", "", EncodableValue(), std::string(kNotAMethodName)}),
    [](const testing::TestParamInfo<MethodCallDecodingCase>& info) { return info.param.name; });

TEST(EnvelopeEncodingTest, SuccessEnvelopes) {
  const EncodableValue seven(int32_t{7});
  const EncodableValue half(0.5);
  const EncodableValue null_value;

  EXPECT_EQ(ToHex(*Codec().EncodeSuccessEnvelope(nullptr)), "00 00");
  EXPECT_EQ(ToHex(*Codec().EncodeSuccessEnvelope(&null_value)), "00 00");
  EXPECT_EQ(ToHex(*Codec().EncodeSuccessEnvelope(&seven)), "00 03 07 00 00 00");
  // The envelope's own byte counts for the padding of the double.
  EXPECT_EQ(ToHex(*Codec().EncodeSuccessEnvelope(&half)), "00 06 00 00 00 00 00 00 00 00 00 00 00 00 E0 3F");
}

TEST(EnvelopeEncodingTest, ErrorEnvelopesSendAnEmptyMessageAsNull) {
  const EncodableValue details(EncodableList{EncodableValue(1)});

  EXPECT_EQ(ToHex(*Codec().EncodeErrorEnvelope("E", "", nullptr)), "01 07 01 45 00 00");
  EXPECT_EQ(ToHex(*Codec().EncodeErrorEnvelope("E", "m", nullptr)), "01 07 01 45 07 01 6D 00");
  EXPECT_EQ(ToHex(*Codec().EncodeErrorEnvelope("E", "m", &details)), "01 07 01 45 07 01 6D 0C 01 03 01 00 00 00");
}

struct EnvelopeDecodingCase {
  std::string name;
  std::string hex;
  bool understood;
  // The completions the result receives, one line each.
  std::vector<std::string> completions;
  std::string diagnostics;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const EnvelopeDecodingCase& test_case, std::ostream* stream) {
  *stream << test_case.name;
}

class EnvelopeDecodingTest : public testing::TestWithParam<EnvelopeDecodingCase> {};

TEST_P(EnvelopeDecodingTest, DeliversTheEnvelopeToTheResult) {
  const EnvelopeDecodingCase& test_case = GetParam();
  const Bytes message = Hex(test_case.hex);
  DiagnosticsCapture diagnostics;
  RecordingResult result;

  EXPECT_EQ(Codec().DecodeResponseEnvelope(message.data(), message.size(), &result), test_case.understood);

  EXPECT_EQ(result.completions, test_case.completions);
  EXPECT_EQ(diagnostics.Take(), test_case.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(
    Envelopes, EnvelopeDecodingTest,
    testing::Values(
        EnvelopeDecodingCase{"SuccessWithoutValue", "00 00", true, {"Success()"}, ""},
        EnvelopeDecodingCase{"SuccessWithValue", "00 03 07 00 00 00", true, {"Success(7)"}, ""},
        EnvelopeDecodingCase{"SuccessWithDouble", "00 06 00 00 00 00 00 00 00 00 00 00 00 00 E0 3F", true,
                             {"Success(0.5d)"}, ""},
        EnvelopeDecodingCase{"EmptyResponseIsSuccessWithoutValue", "", true, {"Success()"},
                             std::string(kInvalidRead) + std::string(kInvalidRead)},
        EnvelopeDecodingCase{"ErrorWithNullMessageGivesEmptyMessage", "01 07 01 45 00 00", true,
                             {"Error(E, \"\", no details)"}, ""},
        EnvelopeDecodingCase{"ErrorWithMessageAndDetails", "01 07 01 45 07 01 6D 0C 01 03 01 00 00 00", true,
                             {"Error(E, \"m\", [1])"}, ""},
        EnvelopeDecodingCase{"ErrorCutShortAfterTheCode", "01 07 01 45", true, {"Error(E, \"\", no details)"},
                             std::string(kInvalidRead) + std::string(kInvalidRead)},
        EnvelopeDecodingCase{"ErrorCodeNotAString", "01 00 00 00", false, {}, ""},
        EnvelopeDecodingCase{"FirstByteTwoIsRejected", "02 00", false, {}, ""},
        EnvelopeDecodingCase{"FirstByte255IsRejected", "FF", false, {}, ""}),
    [](const testing::TestParamInfo<EnvelopeDecodingCase>& info) { return info.param.name; });

TEST(EnvelopeRoundTripTest, EncodedEnvelopesDecodeToTheSameCompletion) {
  const EncodableValue batch(EncodableMap{
      {EncodableValue("type"), EncodableValue("batch")},
      {EncodableValue("entries"), EncodableValue(EncodableList{EncodableValue(EncodableMap{
                                      {EncodableValue("sizeBytes"), EncodableValue(int64_t{4096})},
                                      {EncodableValue("isDirectory"), EncodableValue(false)}})})},
      {EncodableValue("filesScanned"), EncodableValue(int64_t{1})},
  });
  const EncodableValue details(std::vector<double>{0.5, 1.5});
  struct Envelope {
    std::unique_ptr<std::vector<uint8_t>> message;
    std::string completion;
  };
  Envelope envelopes[] = {
      {Codec().EncodeSuccessEnvelope(&batch), "Success(" + Describe(batch) + ")"},
      {Codec().EncodeSuccessEnvelope(nullptr), "Success()"},
      {Codec().EncodeErrorEnvelope("SCAN_ERROR", "Scan failed.", &details),
       "Error(SCAN_ERROR, \"Scan failed.\", f64[0.5, 1.5])"},
      {Codec().EncodeErrorEnvelope("NOT_FOUND", "", nullptr), "Error(NOT_FOUND, \"\", no details)"},
  };
  for (const Envelope& envelope : envelopes) {
    SCOPED_TRACE(envelope.completion);
    RecordingResult result;
    EXPECT_TRUE(Codec().DecodeResponseEnvelope(envelope.message->data(), envelope.message->size(), &result));
    EXPECT_EQ(result.completions, std::vector<std::string>{envelope.completion});
  }
}

TEST(EnvelopeEncodingTest, WritesTheCallersValueWithoutCopyingIt) {
  // A copy would double the memory of every large reply; all the encoder needs is the message.
  const EncodableValue large(std::vector<uint8_t>(1 << 20, 0x5A));
  const EncodableValue nested(EncodableList{large});
  const MethodCall<EncodableValue> call("m", Arguments(nested));
  struct Encoding {
    std::string name;
    std::function<std::unique_ptr<std::vector<uint8_t>>()> encode;
  };
  const Encoding encodings[] = {
      {"success", [&] { return Codec().EncodeSuccessEnvelope(&nested); }},
      {"error details", [&] { return Codec().EncodeErrorEnvelope("E", "m", &nested); }},
      {"method call", [&] { return Codec().EncodeMethodCall(call); }},
  };
  for (const Encoding& encoding : encodings) {
    SCOPED_TRACE(encoding.name);
    std::unique_ptr<std::vector<uint8_t>> message;
    size_t allocated = 0;
    {
      pelmora_test::AllocationProbe probe;
      message = encoding.encode();
      allocated = probe.TotalRequested();
    }
    EXPECT_LT(allocated, message->size() + 4096);
  }
}

TEST(StandardMethodCodecTest, OneCodecPerSerializer) {
  class OtherSerializer : public flutter::StandardCodecSerializer {};
  static const OtherSerializer other;

  EXPECT_EQ(&StandardMethodCodec::GetInstance(), &StandardMethodCodec::GetInstance(nullptr));
  EXPECT_EQ(&StandardMethodCodec::GetInstance(), &StandardMethodCodec::GetInstance(&flutter::StandardCodecSerializer::GetInstance()));
  EXPECT_EQ(&StandardMethodCodec::GetInstance(&other), &StandardMethodCodec::GetInstance(&other));
  EXPECT_NE(&StandardMethodCodec::GetInstance(&other), &StandardMethodCodec::GetInstance());
}

}  // namespace
