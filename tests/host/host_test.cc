// The built pelmora.exe end to end: started as a separate process in the test's Wine prefix and
// driven over its interface bridge as the user interface would drive it. Every host start costs
// about a second under Wine, so the checks that can share one host run against one.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "channel/standard_method_codec.h"
#include "cli/connection/bridge_client.h"
#include "cli/connection/interface_secrets.h"
#include "cli/connection/socket.h"
#include "embedding/interface_frame.h"
#include "embedding/interface_secret.h"
#include "plugin/string_conversion.h"
#include "tests/host/host_process.h"
#include "tests/support/fixture_drive.h"

namespace pel_mora::host_test {
namespace {

using cli::BridgeClient;
using cli::Reply;
using cli::ReplyKind;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using embedding::FrameKind;
using embedding::InterfaceSecret;
using test_support::DriveLetterMapping;
using test_support::FixtureDrive;

// Bounds on waiting, so a broken host fails a test instead of hanging it; never expectations.
constexpr auto kReplyTimeout = std::chrono::seconds(60);
constexpr auto kExitTimeout = std::chrono::seconds(60);
constexpr auto kPumpSlice = std::chrono::milliseconds(100);

std::string Utf8(std::wstring_view text) {
  std::string narrow;
  for (const wchar_t character : text) {
    // Fixture roots are ASCII ("T:\").
    narrow += static_cast<char>(character);
  }
  return narrow;
}

// A frame as bytes on the wire.
std::string FrameBytes(FrameKind kind, uint32_t id, std::string_view channel, const std::vector<uint8_t>& payload) {
  const std::vector<uint8_t> frame = *embedding::BuildFrame(kind, id, channel, payload.data(), payload.size());
  return std::string(frame.begin(), frame.end());
}

std::string AuthenticationBytes(const InterfaceSecret& secret) {
  const std::vector<uint8_t> frame = embedding::AuthenticationFrame(secret);
  return std::string(frame.begin(), frame.end());
}

// A method call on the native channel, as message `id`.
std::string MethodCallBytes(uint32_t id, const std::string& method, const EncodableValue& arguments) {
  const flutter::MethodCall<EncodableValue> call(method, std::make_unique<EncodableValue>(arguments));
  return FrameBytes(FrameKind::kPlatformMessage, id, cli::kNativeChannel,
                    *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call));
}

Reply WaitForReply(BridgeClient& client, uint32_t id) {
  const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
  for (;;) {
    if (std::optional<Reply> reply = client.TakeReply(id)) {
      return std::move(*reply);
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw std::runtime_error("no response to message " + std::to_string(id));
    }
    client.Pump(kPumpSlice);
  }
}

Reply Call(BridgeClient& client, const std::string& channel, const std::string& method,
           const EncodableValue* arguments = nullptr) {
  return WaitForReply(client, client.SendMethodCall(channel, method, arguments));
}

const EncodableValue* Find(const EncodableMap& map, const char* key) {
  const auto found = map.find(EncodableValue(key));
  return found == map.end() ? nullptr : &found->second;
}

template <typename T>
const T* FindAs(const EncodableMap& map, const char* key) {
  const EncodableValue* value = Find(map, key);
  return value == nullptr ? nullptr : std::get_if<T>(value);
}

// Decodes the events arriving on the scan channel, in order.
class ScanEvents {
 public:
  explicit ScanEvents(BridgeClient& client) : client_(client) {
    client_.set_message_handler([this](const std::string& channel, const std::vector<uint8_t>& payload) {
      if (channel != cli::kScanChannel) {
        return;
      }
      Reply event = cli::DecodeReply(payload);
      const auto* map = std::get_if<EncodableMap>(&event.value);
      if (event.kind != ReplyKind::kSuccess || map == nullptr) {
        ADD_FAILURE() << "scan event that is not a success envelope holding a map";
        return;
      }
      events_.push_back(*map);
    });
  }
  ~ScanEvents() { client_.set_message_handler(nullptr); }

  ScanEvents(const ScanEvents&) = delete;
  ScanEvents& operator=(const ScanEvents&) = delete;

  // Pumps until an event of `type` has arrived.
  void PumpUntil(const std::string& type) {
    const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
    while (!Has(type)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        throw std::runtime_error("no \"" + type + "\" scan event");
      }
      client_.Pump(kPumpSlice);
    }
  }

  bool Has(const std::string& type) const {
    return std::any_of(events_.begin(), events_.end(), [&](const EncodableMap& event) { return TypeOf(event) == type; });
  }

  static std::string TypeOf(const EncodableMap& event) {
    const auto* type = FindAs<std::string>(event, "type");
    return type != nullptr ? *type : std::string();
  }

  const std::vector<EncodableMap>& events() const { return events_; }

 private:
  BridgeClient& client_;
  std::vector<EncodableMap> events_;
};

EncodableValue ScanArguments(wchar_t letter) {
  return EncodableValue(EncodableMap{{EncodableValue("driveLetter"), EncodableValue(Utf8({&letter, 1}))}});
}

void ExpectEmptyResponse(const Reply& reply) {
  EXPECT_EQ(reply.kind, ReplyKind::kNotImplemented);
  EXPECT_TRUE(reply.bytes.empty());
}

void ExpectErrorReply(const Reply& reply, const std::string& code, const std::string& message) {
  EXPECT_EQ(reply.kind, ReplyKind::kError);
  EXPECT_EQ(reply.error_code, code);
  EXPECT_EQ(reply.error_message, message);
  EXPECT_TRUE(reply.error_details.IsNull());
}

// One host, started with two arguments (the second quoted around a blank), shared by the tests
// of this suite. Each test connects on its own; the host accepts the next connection once the
// previous one has gone, which every test after the first also relies on.
class RunningHostTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    host_ = std::make_unique<HostProcess>(HostLaunch{.arguments = LR"(one "two words")"});
  }
  // The close request, with no scan running, ends the shared host with exit code 0.
  static void TearDownTestSuite() {
    if (host_ == nullptr) {
      return;
    }
    try {
      host_->Connect()->SendCloseRequest();
    } catch (const std::exception& exception) {
      ADD_FAILURE() << "close request not sent: " << exception.what();
    }
    EXPECT_EQ(host_->WaitForExit(kExitTimeout), std::optional<uint32_t>(0));
    host_.reset();
  }

  void SetUp() override {
    ASSERT_NE(host_, nullptr);
    client_ = host_->Connect();
  }

  static std::unique_ptr<HostProcess> host_;
  std::unique_ptr<BridgeClient> client_;
};

std::unique_ptr<HostProcess> RunningHostTest::host_;

TEST_F(RunningHostTest, HelloCarriesTheArgumentsAndTheRelativeDataPaths) {
  const std::optional<EncodableValue> hello = client_->WaitForHello(std::chrono::milliseconds(0));
  ASSERT_TRUE(hello.has_value());
  const EncodableValue expected(EncodableMap{
      {EncodableValue("dartEntrypoint"), EncodableValue("")},
      {EncodableValue("dartEntrypointArguments"),
       EncodableValue(EncodableList{EncodableValue("one"), EncodableValue("two words")})},
      {EncodableValue("assetsPath"), EncodableValue("data\\flutter_assets")},
      {EncodableValue("icuDataPath"), EncodableValue("data\\icudtl.dat")},
      {EncodableValue("aotLibraryPath"), EncodableValue("data\\app.so")},
  });
  EXPECT_EQ(*hello, expected);
}

TEST_F(RunningHostTest, GetDrivesAnswersOneRecordPerDriveWithTypedFields) {
  const Reply reply = Call(*client_, cli::kNativeChannel, "getDrives");
  ASSERT_EQ(reply.kind, ReplyKind::kSuccess);
  const auto* drives = std::get_if<EncodableList>(&reply.value);
  ASSERT_NE(drives, nullptr);
  ASSERT_FALSE(drives->empty());

  const EncodableMap* drive_c = nullptr;
  for (const EncodableValue& drive : *drives) {
    const auto* record = std::get_if<EncodableMap>(&drive);
    ASSERT_NE(record, nullptr);
    const auto* letter = FindAs<std::string>(*record, "driveLetter");
    ASSERT_NE(letter, nullptr);
    if (*letter == "C") {
      drive_c = record;
    }
  }
  ASSERT_NE(drive_c, nullptr) << "drive C missing from the list";

  std::vector<std::string> keys;
  for (const auto& [key, value] : *drive_c) {
    keys.push_back(std::get<std::string>(key));
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"driveLetter", "driveType", "fileSystem", "freeBytes", "isReady",
                                            "totalBytes", "usedBytes", "volumeName"}));
  // Drive C of a Wine prefix is a fixed disk (type 3) that is ready and has a size.
  ASSERT_NE(FindAs<int32_t>(*drive_c, "driveType"), nullptr);
  EXPECT_EQ(*FindAs<int32_t>(*drive_c, "driveType"), 3);
  ASSERT_NE(FindAs<bool>(*drive_c, "isReady"), nullptr);
  EXPECT_TRUE(*FindAs<bool>(*drive_c, "isReady"));
  EXPECT_NE(FindAs<std::string>(*drive_c, "volumeName"), nullptr);
  EXPECT_NE(FindAs<std::string>(*drive_c, "fileSystem"), nullptr);
  const auto* total = FindAs<int64_t>(*drive_c, "totalBytes");
  const auto* free = FindAs<int64_t>(*drive_c, "freeBytes");
  const auto* used = FindAs<int64_t>(*drive_c, "usedBytes");
  ASSERT_NE(total, nullptr);
  ASSERT_NE(free, nullptr);
  ASSERT_NE(used, nullptr);
  EXPECT_GT(*total, 0);
  EXPECT_EQ(*used, *total - *free);
}

TEST_F(RunningHostTest, UnknownMethodsGetAnEmptyResponseOnBothChannels) {
  for (const char* channel : {cli::kNativeChannel, cli::kScanChannel}) {
    SCOPED_TRACE(channel);
    ExpectEmptyResponse(Call(*client_, channel, "noSuchMethod"));
  }
}

TEST_F(RunningHostTest, ZeroByteMessageGetsAnEmptyResponseAfterThreeDiagnostics) {
  ExpectEmptyResponse(WaitForReply(*client_, client_->SendMessage(cli::kNativeChannel, {})));

  const std::vector<std::string> expected_lines = {
      "Invalid read in StandardCodecByteStreamReader",
      "Invalid method call; method name is not a string.",
      "Unable to construct method call from message on channel com.pelmora.app/native",
  };
  // The lines were written before the response was sent, but they reach this process through
  // another pipe, so they may still be on their way.
  ASSERT_TRUE(host_->WaitForLine(expected_lines.back())) << "missing: " << expected_lines.back();
  const std::vector<std::string> lines = host_->OutputLines();
  auto position = lines.begin();
  for (const std::string& expected : expected_lines) {
    position = std::find(position, lines.end(), expected);
    ASSERT_NE(position, lines.end()) << "missing, or out of order: " << expected;
  }
  // The host carries on.
  EXPECT_EQ(Call(*client_, cli::kNativeChannel, "getDrives").kind, ReplyKind::kSuccess);
}

TEST_F(RunningHostTest, ScanChannelCancelAnswersAnErrorUnlessSomebodyListens) {
  ExpectErrorReply(Call(*client_, cli::kScanChannel, "cancel"), "error", "No active stream to cancel");

  const Reply listen = Call(*client_, cli::kScanChannel, "listen");
  EXPECT_EQ(listen.bytes, (std::vector<uint8_t>{0x00, 0x00}));
  const Reply cancel = Call(*client_, cli::kScanChannel, "cancel");
  EXPECT_EQ(cancel.bytes, (std::vector<uint8_t>{0x00, 0x00}));

  ExpectErrorReply(Call(*client_, cli::kScanChannel, "cancel"), "error", "No active stream to cancel");
}

TEST_F(RunningHostTest, SecondConnectionIsClosedAtOnceWhileTheFirstKeepsWorking) {
  // Rounds, each with a call of the first connection in flight as the second arrives, so the
  // bridge meets second connections in rounds that other work woke as well as on their own.
  constexpr int kRounds = 20;
  for (int round = 0; round < kRounds; ++round) {
    const uint32_t call = client_->SendMethodCall(cli::kNativeChannel, "getDrives", nullptr);
    const std::unique_ptr<cli::Connection> second = cli::ConnectToLocalPort(host_->WaitForPort());
    uint8_t buffer[64];
    size_t received = 0;
    // No hello, no bytes at all: the bridge closes the second connection as it accepts it.
    ASSERT_EQ(second->Receive(buffer, sizeof(buffer), kReplyTimeout, &received), cli::ReceiveOutcome::kClosed)
        << "round " << round;
    ASSERT_EQ(WaitForReply(*client_, call).kind, ReplyKind::kSuccess) << "round " << round;
  }
}

// Reads until the host closes the connection; false when it stays open past the bound.
bool ClosedByTheHost(cli::Connection& connection) {
  const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
  uint8_t buffer[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    size_t received = 0;
    const cli::ReceiveOutcome outcome = connection.Receive(buffer, sizeof(buffer), kPumpSlice, &received);
    if (outcome == cli::ReceiveOutcome::kClosed) {
      return true;
    }
  }
  return false;
}

// Sent by an interface that holds the secret: the framing is judged after the authentication.
TEST_F(RunningHostTest, AMalformedFrameEndsOnlyItsOwnConnection) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"zero length", std::string("\x00\x00\x00\x00", 4)},
      {"absurd length", std::string("\xFF\xFF\xFF\xFF\x01", 5)},
      {"shorter than a header", std::string("\x03\x00\x00\x00\x01\x01\x00", 7)},
      {"unknown kind", std::string("\x07\x00\x00\x00\x09\x01\x00\x00\x00\x00\x00", 11)},
      {"a kind only the host sends", std::string("\x07\x00\x00\x00\x02\x01\x00\x00\x00\x00\x00", 11)},
      {"channel longer than the frame", std::string("\x07\x00\x00\x00\x01\x01\x00\x00\x00\x05\x00", 11)},
      {"platform message with id 0", std::string("\x07\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00", 11)},
      // Somebody else's protocol: its first four bytes read as a length far over the limit.
      {"a stray web request", "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"},
  };
  client_.reset();
  const std::string authentication = AuthenticationBytes(host_->Secret());
  for (const Case& test_case : cases) {
    const std::unique_ptr<cli::Connection> connection = cli::ConnectToLocalPort(host_->WaitForPort());
    const std::string bytes = authentication + test_case.bytes;
    connection->SendAll(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_TRUE(ClosedByTheHost(*connection)) << test_case.name << ": still open after the bound";
  }
  // The host carries on, and the next interface is served.
  client_ = host_->Connect();
  EXPECT_EQ(Call(*client_, cli::kNativeChannel, "getDrives").kind, ReplyKind::kSuccess);
}

// Reads until `expected` has arrived somewhere in the stream; false when the host closes the
// connection first or nothing matching comes within the bound.
bool Receives(cli::Connection& connection, const std::string& expected) {
  const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
  std::string stream;
  uint8_t buffer[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    size_t received = 0;
    switch (connection.Receive(buffer, sizeof(buffer), kPumpSlice, &received)) {
      case cli::ReceiveOutcome::kClosed:
        return false;
      case cli::ReceiveOutcome::kTimedOut:
        break;
      case cli::ReceiveOutcome::kData:
        stream.append(reinterpret_cast<const char*>(buffer), received);
        if (stream.find(expected) != std::string::npos) {
          return true;
        }
        break;
    }
  }
  return false;
}

TEST_F(RunningHostTest, AResponseToNothingIsDroppedAndTheConnectionCarriesOn) {
  client_.reset();
  const std::unique_ptr<cli::Connection> connection = cli::ConnectToLocalPort(host_->WaitForPort());
  // Kind 4 for host message 77, which the host never sent; then message 5 on a channel nobody
  // handles, which the host answers with an empty response (kind 2, id 5).
  const std::string frames = AuthenticationBytes(host_->Secret()) +
                             std::string("\x08\x00\x00\x00\x04\x4D\x00\x00\x00\x00\x00\x00", 12) +
                             std::string("\x0A\x00\x00\x00\x01\x05\x00\x00\x00\x03\x00who", 14);
  connection->SendAll(reinterpret_cast<const uint8_t*>(frames.data()), frames.size());
  EXPECT_TRUE(Receives(*connection, std::string("\x07\x00\x00\x00\x02\x05\x00\x00\x00\x00\x00", 11)))
      << "no empty response to message 5";
}

// Reads until the host closes the connection; false when a byte arrives first (a hello, a
// response) or the connection stays open past the bound.
bool ClosedWithoutAWord(cli::Connection& connection) {
  const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
  uint8_t buffer[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    size_t received = 0;
    switch (connection.Receive(buffer, sizeof(buffer), kPumpSlice, &received)) {
      case cli::ReceiveOutcome::kClosed:
        return true;
      case cli::ReceiveOutcome::kData:
        return false;
      case cli::ReceiveOutcome::kTimedOut:
        break;
    }
  }
  return false;
}

constexpr char kRefusalLine[] = "Interface bridge: closing the connection";

// What a stranger, who can reach the port but was never given the secret, might send first.
// None of it gets a hello or reaches a method: the key it tries to store is not there afterwards
// and its close request leaves the host running. Each refusal is one line on standard error,
// which never holds the secret; the interface that holds it is let in after them all.
TEST_F(RunningHostTest, ConnectionsWithoutTheSecretGetNothingAndRunNothing) {
  client_.reset();
  const InterfaceSecret secret = host_->Secret();
  InterfaceSecret wrong = secret;
  wrong.back() ^= 0x01;
  // A key of this run's own.
  const std::string key = "host-test/stranger-" + embedding::InterfaceSecretText(cli::NewInterfaceSecret()).substr(0, 12);
  const std::string store = MethodCallBytes(
      1, "secureWrite",
      EncodableValue(EncodableMap{{EncodableValue("key"), EncodableValue(key)},
                                  {EncodableValue("value"), EncodableValue("written by a stranger")}}));
  const std::string close = FrameBytes(FrameKind::kCloseRequest, 0, "", {});
  const std::string digits = embedding::InterfaceSecretText(secret);
  const std::vector<uint8_t> no_digits(64, 'x');
  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;  // a part of the line the host writes
  };
  const Case cases[] = {
      {"a method call first", store, "the first frame is kind 1, not the authentication frame"},
      {"a close request first", close, "the first frame is kind 5, not the authentication frame"},
      {"a method call, then the secret", store + AuthenticationBytes(secret), "the first frame is kind 1"},
      {"a wrong secret, then a method call", AuthenticationBytes(wrong) + store, "wrong interface secret"},
      {"a wrong secret, then a close request", AuthenticationBytes(wrong) + close, "wrong interface secret"},
      {"an authentication frame without a secret", FrameBytes(FrameKind::kAuthentication, 0, "", no_digits),
       "holds no secret of 64 hexadecimal digits"},
      {"the secret short of its last digit",
       FrameBytes(FrameKind::kAuthentication, 0, "", std::vector<uint8_t>(digits.begin(), digits.end() - 1)),
       "authentication frame of length 70"},
      {"the secret's digits in a method call", FrameBytes(FrameKind::kPlatformMessage, 2, cli::kNativeChannel,
                                                          std::vector<uint8_t>(digits.begin(), digits.end())),
       "the first frame is kind 1"},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.name);
    const size_t refusals = host_->CountLinesContaining(kRefusalLine);
    const size_t reasons = host_->CountLinesContaining(test_case.reason);
    const std::unique_ptr<cli::Connection> connection = cli::ConnectToLocalPort(host_->WaitForPort());
    connection->SendAll(reinterpret_cast<const uint8_t*>(test_case.bytes.data()), test_case.bytes.size());
    EXPECT_TRUE(ClosedWithoutAWord(*connection));
    ASSERT_TRUE(host_->WaitForLinesContaining(kRefusalLine, refusals + 1));
    EXPECT_EQ(host_->CountLinesContaining(kRefusalLine), refusals + 1);
    EXPECT_EQ(host_->CountLinesContaining(test_case.reason), reasons + 1) << "the refusal does not say why";
  }

  ASSERT_FALSE(host_->WaitForExit(std::chrono::milliseconds(0)).has_value()) << "a stranger closed the host";
  client_ = host_->Connect();
  const EncodableValue read_key(EncodableMap{{EncodableValue("key"), EncodableValue(key)}});
  const Reply stored = Call(*client_, cli::kNativeChannel, "secureRead", &read_key);
  EXPECT_EQ(stored.kind, ReplyKind::kSuccess);
  EXPECT_EQ(stored.value, EncodableValue(false)) << "a stranger's call ran";
  for (const std::string& line : host_->OutputLines()) {
    EXPECT_EQ(line.find(digits), std::string::npos) << "the secret on standard error: " << line;
  }
}

TEST_F(RunningHostTest, PipelinedCallsAreEachAnsweredExactlyOnce) {
  // A thousand calls sent without waiting, alternating a method of the worker threads and one
  // the platform thread answers inline.
  constexpr int kCalls = 1000;
  std::vector<uint32_t> ids;
  for (int index = 0; index < kCalls; ++index) {
    ids.push_back(client_->SendMethodCall(cli::kNativeChannel, index % 2 == 0 ? "getDrives" : "cancelScan", nullptr));
  }
  std::vector<bool> answered(ids.size(), false);
  size_t remaining = ids.size();
  const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
  while (remaining > 0 && std::chrono::steady_clock::now() < deadline) {
    client_->Pump(kPumpSlice);
    for (size_t index = 0; index < ids.size(); ++index) {
      if (!answered[index] && client_->TakeReply(ids[index]).has_value()) {
        answered[index] = true;
        --remaining;
      }
    }
  }
  ASSERT_EQ(remaining, 0u) << "calls still unanswered when the wait ended";
  // One more round trip: a second answer to any of them, sent before this one, is here by now.
  EXPECT_EQ(Call(*client_, cli::kNativeChannel, "getDrives").kind, ReplyKind::kSuccess);
  for (const uint32_t id : ids) {
    EXPECT_FALSE(client_->TakeReply(id).has_value()) << "message " << id << " answered twice";
  }
}

TEST_F(RunningHostTest, TenThousandWorkerCallsLeaveTheHostRunning) {
  // Every worker call starts a thread of its own; a launch that races the thread's start showed
  // as a crash in a few of every hundred runs of ten thousand. Sent in pipelined batches, so
  // many workers start at once.
  // The reading of a key that was never stored is the cheapest worker call there is (a metrics
  // snapshot takes a tenth of a second under Wine).
  constexpr int kBatches = 50;
  constexpr int kBatchSize = 200;
  const EncodableValue absent_key(EncodableMap{{EncodableValue("key"), EncodableValue("host-test-never-stored")}});
  for (int batch = 0; batch < kBatches; ++batch) {
    std::vector<uint32_t> ids;
    for (int index = 0; index < kBatchSize; ++index) {
      ids.push_back(client_->SendMethodCall(cli::kNativeChannel, "secureRead", &absent_key));
    }
    for (const uint32_t id : ids) {
      ASSERT_NO_THROW(WaitForReply(*client_, id)) << "batch " << batch;
    }
  }
  EXPECT_EQ(Call(*client_, cli::kNativeChannel, "getDrives").kind, ReplyKind::kSuccess);
}

// A tree of 200,200 entries (200 folders of 1,000 empty files), large enough that a scan of it
// is still walking whatever the machine's load when a test closes the host or starts the next
// scan. Made once, by one shell command (far faster than creating the files through Wine), in
// the build tree and reused by later runs; the scans only read it.
constexpr char kLargeFixtureUnixPath[] = PELMORA_HOST_LARGE_FIXTURE;
constexpr auto kLargeFixtureTimeout = std::chrono::minutes(5);

std::unique_ptr<DriveLetterMapping> MapLargeFixture() {
  const std::wstring unix_folder = Utf8ToWide(kLargeFixtureUnixPath);
  const std::wstring complete_marker = WindowsPathOfUnixPath(unix_folder) + L".complete";
  if (!std::filesystem::exists(complete_marker)) {
    // A tree left half made by an interrupted run is made again from the start.
    test_support::StartUnixProgram(
        L"/bin/bash",
        {L"-c",
         L"rm -rf \"$0\" && mkdir -p \"$0\" && cd \"$0\" && for folder in $(seq 200); do "
         L"mkdir f$folder && (cd f$folder && touch $(seq 1000)) || exit 1; done && touch \"$0.complete\"",
         unix_folder});
    const auto deadline = std::chrono::steady_clock::now() + kLargeFixtureTimeout;
    while (!std::filesystem::exists(complete_marker)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ADD_FAILURE() << "the large fixture was not made within 5 minutes";
        return nullptr;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  return std::make_unique<DriveLetterMapping>(unix_folder);
}

TEST_F(RunningHostTest, AfterStartCancelRoundsAndALeavingInterfaceANewScanStreamsAloneToTheEnd) {
  const std::unique_ptr<DriveLetterMapping> large = MapLargeFixture();
  ASSERT_NE(large, nullptr);
  const EncodableValue large_arguments = ScanArguments(large->Letter());
  {
    ScanEvents scan(*client_);
    ASSERT_EQ(Call(*client_, cli::kScanChannel, "listen").kind, ReplyKind::kSuccess);
    for (int round = 0; round < 50; ++round) {
      ASSERT_EQ(Call(*client_, cli::kNativeChannel, "startScan", &large_arguments).kind, ReplyKind::kSuccess)
          << "round " << round;
      ASSERT_EQ(Call(*client_, cli::kNativeChannel, "cancelScan").kind, ReplyKind::kSuccess) << "round " << round;
    }
    // One more, left running: the interface goes away in the middle of its walk.
    ASSERT_EQ(Call(*client_, cli::kNativeChannel, "startScan", &large_arguments).kind, ReplyKind::kSuccess);
    scan.PumpUntil("batch");
  }
  client_.reset();

  client_ = host_->Connect();
  const FixtureDrive small;
  small.AddFile(L"a.txt", 10);
  small.AddFile(L"b.txt", 20);
  ScanEvents scan(*client_);
  ASSERT_EQ(Call(*client_, cli::kScanChannel, "listen").kind, ReplyKind::kSuccess);
  const EncodableValue small_arguments = ScanArguments(small.Letter());
  ASSERT_EQ(Call(*client_, cli::kNativeChannel, "startScan", &small_arguments).kind, ReplyKind::kSuccess);
  scan.PumpUntil("completed");
  EXPECT_EQ(Call(*client_, cli::kScanChannel, "cancel").kind, ReplyKind::kSuccess);

  // From the small scan's "started" on, every event is the small scan's.
  const std::string small_root = Utf8(small.Root());
  const auto& events = scan.events();
  const auto started = std::find_if(events.begin(), events.end(), [&](const EncodableMap& event) {
    const auto* root = FindAs<std::string>(event, "root");
    return ScanEvents::TypeOf(event) == "started" && root != nullptr && *root == small_root;
  });
  ASSERT_NE(started, events.end()) << "no \"started\" of the small scan";
  for (auto event = started + 1; event != events.end(); ++event) {
    const std::string type = ScanEvents::TypeOf(*event);
    ASSERT_TRUE(type == "batch" || type == "completed") << "unexpected \"" << type << "\" in the small scan's stream";
    if (const auto* entries = FindAs<EncodableList>(*event, "entries")) {
      for (const EncodableValue& entry : *entries) {
        const auto* path = FindAs<std::string>(std::get<EncodableMap>(entry), "path");
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(path->rfind(small_root, 0), 0u) << *path << " is not on the small drive";
      }
    }
  }
  const EncodableMap& completed = events.back();
  ASSERT_EQ(ScanEvents::TypeOf(completed), "completed");
  EXPECT_EQ(*FindAs<int64_t>(completed, "totalFiles"), 2);
  EXPECT_EQ(*FindAs<int64_t>(completed, "totalBytes"), 30);
}

TEST_F(RunningHostTest, ScanOfAFixtureDriveStreamsStartedBatchesAndTheFixtureTotals) {
  // 1,234 files in three folders and the root, with sizes that add up to known totals.
  const FixtureDrive drive;
  drive.AddFolder(L"docs");
  drive.AddFolder(L"media");
  drive.AddFolder(L"media\\photos");
  for (int index = 0; index < 400; ++index) {
    drive.AddFile(L"docs\\note" + std::to_wstring(index) + L".txt", 10);
  }
  for (int index = 0; index < 600; ++index) {
    drive.AddFile(L"media\\photos\\photo" + std::to_wstring(index) + L".jpg", 1000);
  }
  for (int index = 0; index < 4; ++index) {
    drive.AddFile(L"media\\clip" + std::to_wstring(index) + L".mp4", 1 << 20);
  }
  for (int index = 0; index < 230; ++index) {
    drive.AddFile(L"empty" + std::to_wstring(index));
  }
  constexpr int64_t kMediaBytes = 600 * 1000 + 4 * (1 << 20);
  constexpr int64_t kTotalBytes = 400 * 10 + kMediaBytes;

  ScanEvents scan(*client_);
  ASSERT_EQ(Call(*client_, cli::kScanChannel, "listen").kind, ReplyKind::kSuccess);
  const EncodableValue arguments = ScanArguments(drive.Letter());
  const Reply start = Call(*client_, cli::kNativeChannel, "startScan", &arguments);
  ASSERT_EQ(start.kind, ReplyKind::kSuccess);
  EXPECT_EQ(start.value, EncodableValue(true));
  scan.PumpUntil("completed");
  EXPECT_EQ(Call(*client_, cli::kScanChannel, "cancel").kind, ReplyKind::kSuccess);

  std::vector<std::string> types;
  for (const EncodableMap& event : scan.events()) {
    types.push_back(ScanEvents::TypeOf(event));
  }
  // 1,237 entries: a full batch of 1,000 during the walk and the remaining 237 at the end.
  ASSERT_EQ(types, (std::vector<std::string>{"started", "batch", "batch", "completed"}));

  const EncodableMap& started = scan.events().front();
  ASSERT_NE(FindAs<std::string>(started, "root"), nullptr);
  EXPECT_EQ(*FindAs<std::string>(started, "root"), Utf8(drive.Root()));

  size_t entry_count = 0;
  const EncodableMap* media = nullptr;
  for (size_t index = 1; index <= 2; ++index) {
    const auto* entries = FindAs<EncodableList>(scan.events()[index], "entries");
    ASSERT_NE(entries, nullptr);
    entry_count += entries->size();
    for (const EncodableValue& entry : *entries) {
      const auto& record = std::get<EncodableMap>(entry);
      const auto* path = FindAs<std::string>(record, "path");
      if (path != nullptr && *path == Utf8(drive.PathOf(L"media"))) {
        media = &record;
      }
    }
  }
  EXPECT_EQ(entry_count, 1237u);
  ASSERT_NE(media, nullptr) << "no entry for the folder media";
  EXPECT_EQ(*FindAs<int64_t>(*media, "sizeBytes"), kMediaBytes);
  EXPECT_EQ(*FindAs<bool>(*media, "isDirectory"), true);
  const EncodableMap& last_batch = scan.events()[2];
  EXPECT_EQ(*FindAs<int64_t>(last_batch, "filesScanned"), 1234);
  EXPECT_EQ(*FindAs<int64_t>(last_batch, "foldersScanned"), 3);

  const EncodableMap& completed = scan.events().back();
  ASSERT_NE(FindAs<int64_t>(completed, "totalFiles"), nullptr);
  EXPECT_EQ(*FindAs<int64_t>(completed, "totalFiles"), 1234);
  EXPECT_EQ(*FindAs<int64_t>(completed, "totalFolders"), 3);
  EXPECT_EQ(*FindAs<int64_t>(completed, "totalBytes"), kTotalBytes);
  EXPECT_NE(FindAs<int64_t>(completed, "durationMs"), nullptr);
}

// Without arguments, and closed by the interface in the middle of a scan: the scan thread is
// still walking when the plugin, the engine and the process go away.
TEST(HostProcessTest, HostWithoutArgumentsClosesWithExitCodeZeroWhileAScanRuns) {
  // The walk of the large fixture is still going when the close request arrives (it sends 200
  // batches; the close goes out after the first).
  const std::unique_ptr<DriveLetterMapping> drive = MapLargeFixture();
  ASSERT_NE(drive, nullptr);

  HostProcess host(HostLaunch{});
  std::unique_ptr<BridgeClient> client = host.Connect();
  const std::optional<EncodableValue> hello = client->WaitForHello(std::chrono::milliseconds(0));
  ASSERT_TRUE(hello.has_value());
  const auto& hello_map = std::get<EncodableMap>(*hello);
  ASSERT_NE(FindAs<EncodableList>(hello_map, "dartEntrypointArguments"), nullptr);
  EXPECT_TRUE(FindAs<EncodableList>(hello_map, "dartEntrypointArguments")->empty());

  ScanEvents scan(*client);
  ASSERT_EQ(Call(*client, cli::kScanChannel, "listen").kind, ReplyKind::kSuccess);
  const EncodableValue arguments = ScanArguments(drive->Letter());
  ASSERT_EQ(Call(*client, cli::kNativeChannel, "startScan", &arguments).kind, ReplyKind::kSuccess);
  scan.PumpUntil("batch");
  ASSERT_FALSE(scan.Has("completed")) << "the scan ended before the close request; the fixture is too small";
  client->SendCloseRequest();

  // The host drops the connection as it goes; events may arrive until then.
  const auto close_deadline = std::chrono::steady_clock::now() + kExitTimeout;
  try {
    while (std::chrono::steady_clock::now() < close_deadline) {
      client->Pump(kPumpSlice);
    }
  } catch (const cli::ConnectionError&) {
  }
  const std::optional<uint32_t> exit_code = host.WaitForExit(kExitTimeout);
  ASSERT_TRUE(exit_code.has_value()) << "the host did not end after the close request";
  EXPECT_EQ(*exit_code, 0u);
}

TEST(HostProcessTest, CloseRequestWhileTwoHundredWorkersAndAScanRunEndsCleanly) {
  const std::unique_ptr<DriveLetterMapping> drive = MapLargeFixture();
  ASSERT_NE(drive, nullptr);
  HostProcess host(HostLaunch{});
  std::unique_ptr<BridgeClient> client = host.Connect();
  ScanEvents scan(*client);
  ASSERT_EQ(Call(*client, cli::kScanChannel, "listen").kind, ReplyKind::kSuccess);
  const EncodableValue arguments = ScanArguments(drive->Letter());
  ASSERT_EQ(Call(*client, cli::kNativeChannel, "startScan", &arguments).kind, ReplyKind::kSuccess);
  scan.PumpUntil("batch");
  const EncodableValue absent_key(EncodableMap{{EncodableValue("key"), EncodableValue("host-test-never-stored")}});
  for (int index = 0; index < 200; ++index) {
    client->SendMethodCall(cli::kNativeChannel, "secureRead", &absent_key);
  }
  client->SendCloseRequest();

  // Replies and events may arrive until the host drops the connection as it goes.
  const auto close_deadline = std::chrono::steady_clock::now() + kExitTimeout;
  bool closed = false;
  try {
    while (std::chrono::steady_clock::now() < close_deadline) {
      client->Pump(kPumpSlice);
    }
  } catch (const cli::ConnectionError&) {
    closed = true;
  }
  EXPECT_TRUE(closed) << "the connection stayed open after the close request";
  const std::optional<uint32_t> exit_code = host.WaitForExit(kExitTimeout);
  ASSERT_TRUE(exit_code.has_value()) << "the host did not end after the close request";
  EXPECT_EQ(*exit_code, 0u);
  for (const std::string& line : host.OutputLines()) {
    EXPECT_EQ(line.find("nhandled"), std::string::npos) << "crash output: " << line;
    EXPECT_EQ(line.find("terminate called"), std::string::npos) << "crash output: " << line;
  }
}

// Started without a secret, or with a variable that holds none, the host makes its own: it names
// the file that holds it (never the secret), lets in only that secret, and removes the file as it
// ends.
TEST(HostProcessTest, AHostWithoutAValidSecretMakesOneTellsOnlyItsFileAndRemovesItAtTheEnd) {
  struct Case {
    const char* name;
    std::optional<std::string> variable;
  };
  const Case cases[] = {{"no variable", std::nullopt}, {"a variable that is no secret", "0123"}};
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.name);
    HostProcess host(HostLaunch{.secret_variable = test_case.variable});
    const std::optional<std::wstring> file = host.PublishedSecretPath();
    ASSERT_TRUE(file.has_value()) << "no line names the secret's file";
    const InterfaceSecret secret = host.Secret();
    const std::string digits = embedding::InterfaceSecretText(secret);
    // Where the Windows client's --port looks (this test process has no secret variable).
    EXPECT_EQ(embedding::InterfaceSecretText(cli::RunningHostSecret(host.WaitForPort())), digits);
    EXPECT_EQ(host.CountLinesContaining("PELMORA_INTERFACE_TOKEN is not 64 hexadecimal digits"),
              test_case.variable ? 1u : 0u);

    InterfaceSecret other = secret;
    other.front() ^= 0x80;
    {
      const std::unique_ptr<cli::Connection> stranger = cli::ConnectToLocalPort(host.WaitForPort());
      const std::string bytes = AuthenticationBytes(other);
      stranger->SendAll(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      EXPECT_TRUE(ClosedWithoutAWord(*stranger));
    }
    {
      std::unique_ptr<BridgeClient> client = host.Connect();
      EXPECT_EQ(Call(*client, cli::kNativeChannel, "getDrives").kind, ReplyKind::kSuccess);
      client->SendCloseRequest();
    }
    ASSERT_EQ(host.WaitForExit(kExitTimeout), std::optional<uint32_t>(0));
    EXPECT_FALSE(std::filesystem::exists(*file)) << "the secret's file outlived the host";
    for (const std::string& line : host.OutputLines()) {
      EXPECT_EQ(line.find(digits), std::string::npos) << "the secret on standard error: " << line;
    }
  }
}

TEST(HostProcessTest, MissingAssetsFolderEndsTheHostWithExitCodeOne) {
  // A copy of the executable in a folder without "data". The current folder is the built one,
  // which has "data": the engine must look beside the executable, not in the current folder.
  const std::wstring folder = CreateTemporaryFolder();
  const std::wstring executable = folder + L"\\pelmora.exe";
  CopyFileTo(HostExecutablePath(), executable);
  const std::wstring built_folder = HostExecutablePath().substr(0, HostExecutablePath().find_last_of(L'\\'));

  HostProcess host(HostLaunch{.executable = executable, .working_folder = built_folder});
  const std::optional<uint32_t> exit_code = host.WaitForExit(kExitTimeout);
  ASSERT_TRUE(exit_code.has_value()) << "the host did not end";
  EXPECT_EQ(*exit_code, 1u);
}

}  // namespace
}  // namespace pel_mora::host_test
