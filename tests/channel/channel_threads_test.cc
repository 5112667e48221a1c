// Results and events from many threads while the engine goes away: the reply and the sink must
// check availability and send under the same lock that engine teardown takes, so nothing reaches
// the embedding after the engine's end, and every reference to the messenger object is given back.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "channel/binary_messenger_impl.h"
#include "channel/event_channel.h"
#include "channel/event_stream_handler_functions.h"
#include "channel/method_channel.h"
#include "tests/channel/fake_embedding.h"
#include "tests/channel/glue_test_support.h"

namespace {

using flutter::EncodableValue;
using Result = std::unique_ptr<flutter::MethodResult<EncodableValue>>;

using ChannelThreadsTest = glue_test::FakeEmbeddingTest;

// The scan listener's sink as the plugin keeps it: every use under one mutex.
struct GuardedSink {
  std::mutex mutex;
  std::unique_ptr<flutter::EventSink<EncodableValue>> sink;

  void Send(int32_t event) {
    std::lock_guard lock(mutex);
    if (sink) {
      sink->Success(EncodableValue(event));
    }
  }
};

void WaitFor(const std::atomic<bool>& flag) {
  while (!flag) {
    std::this_thread::yield();
  }
}

TEST_F(ChannelThreadsTest, ResultsAndEventsFromManyThreadsWhileAvailabilityFlipsAndTheEngineEnds) {
  constexpr int kCalls = 400;
  constexpr int kWorkers = 4;
  constexpr int kEventsAfterTheEnd = 50;

  flutter::BinaryMessengerImpl messenger(messenger_handle_);
  flutter::MethodChannel<EncodableValue> method_channel(&messenger, "native", &glue_test::Codec());
  flutter::EventChannel<EncodableValue> event_channel(&messenger, "scan", &glue_test::Codec());
  std::vector<Result> results;
  method_channel.SetMethodCallHandler(
      [&](const flutter::MethodCall<EncodableValue>&, Result result) { results.push_back(std::move(result)); });
  GuardedSink guarded_sink;
  event_channel.SetStreamHandler(std::make_unique<flutter::StreamHandlerFunctions<EncodableValue>>(
      [&](const EncodableValue*, std::unique_ptr<flutter::EventSink<EncodableValue>>&& events) {
        std::lock_guard lock(guarded_sink.mutex);
        guarded_sink.sink = std::move(events);
        return nullptr;
      },
      nullptr));

  // Platform thread: the calls arrive and the interface listens.
  std::map<int, int32_t> value_of_response;
  for (int32_t index = 0; index < kCalls; ++index) {
    value_of_response[fake_embedding::Deliver(messenger_handle_, "native", glue_test::EncodeCall("getDrives"))] = index;
  }
  int listen_response = fake_embedding::Deliver(messenger_handle_, "scan", glue_test::EncodeCall("listen"));
  ASSERT_EQ(results.size(), static_cast<size_t>(kCalls));

  testing::internal::CaptureStderr();
  // Every thread starts at once, so they overlap as much as the machine lets them.
  std::atomic<bool> start{false};
  std::atomic<int> completed{0};
  std::atomic<bool> engine_ended{false};
  std::vector<std::thread> threads;
  for (int worker = 0; worker < kWorkers; ++worker) {
    threads.emplace_back([&, worker] {
      WaitFor(start);
      for (int32_t index = worker; index < kCalls; index += kWorkers) {
        results[index]->Success(EncodableValue(index));
        results[index].reset();
        ++completed;
      }
    });
  }
  threads.emplace_back([&] {
    WaitFor(start);
    int32_t event = 0;
    while (!engine_ended) {
      guarded_sink.Send(event++);
    }
    for (int sent = 0; sent < kEventsAfterTheEnd; ++sent) {
      guarded_sink.Send(-1);
    }
  });
  threads.emplace_back([&] {
    // Engine teardown races the workers: availability goes off and on while they answer, then
    // the engine ends for good.
    WaitFor(start);
    bool available = true;
    while (completed < kCalls) {
      available = !available;
      fake_embedding::SetAvailable(messenger_handle_, available);
      std::this_thread::yield();
    }
    EndEngine();
    engine_ended = true;
  });
  start = true;
  for (std::thread& thread : threads) {
    thread.join();
  }
  std::string diagnostics = testing::internal::GetCapturedStderr();

  EXPECT_EQ(diagnostics, "") << "a dropped reply or event is silent";
  std::set<int> answered;
  for (const fake_embedding::Response& response : fake_embedding::Responses()) {
    if (response.response_id == listen_response) {
      continue;
    }
    EXPECT_TRUE(answered.insert(response.response_id).second) << "message " << response.response_id << " answered twice";
    ASSERT_EQ(value_of_response.count(response.response_id), 1u);
    const EncodableValue expected(value_of_response[response.response_id]);
    EXPECT_EQ(response.bytes, glue_test::SuccessBytes(&expected));
    EXPECT_TRUE(response.lock_held);
  }
  const EncodableValue late_event(int32_t{-1});
  const std::vector<uint8_t> late_event_bytes = glue_test::SuccessBytes(&late_event);
  for (const fake_embedding::SentMessage& sent : fake_embedding::Sends()) {
    EXPECT_EQ(sent.channel, "scan");
    EXPECT_NE(sent.bytes, late_event_bytes) << "an event sent after the engine's end reached the embedding";
    EXPECT_TRUE(sent.lock_held);
  }
  // The sink still holds the messenger object; the fixture checks that it is freed after this.
  EXPECT_EQ(fake_embedding::LiveMessengers(), 1);
  guarded_sink.sink.reset();
}

}  // namespace
