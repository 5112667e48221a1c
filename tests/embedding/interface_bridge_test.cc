// The interface bridge alone, under Wine, with a listener that records what reaches it and a
// short authentication timeout: only a connection that opens with the run's secret gets the
// hello and a hearing. A stranger's connection, whatever it sends, is closed after one line that
// never holds the secret, and nothing of it reaches the listener.

#include "embedding/interface_bridge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "interface_client.h"

namespace pel_mora::embedding {
namespace {

using Bytes = std::vector<uint8_t>;

class RecordingListener : public InterfaceBridge::Listener {
 public:
  void OnPlatformMessage(uint64_t connection, Frame frame) override {
    std::lock_guard lock(mutex_);
    events_.push_back("message " + std::to_string(connection) + " " + frame.channel);
  }
  void OnHostMessageResponse(uint64_t connection, Frame frame) override {
    std::lock_guard lock(mutex_);
    events_.push_back("response " + std::to_string(connection) + " " + std::to_string(frame.id));
  }
  void OnCloseRequest() override {
    std::lock_guard lock(mutex_);
    events_.push_back("close");
  }
  void OnConnectionEnded(uint64_t connection) override {
    std::lock_guard lock(mutex_);
    events_.push_back("ended " + std::to_string(connection));
  }

  std::vector<std::string> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

InterfaceSecret BridgeSecret() {
  InterfaceSecret secret{};
  for (size_t index = 0; index < secret.size(); ++index) {
    secret[index] = static_cast<uint8_t>(0xC3 ^ (index * 29));
  }
  return secret;
}

const Bytes kHello = *BuildFrame(FrameKind::kHello, 0, "", reinterpret_cast<const uint8_t*>("hi"), 2);

Bytes Joined(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts) {
    joined.insert(joined.end(), part.begin(), part.end());
  }
  return joined;
}

class InterfaceBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = NewFixtureFolder();
    capture_ = std::make_unique<StderrCapture>(folder_ + L"\\stderr.txt");
    BridgeSettings settings;
    settings.secret = BridgeSecret();
    // The test seam: far below the host's 5 seconds, so every silent case stays short.
    settings.authentication_timeout = std::chrono::milliseconds(300);
    bridge_ = InterfaceBridge::Listen(&listener_, settings, kHello);
    ASSERT_NE(bridge_, nullptr);
    ASSERT_TRUE(bridge_->Serve());
  }

  void TearDown() override {
    bridge_.reset();
    const std::string diagnostics = capture_->Text();
    capture_.reset();
    if (HasFailure()) {
      std::cout << "Standard error during the test:\n" << diagnostics << std::endl;
    }
  }

  std::unique_ptr<InterfaceClient> Connect() {
    std::unique_ptr<InterfaceClient> client = InterfaceClient::Connect(bridge_->port());
    EXPECT_NE(client, nullptr) << "cannot connect to port " << bridge_->port();
    return client;
  }

  std::wstring folder_;
  std::unique_ptr<StderrCapture> capture_;
  RecordingListener listener_;
  std::unique_ptr<InterfaceBridge> bridge_;
};

constexpr char kRefusal[] = "Interface bridge: closing the connection";

TEST_F(InterfaceBridgeTest, StrangersAreClosedWithoutAHelloAndReachNothing) {
  const std::string digits = InterfaceSecretText(BridgeSecret());
  InterfaceSecret wrong = BridgeSecret();
  wrong[17] ^= 0x10;
  const Bytes message = *BuildFrame(FrameKind::kPlatformMessage, 1, "pelmora/native", nullptr, 0);
  const Bytes close = *BuildFrame(FrameKind::kCloseRequest, 0, "", nullptr, 0);
  const Bytes response = *BuildFrame(FrameKind::kHostMessageResponse, 4, "", nullptr, 0);
  const Bytes no_secret = *BuildFrame(FrameKind::kAuthentication, 0, "", Bytes(64, 'q').data(), 64);
  const Bytes authentication = AuthenticationFrame(BridgeSecret());
  struct Case {
    const char* name;
    Bytes bytes;
    const char* reason;  // a part of the one line the bridge writes
  };
  const Case cases[] = {
      {"nothing at all", {}, "no authentication frame within 300 ms"},
      {"half an authentication frame, then silence", Bytes(authentication.begin(), authentication.begin() + 30),
       "no authentication frame within 300 ms"},
      {"a platform message first", message, "the first frame is kind 1"},
      {"a close request first", close, "the first frame is kind 5"},
      {"a response first", response, "the first frame is kind 4"},
      {"a message, then the secret", Joined({message, authentication}), "the first frame is kind 1"},
      {"a wrong secret, then a message and a close request", Joined({AuthenticationFrame(wrong), message, close}),
       "wrong interface secret"},
      {"letters where the digits go", no_secret, "holds no secret of 64 hexadecimal digits"},
  };
  int refusals = 0;
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.name);
    const int reasons = capture_->CountLinesContaining(test_case.reason);
    std::unique_ptr<InterfaceClient> stranger = Connect();
    ASSERT_NE(stranger, nullptr);
    if (!test_case.bytes.empty()) {
      ASSERT_TRUE(stranger->Write(test_case.bytes));
    }
    // Closed before any frame, the hello included, came back.
    EXPECT_TRUE(stranger->WaitUntilClosed());
    ++refusals;
    ASSERT_TRUE(PumpMessagesUntil([&] { return capture_->CountLinesContaining(kRefusal) >= refusals; }));
    EXPECT_EQ(capture_->CountLinesContaining(kRefusal), refusals);
    EXPECT_EQ(capture_->CountLinesContaining(test_case.reason), reasons + 1);
  }
  EXPECT_TRUE(listener_.events().empty());
  // No message the host sends meanwhile goes anywhere.
  EXPECT_FALSE(bridge_->QueueFrame(close).has_value());

  // After them all, the interface with the secret is heard, on connection 1.
  std::unique_ptr<InterfaceClient> client = Connect();
  ASSERT_NE(client, nullptr);
  ASSERT_TRUE(client->Write(Joined({authentication, message})));
  const std::optional<Frame> hello = client->ReadFrame();
  ASSERT_TRUE(hello.has_value());
  EXPECT_EQ(hello->kind, FrameKind::kHello);
  ASSERT_TRUE(PumpMessagesUntil([&] { return !listener_.events().empty(); }));
  EXPECT_EQ(listener_.events(), std::vector<std::string>{"message 1 pelmora/native"});
  EXPECT_EQ(capture_->CountLinesContaining(digits), 0);
  EXPECT_EQ(capture_->CountLinesContaining(InterfaceSecretText(wrong)), 0);
}

// While a connection has not sent its secret it holds the one place for an interface, yet it is
// no interface: what the host sends meanwhile is dropped, not kept for it.
TEST_F(InterfaceBridgeTest, NothingTheHostSendsReachesAConnectionBeforeItsSecret) {
  std::unique_ptr<InterfaceClient> pending = Connect();
  ASSERT_NE(pending, nullptr);
  // A second connection is closed at once only once the first has been taken.
  std::unique_ptr<InterfaceClient> second = Connect();
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(second->WaitUntilClosed());
  const Bytes early = *BuildFrame(FrameKind::kHostMessage, 0, "early", nullptr, 0);
  EXPECT_FALSE(bridge_->QueueFrame(early).has_value());

  ASSERT_TRUE(pending->Authenticate(BridgeSecret()));
  const std::optional<Frame> hello = pending->ReadFrame();
  ASSERT_TRUE(hello.has_value());
  EXPECT_EQ(hello->kind, FrameKind::kHello);
  // Queued once the connection is in: the next frame to arrive, so nothing queued earlier is on
  // its way.
  ASSERT_TRUE(bridge_->QueueFrame(*BuildFrame(FrameKind::kHostMessage, 0, "late", nullptr, 0)).has_value());
  const std::optional<Frame> next = pending->ReadFrame();
  ASSERT_TRUE(next.has_value());
  EXPECT_EQ(next->channel, "late");
}

}  // namespace
}  // namespace pel_mora::embedding
