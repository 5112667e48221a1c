// The method channel and its one-shot result.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel/binary_messenger_impl.h"
#include "channel/method_channel.h"
#include "tests/channel/fake_embedding.h"
#include "tests/channel/glue_test_support.h"

namespace {

using flutter::EncodableValue;
using ::testing::IsEmpty;
using Result = std::unique_ptr<flutter::MethodResult<EncodableValue>>;

constexpr char kChannel[] = "com.pelmora.app/native";
constexpr char kDuplicateResultLine[] =
    "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called exactly once. "
    "Ignoring duplicate result.\n";
constexpr char kLeakLine[] = "Warning: Failed to respond to a message. This is a memory leak.\n";

class MethodChannelTest : public glue_test::FakeEmbeddingTest {
 protected:
  void SetUp() override {
    FakeEmbeddingTest::SetUp();
    messenger_ = std::make_unique<flutter::BinaryMessengerImpl>(messenger_handle_);
    channel_ = std::make_unique<flutter::MethodChannel<EncodableValue>>(messenger_.get(), kChannel, &glue_test::Codec());
  }

  // Registers a handler that gives every call's result to `complete`.
  void HandleWith(std::function<void(const flutter::MethodCall<EncodableValue>&, Result&)> complete) {
    channel_->SetMethodCallHandler(
        [complete](const flutter::MethodCall<EncodableValue>& call, Result result) { complete(call, result); });
  }

  int Call(const std::string& method) {
    return fake_embedding::Deliver(messenger_handle_, kChannel, glue_test::EncodeCall(method));
  }

  std::unique_ptr<flutter::BinaryMessengerImpl> messenger_;
  std::unique_ptr<flutter::MethodChannel<EncodableValue>> channel_;
};

struct CompletionCase {
  const char* name;
  std::function<void(Result&)> complete;
  // No value: no response at all.
  std::optional<std::vector<uint8_t>> expected_response;
  std::string expected_diagnostics;
};

const EncodableValue kAnswer(int32_t{42});

const CompletionCase kCompletionCases[] = {
    {"SuccessWithValue", [](Result& result) { result->Success(kAnswer); },
     std::vector<uint8_t>{0x00, 0x03, 42, 0, 0, 0}, ""},
    {"SuccessWithoutValue", [](Result& result) { result->Success(); }, std::vector<uint8_t>{0x00, 0x00}, ""},
    {"Error", [](Result& result) { result->Error("DRIVE_ERROR", "Failed to retrieve drive information."); },
     glue_test::ErrorBytes("DRIVE_ERROR", "Failed to retrieve drive information."), ""},
    {"ErrorWithDetails", [](Result& result) { result->Error("CODE", "message", kAnswer); },
     glue_test::ErrorBytes("CODE", "message", &kAnswer), ""},
    {"NotImplementedIsTheEmptyReply", [](Result& result) { result->NotImplemented(); }, std::vector<uint8_t>{}, ""},
    {"SecondCompletionIsReportedOnce",
     [](Result& result) {
       result->Success();
       result->Error("LATE", "too late");
     },
     std::vector<uint8_t>{0x00, 0x00}, kDuplicateResultLine},
    {"ThirdCompletionIsReportedAgain",
     [](Result& result) {
       result->NotImplemented();
       result->Success();
       result->NotImplemented();
     },
     std::vector<uint8_t>{}, std::string(kDuplicateResultLine) + kDuplicateResultLine},
    {"DroppedResultWarnsAndNeverAnswers", [](Result& result) { result.reset(); }, std::nullopt, kLeakLine},
};

class MethodResultCompletionTest : public MethodChannelTest, public ::testing::WithParamInterface<CompletionCase> {};

TEST_P(MethodResultCompletionTest, AnswersAsCompleted) {
  const CompletionCase& test_case = GetParam();
  HandleWith([&](const flutter::MethodCall<EncodableValue>&, Result& result) { test_case.complete(result); });

  testing::internal::CaptureStderr();
  int response_id = Call("getDrives");
  std::string diagnostics = testing::internal::GetCapturedStderr();

  std::vector<fake_embedding::Response> responses = fake_embedding::ResponsesTo(response_id);
  if (test_case.expected_response) {
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(responses[0].bytes, *test_case.expected_response);
  } else {
    EXPECT_THAT(responses, IsEmpty());
  }
  EXPECT_EQ(diagnostics, test_case.expected_diagnostics);
}

INSTANTIATE_TEST_SUITE_P(Completions, MethodResultCompletionTest, ::testing::ValuesIn(kCompletionCases),
                         [](const ::testing::TestParamInfo<CompletionCase>& info) { return info.param.name; });

TEST_F(MethodChannelTest, HandlerSeesTheDecodedCall) {
  std::string method;
  EncodableValue arguments;
  HandleWith([&](const flutter::MethodCall<EncodableValue>& call, Result& result) {
    method = call.method_name();
    arguments = *call.arguments();
    result->Success();
  });

  fake_embedding::Deliver(messenger_handle_, kChannel,
                          glue_test::EncodeCall("startScan", std::make_unique<EncodableValue>(flutter::EncodableMap{
                                                                 {EncodableValue("driveLetter"), EncodableValue("C")}})));

  EXPECT_EQ(method, "startScan");
  EXPECT_EQ(arguments, EncodableValue(flutter::EncodableMap{{EncodableValue("driveLetter"), EncodableValue("C")}}));
}

TEST_F(MethodChannelTest, ResultKeptByTheHandlerAnswersLater) {
  Result kept;
  HandleWith([&](const flutter::MethodCall<EncodableValue>&, Result& result) { kept = std::move(result); });
  int response_id = Call("getDrives");
  EXPECT_THAT(fake_embedding::ResponsesTo(response_id), IsEmpty());

  kept->Success(kAnswer);

  EXPECT_EQ(glue_test::OnlyResponseTo(response_id), glue_test::SuccessBytes(&kAnswer));
}

TEST_F(MethodChannelTest, ResultCompletedAfterTheEngineBecameUnavailableSendsAndWritesNothing) {
  Result kept;
  HandleWith([&](const flutter::MethodCall<EncodableValue>&, Result& result) { kept = std::move(result); });
  Call("getDrives");
  fake_embedding::SetAvailable(messenger_handle_, false);

  testing::internal::CaptureStderr();
  kept->Success(kAnswer);
  kept.reset();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_THAT(fake_embedding::Responses(), IsEmpty());
}

TEST_F(MethodChannelTest, EmptyMessageGetsTheEmptyReplyAfterThreeDiagnostics) {
  bool handler_called = false;
  HandleWith([&](const flutter::MethodCall<EncodableValue>&, Result&) { handler_called = true; });

  testing::internal::CaptureStderr();
  int response_id = fake_embedding::Deliver(messenger_handle_, kChannel, {});
  std::string diagnostics = testing::internal::GetCapturedStderr();

  EXPECT_FALSE(handler_called);
  EXPECT_THAT(glue_test::OnlyResponseTo(response_id), IsEmpty());
  EXPECT_EQ(diagnostics,
            "Invalid read in StandardCodecByteStreamReader\n"
            "Invalid method call; method name is not a string.\n"
            "Unable to construct method call from message on channel com.pelmora.app/native\n");
}

TEST_F(MethodChannelTest, EmptyHandlerUnregistersTheChannel) {
  HandleWith([](const flutter::MethodCall<EncodableValue>&, Result& result) { result->Success(); });
  channel_->SetMethodCallHandler(nullptr);

  fake_embedding::Registration last = fake_embedding::Registrations().back();
  EXPECT_EQ(last.channel, kChannel);
  EXPECT_EQ(last.callback, nullptr);
  EXPECT_EQ(last.user_data, nullptr);
  EXPECT_EQ(Call("getDrives"), -1);
}

TEST_F(MethodChannelTest, RegistrationOutlivesTheChannelObject) {
  HandleWith([](const flutter::MethodCall<EncodableValue>&, Result& result) { result->Success(); });
  channel_.reset();

  int response_id = Call("getDrives");

  EXPECT_EQ(glue_test::OnlyResponseTo(response_id), (std::vector<uint8_t>{0x00, 0x00}));
}

}  // namespace
