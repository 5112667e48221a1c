// The binary messenger over the embedding: registration, dispatch, the reply closure and sends.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "channel/binary_messenger_impl.h"
#include "tests/channel/fake_embedding.h"
#include "tests/channel/glue_test_support.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using MessengerTest = glue_test::FakeEmbeddingTest;

const std::vector<uint8_t> kMessage = {1, 2, 3};

TEST_F(MessengerTest, HandlerReceivesTheMessageAndAnswersItOnce) {
  flutter::BinaryMessengerImpl messenger(messenger_handle_);
  std::vector<uint8_t> received;
  messenger.SetMessageHandler("numbers", [&](const uint8_t* message, size_t size, flutter::BinaryReply reply) {
    received.assign(message, message + size);
    const uint8_t answer[] = {9, 8};
    reply(answer, sizeof(answer));
  });

  int response_id = fake_embedding::Deliver(messenger_handle_, "numbers", kMessage);

  EXPECT_EQ(received, kMessage);
  std::vector<fake_embedding::Response> responses = fake_embedding::ResponsesTo(response_id);
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_THAT(responses[0].bytes, ElementsAre(9, 8));
  EXPECT_TRUE(responses[0].lock_held) << "a response must be sent under the messenger lock";
}

TEST_F(MessengerTest, SecondReplyIsReportedAndDroppedEvenThroughACopyOfTheClosure) {
  flutter::BinaryMessengerImpl messenger(messenger_handle_);
  messenger.SetMessageHandler("twice", [](const uint8_t*, size_t, flutter::BinaryReply reply) {
    flutter::BinaryReply copy = reply;
    reply(nullptr, 0);
    copy(nullptr, 0);
  });

  testing::internal::CaptureStderr();
  int response_id = fake_embedding::Deliver(messenger_handle_, "twice", kMessage);
  std::string output = testing::internal::GetCapturedStderr();

  EXPECT_EQ(fake_embedding::ResponsesTo(response_id).size(), 1u);
  EXPECT_EQ(output, "Error: Response can be set only once. Ignoring duplicate response.\n");
}

TEST_F(MessengerTest, ReplyKeepsTheMessengerObjectAliveButIsDroppedAfterTheEngineEnds) {
  flutter::BinaryMessengerImpl messenger(messenger_handle_);
  flutter::BinaryReply kept_reply;
  messenger.SetMessageHandler("later", [&](const uint8_t*, size_t, flutter::BinaryReply reply) {
    kept_reply = std::move(reply);
  });
  fake_embedding::Deliver(messenger_handle_, "later", kMessage);
  ASSERT_TRUE(kept_reply);

  EndEngine();
  EXPECT_EQ(fake_embedding::LiveMessengers(), 1) << "the reply must hold its own reference";

  testing::internal::CaptureStderr();
  kept_reply(nullptr, 0);
  kept_reply(nullptr, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "after the engine's end a reply is silently dropped";
  EXPECT_THAT(fake_embedding::Responses(), IsEmpty());

  kept_reply = nullptr;
  EXPECT_EQ(fake_embedding::LiveMessengers(), 0);
}

TEST_F(MessengerTest, RegistrationKeepsItsUserDataWhileOtherChannelsComeAndGo) {
  flutter::BinaryMessengerImpl messenger(messenger_handle_);
  int calls = 0;
  messenger.SetMessageHandler("first", [&](const uint8_t*, size_t, flutter::BinaryReply reply) {
    ++calls;
    reply(nullptr, 0);
  });
  void* first_user_data = fake_embedding::Registrations().back().user_data;
  for (int index = 0; index < 200; ++index) {
    messenger.SetMessageHandler("other" + std::to_string(index), [](const uint8_t*, size_t, flutter::BinaryReply) {});
  }
  for (int index = 0; index < 200; index += 2) {
    messenger.SetMessageHandler("other" + std::to_string(index), nullptr);
  }

  fake_embedding::Deliver(messenger_handle_, "first", kMessage);

  EXPECT_EQ(calls, 1);
  // Replacing the handler keeps the table entry, and with it the address the embedding was given.
  messenger.SetMessageHandler("first", [&](const uint8_t*, size_t, flutter::BinaryReply reply) {
    calls += 10;
    reply(nullptr, 0);
  });
  EXPECT_EQ(fake_embedding::Registrations().back().user_data, first_user_data);
  fake_embedding::Deliver(messenger_handle_, "first", kMessage);
  EXPECT_EQ(calls, 11);
}

TEST_F(MessengerTest, EmptyHandlerUnregistersWithNullCallbackAndUserData) {
  flutter::BinaryMessengerImpl messenger(messenger_handle_);
  messenger.SetMessageHandler("gone", [](const uint8_t*, size_t, flutter::BinaryReply) {});
  EXPECT_NE(fake_embedding::Registrations().back().callback, nullptr);

  messenger.SetMessageHandler("gone", nullptr);

  fake_embedding::Registration last = fake_embedding::Registrations().back();
  EXPECT_EQ(last.channel, "gone");
  EXPECT_EQ(last.callback, nullptr);
  EXPECT_EQ(last.user_data, nullptr);
  EXPECT_EQ(fake_embedding::Deliver(messenger_handle_, "gone", kMessage), -1);
}

TEST_F(MessengerTest, HandlerExceptionStopsAtTheCallback) {
  flutter::BinaryMessengerImpl messenger(messenger_handle_);
  messenger.SetMessageHandler("throws", [](const uint8_t*, size_t, flutter::BinaryReply) {
    throw std::runtime_error("handler failed");
  });

  testing::internal::CaptureStderr();
  fake_embedding::Deliver(messenger_handle_, "throws", kMessage);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unhandled exception in a channel message handler: handler failed\n");
}

TEST_F(MessengerTest, SendWithoutReplyGoesStraightToTheEmbedding) {
  flutter::BinaryMessengerImpl messenger(messenger_handle_);
  messenger.Send("out", kMessage.data(), kMessage.size());

  std::vector<fake_embedding::SentMessage> sends = fake_embedding::Sends();
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_EQ(sends[0].channel, "out");
  EXPECT_EQ(sends[0].bytes, kMessage);
  EXPECT_THAT(fake_embedding::TakePendingReplies(), IsEmpty());
}

TEST_F(MessengerTest, SendWithReplyDeliversTheAnswerOnceThroughTheTrampoline) {
  flutter::BinaryMessengerImpl messenger(messenger_handle_);
  std::vector<std::vector<uint8_t>> answers;
  messenger.Send("ask", kMessage.data(), kMessage.size(), [&](const uint8_t* reply, size_t size) {
    answers.emplace_back(reply, reply + size);
  });
  std::vector<fake_embedding::PendingReply> pending = fake_embedding::TakePendingReplies();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].channel, "ask");
  EXPECT_EQ(pending[0].bytes, kMessage);

  const uint8_t answer[] = {7};
  pending[0].reply(answer, sizeof(answer), pending[0].user_data);

  ASSERT_EQ(answers.size(), 1u);
  EXPECT_THAT(answers[0], ElementsAre(7));
}

TEST_F(MessengerTest, SendWithReplyAnsweredBeforeTheCallReturns) {
  // The embedding may answer inside the call; the copy it was given is then already freed.
  fake_embedding::SetAnswerDuringSend(std::vector<uint8_t>{5, 5});
  flutter::BinaryMessengerImpl messenger(messenger_handle_);
  int calls = 0;
  messenger.Send("ask", kMessage.data(), kMessage.size(), [&](const uint8_t*, size_t size) {
    ++calls;
    EXPECT_EQ(size, 2u);
  });
  EXPECT_EQ(calls, 1);
}

TEST_F(MessengerTest, RefusedSendWithReplyDestroysTheReplyWithoutCallingIt) {
  fake_embedding::SetSendWithReplyResult(false);
  flutter::BinaryMessengerImpl messenger(messenger_handle_);
  auto token = std::make_shared<int>(0);
  bool called = false;
  messenger.Send("ask", kMessage.data(), kMessage.size(), [token, &called](const uint8_t*, size_t) { called = true; });

  EXPECT_FALSE(called);
  EXPECT_EQ(token.use_count(), 1) << "the reply's copy must be destroyed at once";
}

TEST_F(MessengerTest, MessengerOfAnEngineThatNeverStartedDropsEverything) {
  flutter::BinaryMessengerImpl messenger(nullptr);
  bool called = false;
  messenger.Send("out", kMessage.data(), kMessage.size());
  messenger.Send("ask", kMessage.data(), kMessage.size(), [&](const uint8_t*, size_t) { called = true; });
  messenger.SetMessageHandler("in", [](const uint8_t*, size_t, flutter::BinaryReply) {});

  EXPECT_FALSE(called);
  EXPECT_THAT(fake_embedding::Sends(), IsEmpty());
  EXPECT_THAT(fake_embedding::Registrations(), IsEmpty());
}

}  // namespace
