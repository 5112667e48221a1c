// The event channel's listen/cancel protocol, its stream handlers and the event sink.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "channel/binary_messenger_impl.h"
#include "channel/diagnostic_output.h"
#include "channel/event_channel.h"
#include "channel/event_stream_handler_functions.h"
#include "tests/channel/fake_embedding.h"
#include "tests/channel/glue_test_support.h"

namespace {

using flutter::EncodableValue;
using flutter::EventSink;
using flutter::StreamHandlerError;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kChannel[] = "com.pelmora.app/scan";
const std::vector<uint8_t> kSuccessWithoutValue = {0x00, 0x00};
// The error envelope of code "error", message "No active stream to cancel" and null details.
const std::vector<uint8_t> kNoActiveStream = {0x01, 0x07, 0x05, 'e', 'r', 'r', 'o', 'r', 0x07, 26,  'N', 'o',
                                              ' ',  'a',  'c',  't', 'i', 'v', 'e', ' ', 's',  't', 'r', 'e',
                                              'a',  'm',  ' ',  't', 'o', ' ', 'c', 'a', 'n',  'c', 'e', 'l', 0x00};

// What the stream handler was told, in order, and what it answers.
struct HandlerLog {
  std::vector<std::string> calls;
  std::vector<std::optional<EncodableValue>> arguments;
  std::unique_ptr<EventSink<EncodableValue>> sink;
  std::unique_ptr<StreamHandlerError<EncodableValue>> next_listen_error;
  std::unique_ptr<StreamHandlerError<EncodableValue>> next_cancel_error;
};

std::optional<EncodableValue> Copy(const EncodableValue* arguments) {
  return arguments != nullptr ? std::optional<EncodableValue>(*arguments) : std::nullopt;
}

class EventChannelTest : public glue_test::FakeEmbeddingTest {
 protected:
  void SetUp() override {
    FakeEmbeddingTest::SetUp();
    messenger_ = std::make_unique<flutter::BinaryMessengerImpl>(messenger_handle_);
    channel_ = std::make_unique<flutter::EventChannel<EncodableValue>>(messenger_.get(), kChannel, &glue_test::Codec());
  }

  void TearDown() override {
    // The sink holds a messenger reference of its own.
    log_.sink.reset();
    FakeEmbeddingTest::TearDown();
  }

  void RegisterRecordingHandler() {
    HandlerLog* log = &log_;
    channel_->SetStreamHandler(std::make_unique<flutter::StreamHandlerFunctions<EncodableValue>>(
        [log](const EncodableValue* arguments, std::unique_ptr<EventSink<EncodableValue>>&& events) {
          log->calls.push_back("listen");
          log->arguments.push_back(Copy(arguments));
          log->sink = std::move(events);
          return std::move(log->next_listen_error);
        },
        [log](const EncodableValue* arguments) {
          log->calls.push_back("cancel");
          log->arguments.push_back(Copy(arguments));
          log->sink.reset();
          return std::move(log->next_cancel_error);
        }));
  }

  std::vector<uint8_t> Send(const std::string& method, std::unique_ptr<EncodableValue> arguments = nullptr) {
    int response_id =
        fake_embedding::Deliver(messenger_handle_, kChannel, glue_test::EncodeCall(method, std::move(arguments)));
    return glue_test::OnlyResponseTo(response_id);
  }

  HandlerLog log_;
  std::unique_ptr<flutter::BinaryMessengerImpl> messenger_;
  std::unique_ptr<flutter::EventChannel<EncodableValue>> channel_;
};

TEST_F(EventChannelTest, ListenHandsTheArgumentsAndASinkToTheHandler) {
  RegisterRecordingHandler();

  EXPECT_EQ(Send("listen", std::make_unique<EncodableValue>("drives")), kSuccessWithoutValue);

  EXPECT_THAT(log_.calls, ElementsAre("listen"));
  EXPECT_EQ(log_.arguments[0], EncodableValue("drives"));
  EXPECT_NE(log_.sink, nullptr);
}

TEST_F(EventChannelTest, CancelWithoutListenAnswersNoActiveStream) {
  RegisterRecordingHandler();

  EXPECT_EQ(Send("cancel"), kNoActiveStream);
  EXPECT_THAT(log_.calls, IsEmpty());
}

TEST_F(EventChannelTest, CancelAfterListenSucceedsOnceThenThereIsNoStream) {
  RegisterRecordingHandler();
  Send("listen");

  EXPECT_EQ(Send("cancel", std::make_unique<EncodableValue>(int32_t{7})), kSuccessWithoutValue);
  EXPECT_EQ(Send("cancel"), kNoActiveStream);

  EXPECT_THAT(log_.calls, ElementsAre("listen", "cancel"));
  EXPECT_EQ(log_.arguments[1], EncodableValue(int32_t{7})) << "cancel passes the call's arguments on";
}

TEST_F(EventChannelTest, ListenTwiceCancelsTheOldStreamWithoutArguments) {
  RegisterRecordingHandler();
  Send("listen", std::make_unique<EncodableValue>("first"));

  testing::internal::CaptureStderr();
  EXPECT_EQ(Send("listen", std::make_unique<EncodableValue>("second")), kSuccessWithoutValue);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  EXPECT_THAT(log_.calls, ElementsAre("listen", "cancel", "listen"));
  EXPECT_EQ(log_.arguments[1], std::nullopt);
  EXPECT_EQ(log_.arguments[2], EncodableValue("second"));
}

TEST_F(EventChannelTest, FailedImplicitCancelIsReportedWithoutLineBreakAndListenProceeds) {
  RegisterRecordingHandler();
  Send("listen");
  log_.next_cancel_error = std::make_unique<StreamHandlerError<EncodableValue>>("BUSY", "still scanning", nullptr);

  testing::internal::CaptureStderr();
  std::vector<uint8_t> reply = Send("listen");
  std::string diagnostics = testing::internal::GetCapturedStderr();

  EXPECT_EQ(diagnostics, "Failed to cancel existing stream: BUSY, still scanning, 0");
  EXPECT_EQ(reply, kSuccessWithoutValue);
  EXPECT_THAT(log_.calls, ElementsAre("listen", "cancel", "listen"));
}

TEST_F(EventChannelTest, FailedImplicitCancelReportsTheDetailsAddress) {
  RegisterRecordingHandler();
  Send("listen");
  auto details = std::make_unique<EncodableValue>("details");
  std::string expected_address = flutter::FormatAddress(details.get());
  log_.next_cancel_error =
      std::make_unique<StreamHandlerError<EncodableValue>>("BUSY", "still scanning", std::move(details));

  testing::internal::CaptureStderr();
  Send("listen");
  std::string diagnostics = testing::internal::GetCapturedStderr();

  EXPECT_EQ(diagnostics, "Failed to cancel existing stream: BUSY, still scanning, " + expected_address);
  EXPECT_EQ(expected_address.substr(0, 2), "0x");
}

TEST_F(EventChannelTest, HandlerErrorsBecomeErrorEnvelopes) {
  RegisterRecordingHandler();
  log_.next_listen_error = std::make_unique<StreamHandlerError<EncodableValue>>(
      "SCAN_ERROR", "no drive", std::make_unique<EncodableValue>(int32_t{3}));
  const EncodableValue details(int32_t{3});
  EXPECT_EQ(Send("listen"), glue_test::ErrorBytes("SCAN_ERROR", "no drive", &details));

  // Listening starts whatever OnListen answered, and a failed cancel still ends it.
  log_.next_cancel_error = std::make_unique<StreamHandlerError<EncodableValue>>("STUCK", "cannot stop", nullptr);
  EXPECT_EQ(Send("cancel"), glue_test::ErrorBytes("STUCK", "cannot stop"));
  EXPECT_EQ(Send("cancel"), kNoActiveStream);
}

TEST_F(EventChannelTest, UnknownMethodAndUndecodableMessageGetTheEmptyReply) {
  RegisterRecordingHandler();

  EXPECT_THAT(Send("pause"), IsEmpty());

  testing::internal::CaptureStderr();
  int response_id = fake_embedding::Deliver(messenger_handle_, kChannel, {0x03, 1, 0, 0, 0});
  std::string diagnostics = testing::internal::GetCapturedStderr();
  EXPECT_THAT(glue_test::OnlyResponseTo(response_id), IsEmpty());
  EXPECT_EQ(diagnostics,
            "Invalid method call; method name is not a string.\n"
            "Unable to construct method call from message on channel: com.pelmora.app/scan\n");
  EXPECT_THAT(log_.calls, IsEmpty());
}

TEST_F(EventChannelTest, StreamHandlerFunctionsWithoutCallablesAnswerErrors) {
  channel_->SetStreamHandler(std::make_unique<flutter::StreamHandlerFunctions<EncodableValue>>(nullptr, nullptr));

  EXPECT_EQ(Send("listen"), glue_test::ErrorBytes("error", "No OnListen handler set"));
  EXPECT_EQ(Send("cancel"), glue_test::ErrorBytes("error", "No OnCancel handler set"));
  // The refused sink was destroyed at once: nothing but the engine holds the messenger.
  EXPECT_EQ(fake_embedding::ReferenceCount(messenger_handle_), 1);
}

TEST_F(EventChannelTest, RemovingTheStreamHandlerUnregistersAndDestroysIt) {
  auto alive = std::make_shared<int>(0);
  channel_->SetStreamHandler(std::make_unique<flutter::StreamHandlerFunctions<EncodableValue>>(
      [alive](const EncodableValue*, std::unique_ptr<EventSink<EncodableValue>>&&) { return nullptr; }, nullptr));
  EXPECT_EQ(alive.use_count(), 2);

  channel_->SetStreamHandler(nullptr);

  EXPECT_EQ(alive.use_count(), 1);
  EXPECT_EQ(fake_embedding::Registrations().back().callback, nullptr);
  EXPECT_EQ(fake_embedding::Registrations().back().user_data, nullptr);
}

TEST_F(EventChannelTest, SinkSendsEnvelopesAndTheEmptyEndOfStreamUnderTheMessengerLock) {
  RegisterRecordingHandler();
  Send("listen");
  const EncodableValue event(flutter::EncodableMap{{EncodableValue("type"), EncodableValue("started")}});
  const EncodableValue details(int32_t{5});

  log_.sink->Success(event);
  log_.sink->Success();
  log_.sink->Error("SCAN_ERROR", "stopped", details);
  log_.sink->EndOfStream();

  std::vector<fake_embedding::SentMessage> sends = fake_embedding::Sends();
  ASSERT_EQ(sends.size(), 4u);
  EXPECT_EQ(sends[0].bytes, glue_test::SuccessBytes(&event));
  EXPECT_EQ(sends[1].bytes, kSuccessWithoutValue);
  EXPECT_EQ(sends[2].bytes, glue_test::ErrorBytes("SCAN_ERROR", "stopped", &details));
  EXPECT_THAT(sends[3].bytes, IsEmpty());
  for (const fake_embedding::SentMessage& sent : sends) {
    EXPECT_EQ(sent.channel, kChannel);
    EXPECT_TRUE(sent.lock_held);
  }
}

TEST_F(EventChannelTest, EventsAfterTheEngineEndedAreDropped) {
  RegisterRecordingHandler();
  Send("listen");
  log_.sink->Success(EncodableValue("before"));
  // The window closes while a scan still holds the sink; even the messenger implementation goes.
  channel_.reset();
  messenger_.reset();
  EndEngine();

  log_.sink->Success(EncodableValue("after"));
  log_.sink->EndOfStream();

  EXPECT_EQ(fake_embedding::Sends().size(), 1u);
  EXPECT_EQ(fake_embedding::LiveMessengers(), 1) << "the sink keeps the messenger object, not the engine";
  log_.sink.reset();
  EXPECT_EQ(fake_embedding::LiveMessengers(), 0);
}

// A messenger that is not the embedding's: the sink then sends through it.
class RecordingMessenger : public flutter::BinaryMessenger {
 public:
  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            flutter::BinaryReply) const override {
    sent.emplace_back(channel, std::vector<uint8_t>(message, message + message_size));
  }
  void SetMessageHandler(const std::string&, flutter::BinaryMessageHandler handler) override {
    this->handler = std::move(handler);
  }

  mutable std::vector<std::pair<std::string, std::vector<uint8_t>>> sent;
  flutter::BinaryMessageHandler handler;
};

TEST_F(EventChannelTest, SinkOverAnotherMessengerSendsThroughIt) {
  RecordingMessenger messenger;
  flutter::EventChannel<EncodableValue> channel(&messenger, "elsewhere", &glue_test::Codec());
  std::unique_ptr<EventSink<EncodableValue>> sink;
  channel.SetStreamHandler(std::make_unique<flutter::StreamHandlerFunctions<EncodableValue>>(
      [&](const EncodableValue*, std::unique_ptr<EventSink<EncodableValue>>&& events) {
        sink = std::move(events);
        return nullptr;
      },
      nullptr));
  std::vector<uint8_t> listen = glue_test::EncodeCall("listen");
  std::vector<uint8_t> reply;
  messenger.handler(listen.data(), listen.size(), [&](const uint8_t* bytes, size_t size) { reply.assign(bytes, bytes + size); });
  ASSERT_NE(sink, nullptr);
  EXPECT_EQ(reply, kSuccessWithoutValue);

  sink->Success();

  ASSERT_EQ(messenger.sent.size(), 1u);
  EXPECT_EQ(messenger.sent[0].first, "elsewhere");
  EXPECT_EQ(messenger.sent[0].second, kSuccessWithoutValue);
}

}  // namespace
