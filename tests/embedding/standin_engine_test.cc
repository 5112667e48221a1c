// The stand-in embedding in process, under Wine: the C calls as the host makes them, and the
// interface bridge driven by a real loopback TCP client inside the test. The test's own thread
// creates the engine, so it is the platform thread; it pumps its messages while it waits.

#include <gtest/gtest.h>

#include <iostream>
#include <thread>

#include "channel/byte_streams.h"
#include "channel/encodable_value.h"
#include "channel/flutter_embedding.h"
#include "channel/standard_codec_serializer.h"
#include "interface_client.h"

namespace pel_mora::embedding {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kBadFrameLine[] = "Interface bridge: closing the connection after a bad frame";

// What a message callback saw, and how it answers.
struct MessageLog {
  enum class Answer { kEchoReversed, kKeepHandle };
  Answer answer = Answer::kEchoReversed;
  int count = 0;
  DWORD thread_id = 0;
  std::string channel;
  Bytes payload;
  const FlutterDesktopMessageResponseHandle* response_handle = nullptr;
};

void LogMessage(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message, void* user_data) {
  auto* log = static_cast<MessageLog*>(user_data);
  ++log->count;
  log->thread_id = GetCurrentThreadId();
  log->channel = message->channel;
  log->payload.assign(message->message, message->message + message->message_size);
  log->response_handle = message->response_handle;
  if (log->answer == MessageLog::Answer::kEchoReversed) {
    const Bytes reversed(log->payload.rbegin(), log->payload.rend());
    FlutterDesktopMessengerSendResponse(messenger, message->response_handle, reversed.data(), reversed.size());
  }
}

// What a reply (or the next-frame callback) saw.
struct CallLog {
  int count = 0;
  DWORD thread_id = 0;
  Bytes payload;
};

void LogReply(const uint8_t* data, size_t data_size, void* user_data) {
  auto* log = static_cast<CallLog*>(user_data);
  ++log->count;
  log->thread_id = GetCurrentThreadId();
  log->payload.assign(data, data + data_size);
}

void LogCall(void* user_data) {
  auto* log = static_cast<CallLog*>(user_data);
  ++log->count;
  log->thread_id = GetCurrentThreadId();
}

flutter::EncodableValue Decode(const Bytes& bytes) {
  flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return flutter::StandardCodecSerializer::GetInstance().ReadValue(&reader);
}

// The secret the tests hand the engine, as whoever starts the host does.
InterfaceSecret TestSecret() {
  InterfaceSecret secret{};
  for (size_t index = 0; index < secret.size(); ++index) {
    secret[index] = static_cast<uint8_t>(0x3C + index * 7);
  }
  return secret;
}

std::wstring TestSecretVariable() {
  const std::string text = InterfaceSecretText(TestSecret());
  return std::wstring(text.begin(), text.end());
}

// Sets an environment variable for the life of the object.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    SetEnvironmentVariableW(name_, value);
  }
  ~ScopedEnvironmentVariable() { SetEnvironmentVariableW(name_, nullptr); }

 private:
  const wchar_t* name_;
};

// The engine's start-up description, as the host fills it, with an assets path of the test's
// choosing.
class EngineProject {
 public:
  explicit EngineProject(std::wstring assets_path) : assets_path_(std::move(assets_path)) {
    properties_.assets_path = assets_path_.c_str();
    properties_.icu_data_path = L"data\\icudtl.dat";
    properties_.aot_library_path = L"data\\app.so";
    properties_.dart_entrypoint = "main";
    properties_.dart_entrypoint_argc = static_cast<int>(std::size(arguments_));
    properties_.dart_entrypoint_argv = arguments_;
  }
  const FlutterDesktopEngineProperties* properties() const { return &properties_; }

 private:
  std::wstring assets_path_;
  const char* arguments_[3] = {"--verbose", "two words", "\xC3\xA9t\xC3\xA9"};
  FlutterDesktopEngineProperties properties_{};
};

// A fixture folder, with standard error captured into it.
class CapturedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = NewFixtureFolder();
    capture_ = std::make_unique<StderrCapture>(folder_ + L"\\stderr.txt");
  }

  void TearDown() override {
    const std::string diagnostics = capture_->Text();
    capture_.reset();
    if (HasFailure()) {
      std::cout << "Standard error during the test:\n" << diagnostics << std::endl;
    }
  }

  std::wstring folder_;
  std::unique_ptr<StderrCapture> capture_;
};

// A running engine with its view, as the host window has it after start-up.
class StandInEngineTest : public CapturedTest {
 protected:
  void SetUp() override {
    CapturedTest::SetUp();
    assets_path_ = folder_ + L"\\data\\flutter_assets";
    ASSERT_TRUE(CreateFolders(assets_path_));
    const ScopedEnvironmentVariable secret(L"PELMORA_INTERFACE_TOKEN", TestSecretVariable().c_str());
    const EngineProject project(assets_path_);
    engine_ = FlutterDesktopEngineCreate(project.properties());
    ASSERT_NE(engine_, nullptr);
    messenger_ = FlutterDesktopEngineGetMessenger(engine_);
    controller_ = FlutterDesktopViewControllerCreate(320, 200, engine_);
    ASSERT_NE(controller_, nullptr);
    port_ = ListeningPort(capture_->Text());
    ASSERT_NE(port_, 0);
  }

  void TearDown() override {
    DestroyController();
    CapturedTest::TearDown();
  }

  void DestroyController() {
    if (controller_ != nullptr) {
      FlutterDesktopViewControllerDestroy(std::exchange(controller_, nullptr));
      engine_ = nullptr;
    }
  }

  std::unique_ptr<InterfaceClient> ConnectAndReadHello() {
    std::unique_ptr<InterfaceClient> client = InterfaceClient::Connect(port_);
    if (!client || !client->Authenticate(TestSecret())) {
      ADD_FAILURE() << "cannot connect to port " << port_;
      return nullptr;
    }
    const std::optional<Frame> hello = client->ReadFrame();
    if (!hello || hello->kind != FrameKind::kHello) {
      ADD_FAILURE() << "the connection did not start with a hello";
      return nullptr;
    }
    return client;
  }

  // One platform message there and its response back: the connection works end to end.
  void ExpectRoundTrip(InterfaceClient* client, uint32_t id) {
    MessageLog log;
    FlutterDesktopMessengerSetCallback(messenger_, "test/round-trip", LogMessage, &log);
    ASSERT_TRUE(client->WriteFrame(FrameKind::kPlatformMessage, id, "test/round-trip", {1, 2, 3}));
    const std::optional<Frame> response = client->ReadFrame();
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->kind, FrameKind::kPlatformResponse);
    EXPECT_EQ(response->id, id);
    EXPECT_EQ(response->payload, (Bytes{3, 2, 1}));
    FlutterDesktopMessengerSetCallback(messenger_, "test/round-trip", nullptr, nullptr);
  }

  // Whether the bridge has an interface connected, seen the way a plugin sees it: a send is
  // accepted only then.
  bool InterfaceConnected() {
    return FlutterDesktopMessengerSend(messenger_, "test/probe", nullptr, 0);
  }

  std::wstring assets_path_;
  FlutterDesktopEngineRef engine_ = nullptr;
  FlutterDesktopMessengerRef messenger_ = nullptr;
  FlutterDesktopViewControllerRef controller_ = nullptr;
  uint16_t port_ = 0;
};

// ---- Engine creation ----

using EngineCreationTest = CapturedTest;

TEST_F(EngineCreationTest, FailsWithoutTheAssetsFolder) {
  ASSERT_TRUE(CreateFolders(folder_ + L"\\data"));
  const EngineProject project(folder_ + L"\\data\\flutter_assets");
  EXPECT_EQ(FlutterDesktopEngineCreate(project.properties()), nullptr);
  EXPECT_EQ(capture_->CountLinesContaining("does not exist"), 1);
}

TEST_F(EngineCreationTest, AbsoluteAssetsPathIsTakenAsItIs) {
  ASSERT_TRUE(CreateFolders(folder_ + L"\\data\\flutter_assets"));
  const EngineProject project(folder_ + L"\\data\\flutter_assets");
  const FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(project.properties());
  ASSERT_NE(engine, nullptr);
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
}

// The current folder is not where a relative assets path is looked up: the executable's is.
TEST_F(EngineCreationTest, RelativeAssetsPathIsLookedUpBesideTheExecutable) {
  ASSERT_TRUE(CreateFolders(folder_ + L"\\data\\flutter_assets"));
  wchar_t previous_folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous_folder);
  ASSERT_TRUE(SetCurrentDirectoryW(folder_.c_str()));
  const EngineProject project(L"data\\flutter_assets");
  const FlutterDesktopEngineRef from_current_folder = FlutterDesktopEngineCreate(project.properties());
  SetCurrentDirectoryW(previous_folder);
  EXPECT_EQ(from_current_folder, nullptr);

  // Beside the executable (the build tree's test folder), made for this test and removed again.
  wchar_t executable[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, executable, MAX_PATH);
  std::wstring executable_folder(executable);
  executable_folder.resize(executable_folder.find_last_of(L'\\'));
  const std::wstring data = executable_folder + L"\\data";
  const std::wstring assets = data + L"\\flutter_assets";
  const bool made_data = CreateDirectoryW(data.c_str(), nullptr) != FALSE;
  const bool made_assets = CreateDirectoryW(assets.c_str(), nullptr) != FALSE;
  const FlutterDesktopEngineRef beside_executable = FlutterDesktopEngineCreate(project.properties());
  EXPECT_NE(beside_executable, nullptr);
  FlutterDesktopEngineDestroy(beside_executable);
  if (made_assets) {
    RemoveDirectoryW(assets.c_str());
  }
  if (made_data) {
    RemoveDirectoryW(data.c_str());
  }
}

TEST_F(EngineCreationTest, BridgeListensOnThePortTheEnvironmentNames) {
  // A port that is free now: bound once by the system's choice, then given back.
  uint16_t free_port = 0;
  {
    WinsockSession winsock;
    SocketHandle probe(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    int size = sizeof(address);
    ASSERT_EQ(getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &size), 0);
    free_port = ntohs(address.sin_port);
  }
  const ScopedEnvironmentVariable port_variable(L"PELMORA_INTERFACE_PORT", std::to_wstring(free_port).c_str());
  const ScopedEnvironmentVariable secret(L"PELMORA_INTERFACE_TOKEN", TestSecretVariable().c_str());
  ASSERT_TRUE(CreateFolders(folder_ + L"\\data\\flutter_assets"));
  const EngineProject project(folder_ + L"\\data\\flutter_assets");
  const FlutterDesktopViewControllerRef controller =
      FlutterDesktopViewControllerCreate(100, 100, FlutterDesktopEngineCreate(project.properties()));
  ASSERT_NE(controller, nullptr);
  EXPECT_EQ(ListeningPort(capture_->Text()), free_port);
  std::unique_ptr<InterfaceClient> client = InterfaceClient::Connect(free_port);
  ASSERT_NE(client, nullptr);
  ASSERT_TRUE(client->Authenticate(TestSecret()));
  const std::optional<Frame> hello = client->ReadFrame();
  ASSERT_TRUE(hello.has_value());
  EXPECT_EQ(hello->kind, FrameKind::kHello);
  FlutterDesktopViewControllerDestroy(controller);
}

TEST_F(EngineCreationTest, InvalidPortInTheEnvironmentTakesAnEphemeralOne) {
  const ScopedEnvironmentVariable port_variable(L"PELMORA_INTERFACE_PORT", L"70000");
  ASSERT_TRUE(CreateFolders(folder_ + L"\\data\\flutter_assets"));
  const EngineProject project(folder_ + L"\\data\\flutter_assets");
  const FlutterDesktopViewControllerRef controller =
      FlutterDesktopViewControllerCreate(100, 100, FlutterDesktopEngineCreate(project.properties()));
  ASSERT_NE(controller, nullptr);
  const uint16_t port = ListeningPort(capture_->Text());
  ASSERT_NE(port, 0);
  EXPECT_NE(InterfaceClient::Connect(port), nullptr);
  FlutterDesktopViewControllerDestroy(controller);
}

// ---- Hello and platform messages ----

TEST_F(StandInEngineTest, EveryConnectionStartsWithAHelloDescribingTheEngine) {
  EXPECT_EQ(capture_->CountLinesContaining("Interface bridge listening on 127.0.0.1:"), 1);
  std::unique_ptr<InterfaceClient> client = InterfaceClient::Connect(port_);
  ASSERT_NE(client, nullptr);
  ASSERT_TRUE(client->Authenticate(TestSecret()));
  const std::optional<Frame> hello = client->ReadFrame();
  ASSERT_TRUE(hello.has_value());
  EXPECT_EQ(hello->kind, FrameKind::kHello);
  EXPECT_EQ(hello->id, 0u);
  EXPECT_EQ(hello->channel, "");

  std::string assets_path;
  for (const wchar_t character : assets_path_) {
    // The fixture path is plain ASCII.
    assets_path.push_back(static_cast<char>(character));
  }
  const flutter::EncodableValue expected(flutter::EncodableMap{
      {flutter::EncodableValue("dartEntrypoint"), flutter::EncodableValue("main")},
      {flutter::EncodableValue("dartEntrypointArguments"),
       flutter::EncodableValue(flutter::EncodableList{flutter::EncodableValue("--verbose"),
                                                      flutter::EncodableValue("two words"),
                                                      flutter::EncodableValue("\xC3\xA9t\xC3\xA9")})},
      {flutter::EncodableValue("assetsPath"), flutter::EncodableValue(assets_path)},
      {flutter::EncodableValue("icuDataPath"), flutter::EncodableValue("data\\icudtl.dat")},
      {flutter::EncodableValue("aotLibraryPath"), flutter::EncodableValue("data\\app.so")},
  });
  EXPECT_EQ(Decode(hello->payload), expected);
}

// Nothing the host starts later (an uninstaller, an opened document) inherits the secret.
TEST_F(EngineCreationTest, TheSecretLeavesTheProcessEnvironmentAsTheEngineRuns) {
  const ScopedEnvironmentVariable secret(L"PELMORA_INTERFACE_TOKEN", TestSecretVariable().c_str());
  ASSERT_TRUE(CreateFolders(folder_ + L"\\data\\flutter_assets"));
  const EngineProject project(folder_ + L"\\data\\flutter_assets");
  const FlutterDesktopViewControllerRef controller =
      FlutterDesktopViewControllerCreate(100, 100, FlutterDesktopEngineCreate(project.properties()));
  ASSERT_NE(controller, nullptr);
  wchar_t value[128] = {};
  EXPECT_EQ(GetEnvironmentVariableW(L"PELMORA_INTERFACE_TOKEN", value, 128), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
  FlutterDesktopViewControllerDestroy(controller);
}

// A message sent before the secret never reaches its callback, and no hello comes back.
TEST_F(StandInEngineTest, AMessageBeforeTheSecretReachesNoCallback) {
  MessageLog log;
  FlutterDesktopMessengerSetCallback(messenger_, "com.pelmora.app/native", LogMessage, &log);
  std::unique_ptr<InterfaceClient> stranger = InterfaceClient::Connect(port_);
  ASSERT_NE(stranger, nullptr);
  ASSERT_TRUE(stranger->WriteFrame(FrameKind::kPlatformMessage, 5, "com.pelmora.app/native", {1}));
  ASSERT_TRUE(stranger->Authenticate(TestSecret()));
  EXPECT_TRUE(stranger->WaitUntilClosed());
  PumpMessages();
  EXPECT_EQ(log.count, 0);
  EXPECT_EQ(capture_->CountLinesContaining("the first frame is kind 1, not the authentication frame"), 1);
  // The next interface, with the secret, is served.
  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);
  ExpectRoundTrip(client.get(), 26);
}

TEST_F(StandInEngineTest, PlatformMessageReachesItsCallbackOnThePlatformThreadAndIsAnsweredWithItsId) {
  MessageLog log;
  FlutterDesktopMessengerSetCallback(messenger_, "com.pelmora.app/native", LogMessage, &log);
  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);

  ASSERT_TRUE(client->WriteFrame(FrameKind::kPlatformMessage, 77, "com.pelmora.app/native", {10, 20, 30}));
  const std::optional<Frame> response = client->ReadFrame();
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(log.count, 1);
  EXPECT_EQ(log.thread_id, GetCurrentThreadId());
  EXPECT_EQ(log.channel, "com.pelmora.app/native");
  EXPECT_EQ(log.payload, (Bytes{10, 20, 30}));
  EXPECT_EQ(response->kind, FrameKind::kPlatformResponse);
  EXPECT_EQ(response->id, 77u);
  EXPECT_EQ(response->channel, "");
  EXPECT_EQ(response->payload, (Bytes{30, 20, 10}));
}

TEST_F(StandInEngineTest, MessagesAreDeliveredAndAnsweredInTheOrderTheyArrive) {
  MessageLog log;
  FlutterDesktopMessengerSetCallback(messenger_, "test/order", LogMessage, &log);
  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);
  // All in one write, so they arrive together.
  Bytes burst;
  for (uint32_t id = 1; id <= 50; ++id) {
    const std::optional<Bytes> frame =
        BuildFrame(FrameKind::kPlatformMessage, id, "test/order", reinterpret_cast<const uint8_t*>(&id), 1);
    burst.insert(burst.end(), frame->begin(), frame->end());
  }
  ASSERT_TRUE(client->Write(burst));
  for (uint32_t id = 1; id <= 50; ++id) {
    const std::optional<Frame> response = client->ReadFrame();
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->id, id);
    EXPECT_EQ(response->payload, Bytes{static_cast<uint8_t>(id)});
  }
}

TEST_F(StandInEngineTest, LargeMessagesCrossInBothDirectionsIntact) {
  MessageLog log;
  FlutterDesktopMessengerSetCallback(messenger_, "test/large", LogMessage, &log);
  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);
  Bytes payload(3 * 1024 * 1024 + 7);
  for (size_t index = 0; index < payload.size(); ++index) {
    payload[index] = static_cast<uint8_t>(index * 31 + index / 256);
  }
  ASSERT_TRUE(client->WriteFrame(FrameKind::kPlatformMessage, 5, "test/large", payload));
  const std::optional<Frame> response = client->ReadFrame();
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(log.payload, payload);
  EXPECT_EQ(response->payload, Bytes(payload.rbegin(), payload.rend()));
}

TEST_F(StandInEngineTest, ResponseMayComeFromAnotherThreadAndOnlyTheFirstIsSent) {
  MessageLog log;
  log.answer = MessageLog::Answer::kKeepHandle;
  FlutterDesktopMessengerSetCallback(messenger_, "test/later", LogMessage, &log);
  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);
  ASSERT_TRUE(client->WriteFrame(FrameKind::kPlatformMessage, 5, "test/later", {}));
  ASSERT_TRUE(PumpMessagesUntil([&] { return log.count == 1; }));

  // As a worker thread answers: under the messenger lock, after checking the engine is there.
  std::thread worker([this, handle = log.response_handle] {
    const FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger_);
    if (FlutterDesktopMessengerIsAvailable(messenger_)) {
      const Bytes first = {1, 2, 3};
      const Bytes second = {9};
      FlutterDesktopMessengerSendResponse(messenger_, handle, first.data(), first.size());
      FlutterDesktopMessengerSendResponse(messenger_, handle, second.data(), second.size());
    }
    if (locked != nullptr) {
      FlutterDesktopMessengerUnlock(messenger_);
    }
  });
  worker.join();

  log.answer = MessageLog::Answer::kEchoReversed;
  ASSERT_TRUE(client->WriteFrame(FrameKind::kPlatformMessage, 6, "test/later", {4}));
  const std::optional<Frame> first = client->ReadFrame();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->id, 5u);
  EXPECT_EQ(first->payload, (Bytes{1, 2, 3}));
  // Next comes the answer to message 6, not a second answer to message 5.
  const std::optional<Frame> second = client->ReadFrame();
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->id, 6u);
}

TEST_F(StandInEngineTest, ResponseToAMessageOfAnEndedConnectionNeverReachesTheNextOne) {
  MessageLog log;
  log.answer = MessageLog::Answer::kKeepHandle;
  FlutterDesktopMessengerSetCallback(messenger_, "test/slow", LogMessage, &log);
  std::unique_ptr<InterfaceClient> first = ConnectAndReadHello();
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(first->WriteFrame(FrameKind::kPlatformMessage, 41, "test/slow", {}));
  ASSERT_TRUE(PumpMessagesUntil([&] { return log.count == 1; }));
  first.reset();
  ASSERT_TRUE(PumpMessagesUntil([&] { return !InterfaceConnected(); }));
  std::unique_ptr<InterfaceClient> second = ConnectAndReadHello();
  ASSERT_NE(second, nullptr);

  const Bytes late = {4, 1};
  FlutterDesktopMessengerSendResponse(messenger_, log.response_handle, late.data(), late.size());
  // The next frame the new interface sees is its own round trip, not the stale response.
  ExpectRoundTrip(second.get(), 42);
}

TEST_F(StandInEngineTest, MessageWithoutACallbackGetsAnEmptyResponse) {
  MessageLog log;
  FlutterDesktopMessengerSetCallback(messenger_, "test/removed", LogMessage, &log);
  FlutterDesktopMessengerSetCallback(messenger_, "test/removed", nullptr, nullptr);
  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);

  const struct {
    uint32_t id;
    const char* channel;
  } cases[] = {{11, "test/never-registered"}, {12, "test/removed"}, {13, ""}};
  for (const auto& test_case : cases) {
    ASSERT_TRUE(client->WriteFrame(FrameKind::kPlatformMessage, test_case.id, test_case.channel, {1}));
    const std::optional<Frame> response = client->ReadFrame();
    ASSERT_TRUE(response.has_value()) << test_case.channel;
    EXPECT_EQ(response->kind, FrameKind::kPlatformResponse);
    EXPECT_EQ(response->id, test_case.id);
    EXPECT_TRUE(response->payload.empty());
  }
  EXPECT_EQ(log.count, 0);
}

// ---- Messages from the host ----

TEST_F(StandInEngineTest, SendWithoutReplyIsAHostMessageWithIdZero) {
  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);
  const Bytes event = {0, 7, 1, 2};
  ASSERT_TRUE(FlutterDesktopMessengerSend(messenger_, "com.pelmora.app/scan", event.data(), event.size()));
  // The empty message that ends a stream.
  ASSERT_TRUE(FlutterDesktopMessengerSend(messenger_, "com.pelmora.app/scan", nullptr, 0));

  const std::optional<Frame> first = client->ReadFrame();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->kind, FrameKind::kHostMessage);
  EXPECT_EQ(first->id, 0u);
  EXPECT_EQ(first->channel, "com.pelmora.app/scan");
  EXPECT_EQ(first->payload, event);
  const std::optional<Frame> second = client->ReadFrame();
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->id, 0u);
  EXPECT_TRUE(second->payload.empty());
}

TEST_F(StandInEngineTest, SendFromAWorkerThreadDoesNotWaitForThePlatformThread) {
  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);
  // The platform thread is not pumping while the worker sends: the frame goes out anyway.
  std::thread worker([this] {
    const Bytes event = {5};
    FlutterDesktopMessengerSend(messenger_, "test/worker", event.data(), event.size());
  });
  worker.join();
  const std::optional<Frame> frame = client->ReadFrame();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->channel, "test/worker");
}

TEST_F(StandInEngineTest, ReplyArrivesOnceOnThePlatformThread) {
  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);
  CallLog first_reply;
  CallLog second_reply;
  const Bytes message = {1};
  ASSERT_TRUE(FlutterDesktopMessengerSendWithReply(messenger_, "test/ask", message.data(), message.size(), LogReply,
                                                   &first_reply));
  ASSERT_TRUE(FlutterDesktopMessengerSendWithReply(messenger_, "test/ask", message.data(), message.size(), LogReply,
                                                   &second_reply));
  const std::optional<Frame> first = client->ReadFrame();
  const std::optional<Frame> second = client->ReadFrame();
  ASSERT_TRUE(first.has_value() && second.has_value());
  EXPECT_EQ(first->kind, FrameKind::kHostMessage);
  EXPECT_NE(first->id, 0u);
  EXPECT_NE(second->id, 0u);
  EXPECT_NE(first->id, second->id);

  // Answered out of order, the second one twice.
  ASSERT_TRUE(client->WriteFrame(FrameKind::kHostMessageResponse, second->id, "", {2, 2}));
  ASSERT_TRUE(client->WriteFrame(FrameKind::kHostMessageResponse, second->id, "", {3}));
  ASSERT_TRUE(client->WriteFrame(FrameKind::kHostMessageResponse, first->id, "", {1, 1}));
  ASSERT_TRUE(PumpMessagesUntil([&] { return first_reply.count == 1; }));
  EXPECT_EQ(first_reply.payload, (Bytes{1, 1}));
  EXPECT_EQ(first_reply.thread_id, GetCurrentThreadId());
  EXPECT_EQ(second_reply.count, 1);
  EXPECT_EQ(second_reply.payload, (Bytes{2, 2}));
  EXPECT_EQ(capture_->CountLinesContaining("not waiting for one"), 1);
}

TEST_F(StandInEngineTest, ReplyStillWaitingWhenTheInterfaceDisconnectsGetsAnEmptyResponse) {
  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);
  CallLog reply;
  const Bytes message = {1};
  ASSERT_TRUE(
      FlutterDesktopMessengerSendWithReply(messenger_, "test/ask", message.data(), message.size(), LogReply, &reply));
  ASSERT_TRUE(client->ReadFrame().has_value());
  client.reset();
  ASSERT_TRUE(PumpMessagesUntil([&] { return reply.count > 0; }));
  EXPECT_EQ(reply.count, 1);
  EXPECT_TRUE(reply.payload.empty());
  EXPECT_EQ(reply.thread_id, GetCurrentThreadId());
}

TEST_F(StandInEngineTest, MessagesWhileNoInterfaceIsConnectedAreDropped) {
  CallLog reply;
  const Bytes message = {42};
  EXPECT_FALSE(FlutterDesktopMessengerSend(messenger_, "test/dropped", message.data(), message.size()));
  EXPECT_FALSE(FlutterDesktopMessengerSendWithReply(messenger_, "test/dropped", message.data(), message.size(),
                                                    LogReply, &reply));

  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);
  ASSERT_TRUE(FlutterDesktopMessengerSend(messenger_, "test/after", message.data(), message.size()));
  const std::optional<Frame> frame = client->ReadFrame();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->channel, "test/after");
  PumpMessages();
  EXPECT_EQ(reply.count, 0);
}

// ---- Connections ----

TEST_F(StandInEngineTest, SecondConnectionIsClosedAtOnceAndTheFirstCarriesOn) {
  std::unique_ptr<InterfaceClient> first = ConnectAndReadHello();
  ASSERT_NE(first, nullptr);
  std::unique_ptr<InterfaceClient> second = InterfaceClient::Connect(port_);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->WaitUntilClosed());
  ExpectRoundTrip(first.get(), 21);
}

TEST_F(StandInEngineTest, NextInterfaceIsAcceptedAfterADisconnect) {
  std::unique_ptr<InterfaceClient> first = ConnectAndReadHello();
  ASSERT_NE(first, nullptr);
  first.reset();
  ASSERT_TRUE(PumpMessagesUntil([&] { return !InterfaceConnected(); }));
  std::unique_ptr<InterfaceClient> second = ConnectAndReadHello();
  ASSERT_NE(second, nullptr);
  ExpectRoundTrip(second.get(), 22);
}

TEST_F(StandInEngineTest, BadFrameEndsOnlyItsConnectionAfterOneDiagnosticLine) {
  const struct {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"shorter than its header", Bytes{3, 0, 0, 0, 1, 0, 0}},
      {"over the limit", Bytes{0x01, 0x00, 0x00, 0x04}},
      {"unknown kind", *BuildFrame(static_cast<FrameKind>(9), 1, "", nullptr, 0)},
      {"a kind only the host sends", *BuildFrame(FrameKind::kPlatformResponse, 1, "", nullptr, 0)},
      {"platform message with id 0", *BuildFrame(FrameKind::kPlatformMessage, 0, "c", nullptr, 0)},
      {"channel longer than the frame", Bytes{8, 0, 0, 0, 1, 1, 0, 0, 0, 5, 0, 'a'}},
  };
  int expected_lines = 0;
  for (const auto& test_case : cases) {
    SCOPED_TRACE(test_case.name);
    std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(client->Write(test_case.bytes));
    EXPECT_TRUE(client->WaitUntilClosed());
    EXPECT_EQ(capture_->CountLinesContaining(kBadFrameLine), ++expected_lines);
    ASSERT_TRUE(PumpMessagesUntil([&] { return !InterfaceConnected(); }));
  }
  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);
  ExpectRoundTrip(client.get(), 23);
}

// ---- Close request ----

struct CloseLog {
  int close_messages = 0;
};

LRESULT CALLBACK CountCloseMessages(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CLOSE) {
    auto* log = reinterpret_cast<CloseLog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    ++log->close_messages;
    // Kept open, so the test decides when the window goes.
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST_F(StandInEngineTest, CloseRequestPostsWmCloseToTheTopLevelWindowHoldingTheView) {
  static const ATOM window_class = [] {
    WNDCLASSEXW description{};
    description.cbSize = sizeof(description);
    description.lpfnWndProc = CountCloseMessages;
    description.hInstance = GetModuleHandleW(nullptr);
    description.lpszClassName = L"PELMORA_EMBEDDING_TEST_TOP_LEVEL";
    return RegisterClassExW(&description);
  }();
  ASSERT_NE(window_class, 0);
  CloseLog log;
  WindowHandle top_level(CreateWindowExW(0, L"PELMORA_EMBEDDING_TEST_TOP_LEVEL", L"Test", WS_OVERLAPPEDWINDOW, 0,
                                         0, 400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  ASSERT_NE(top_level.get(), nullptr);
  SetWindowLongPtrW(top_level.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&log));
  const HWND view = FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller_));
  ASSERT_NE(view, nullptr);

  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);
  // Before the host adopts the view there is no window to close.
  ASSERT_TRUE(client->WriteFrame(FrameKind::kCloseRequest, 0, "", {}));
  ASSERT_TRUE(PumpMessagesUntil([&] { return capture_->CountLinesContaining("ignoring a close request") == 1; }));

  // The view sits one level down, inside a child pane: the close goes to the root window only.
  CloseLog pane_log;
  const HWND pane = CreateWindowExW(0, L"PELMORA_EMBEDDING_TEST_TOP_LEVEL", L"", WS_CHILD, 0, 0, 400, 300,
                                    top_level.get(), nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(pane, nullptr);
  SetWindowLongPtrW(pane, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&pane_log));
  SetParent(view, pane);
  EXPECT_EQ(GetAncestor(view, GA_ROOT), top_level.get());
  ASSERT_TRUE(client->WriteFrame(FrameKind::kCloseRequest, 0, "", {}));
  ASSERT_TRUE(PumpMessagesUntil([&] { return log.close_messages > 0; }));
  EXPECT_EQ(log.close_messages, 1);
  EXPECT_EQ(pane_log.close_messages, 0);
  // The connection stays open: closing is the host window's business.
  ExpectRoundTrip(client.get(), 24);

  // The host window goes first, taking the view window with it, as it does at shut-down.
  top_level.Reset();
  EXPECT_EQ(FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller_)), nullptr);
}

// ---- Engine end ----

TEST_F(StandInEngineTest, AfterEngineDestructionTheMessengerIsUnavailableAndDropsSends) {
  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);
  MessageLog message_log;
  message_log.answer = MessageLog::Answer::kKeepHandle;
  FlutterDesktopMessengerSetCallback(messenger_, "test/kept", LogMessage, &message_log);
  ASSERT_TRUE(client->WriteFrame(FrameKind::kPlatformMessage, 31, "test/kept", {}));
  ASSERT_TRUE(PumpMessagesUntil([&] { return message_log.count == 1; }));
  CallLog waiting_reply;
  const Bytes message = {1};
  ASSERT_TRUE(FlutterDesktopMessengerSendWithReply(messenger_, "test/ask", message.data(), message.size(), LogReply,
                                                   &waiting_reply));

  // What a pending reply closure holds: its own reference to the messenger.
  const FlutterDesktopMessengerRef kept = FlutterDesktopMessengerAddRef(messenger_);
  ASSERT_TRUE(FlutterDesktopMessengerIsAvailable(kept));
  DestroyController();

  EXPECT_EQ(waiting_reply.count, 1);
  EXPECT_TRUE(waiting_reply.payload.empty());
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(kept));
  EXPECT_FALSE(FlutterDesktopMessengerSend(kept, "test/late", message.data(), message.size()));
  CallLog late_reply;
  EXPECT_FALSE(
      FlutterDesktopMessengerSendWithReply(kept, "test/late", message.data(), message.size(), LogReply, &late_reply));
  // A response produced after the end, as a worker would try it, does nothing.
  EXPECT_EQ(FlutterDesktopMessengerLock(kept), kept);
  FlutterDesktopMessengerSendResponse(kept, message_log.response_handle, message.data(), message.size());
  FlutterDesktopMessengerUnlock(kept);
  FlutterDesktopMessengerRelease(kept);
  PumpMessages();
  EXPECT_EQ(late_reply.count, 0);

  // The interface sees the kind-3 message sent before the end, then the connection close.
  const std::optional<Frame> before_end = client->ReadFrame();
  ASSERT_TRUE(before_end.has_value());
  EXPECT_EQ(before_end->channel, "test/ask");
  EXPECT_TRUE(client->WaitUntilClosed());
}

// ---- Frames ----

TEST_F(StandInEngineTest, NextFrameCallbackRunsOnceOnThePlatformThread) {
  CallLog first;
  FlutterDesktopEngineSetNextFrameCallback(engine_, LogCall, &first);
  FlutterDesktopViewControllerForceRedraw(controller_);
  ASSERT_TRUE(PumpMessagesUntil([&] { return first.count > 0; }));
  EXPECT_EQ(first.thread_id, GetCurrentThreadId());

  // Later frames do not call it again. A round trip through the bridge is posted to the
  // platform thread after the redraws, so once it is back the frames have been drawn.
  FlutterDesktopViewControllerForceRedraw(controller_);
  FlutterDesktopViewControllerForceRedraw(controller_);
  std::unique_ptr<InterfaceClient> client = ConnectAndReadHello();
  ASSERT_NE(client, nullptr);
  ExpectRoundTrip(client.get(), 51);
  EXPECT_EQ(first.count, 1);

  // A callback set later gets the next frame.
  CallLog second;
  FlutterDesktopEngineSetNextFrameCallback(engine_, LogCall, &second);
  FlutterDesktopViewControllerForceRedraw(controller_);
  ASSERT_TRUE(PumpMessagesUntil([&] { return second.count > 0; }));
  EXPECT_EQ(first.count, 1);
  EXPECT_EQ(second.count, 1);
}

TEST_F(StandInEngineTest, FirstFrameIsDrawnWithoutAskingOnceTheViewExists) {
  CallLog frame;
  FlutterDesktopEngineSetNextFrameCallback(engine_, LogCall, &frame);
  EXPECT_TRUE(PumpMessagesUntil([&] { return frame.count == 1; }));
}

TEST_F(StandInEngineTest, ViewIsARealChildWindowOfTheRequestedSize) {
  const HWND view = FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller_));
  ASSERT_TRUE(IsWindow(view));
  EXPECT_NE(GetWindowLongPtrW(view, GWL_STYLE) & WS_CHILD, 0);
  RECT client{};
  ASSERT_TRUE(GetClientRect(view, &client));
  EXPECT_EQ(client.right - client.left, 320);
  EXPECT_EQ(client.bottom - client.top, 200);
  LRESULT result = 0;
  EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(controller_, view, WM_SIZE, 0, 0, &result));
}

// ---- Registrars, textures, DPI ----

TEST_F(StandInEngineTest, RegistrarsGiveTheEngineMessengerAndView) {
  const FlutterDesktopPluginRegistrarRef registrar =
      FlutterDesktopEngineGetPluginRegistrar(engine_, "PelmoraPlugin");
  ASSERT_NE(registrar, nullptr);
  EXPECT_EQ(FlutterDesktopEngineGetPluginRegistrar(engine_, "PelmoraPlugin"), registrar);
  EXPECT_EQ(FlutterDesktopPluginRegistrarGetMessenger(registrar), messenger_);
  EXPECT_EQ(FlutterDesktopPluginRegistrarGetView(registrar), FlutterDesktopViewControllerGetView(controller_));
  EXPECT_NE(FlutterDesktopRegistrarGetTextureRegistrar(registrar), nullptr);
  // The URL-launcher stand-in accepts its registrar and registers nothing.
  UrlLauncherWindowsRegisterWithRegistrar(FlutterDesktopEngineGetPluginRegistrar(engine_, "UrlLauncherWindows"));
}

TEST_F(EngineCreationTest, RegistrarOfAnEngineWithoutViewHasNoView) {
  ASSERT_TRUE(CreateFolders(folder_ + L"\\data\\flutter_assets"));
  const EngineProject project(folder_ + L"\\data\\flutter_assets");
  const FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(project.properties());
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(FlutterDesktopPluginRegistrarGetView(FlutterDesktopEngineGetPluginRegistrar(engine, "Any")), nullptr);
  FlutterDesktopEngineDestroy(engine);
}

const FlutterDesktopPixelBuffer* NoPixels(size_t /*width*/, size_t /*height*/, void* /*user_data*/) {
  return nullptr;
}

const FlutterDesktopGpuSurfaceDescriptor* NoSurface(size_t /*width*/, size_t /*height*/, void* /*user_data*/) {
  return nullptr;
}

TEST_F(StandInEngineTest, TexturesGetIdsAndUnregisteringCallsBackOnce) {
  const FlutterDesktopTextureRegistrarRef textures =
      FlutterDesktopRegistrarGetTextureRegistrar(FlutterDesktopEngineGetPluginRegistrar(engine_, "Textures"));
  FlutterDesktopTextureInfo pixels{};
  pixels.type = kFlutterDesktopPixelBufferTexture;
  pixels.pixel_buffer_config.callback = NoPixels;
  FlutterDesktopTextureInfo surface{};
  surface.type = kFlutterDesktopGpuSurfaceTexture;
  surface.gpu_surface_config.struct_size = sizeof(FlutterDesktopGpuSurfaceTextureConfig);
  surface.gpu_surface_config.callback = NoSurface;
  FlutterDesktopTextureInfo without_callback{};
  without_callback.type = kFlutterDesktopPixelBufferTexture;
  FlutterDesktopTextureInfo unknown{};
  unknown.type = static_cast<FlutterDesktopTextureType>(7);

  const int64_t first = FlutterDesktopTextureRegistrarRegisterExternalTexture(textures, &pixels);
  const int64_t second = FlutterDesktopTextureRegistrarRegisterExternalTexture(textures, &surface);
  EXPECT_GE(first, 0);
  EXPECT_GE(second, 0);
  EXPECT_NE(first, second);
  EXPECT_EQ(FlutterDesktopTextureRegistrarRegisterExternalTexture(textures, &without_callback), -1);
  EXPECT_EQ(FlutterDesktopTextureRegistrarRegisterExternalTexture(textures, &unknown), -1);
  EXPECT_EQ(FlutterDesktopTextureRegistrarRegisterExternalTexture(textures, nullptr), -1);

  EXPECT_TRUE(FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(textures, first));
  CallLog unregistered;
  FlutterDesktopTextureRegistrarUnregisterExternalTexture(textures, first, LogCall, &unregistered);
  EXPECT_EQ(unregistered.count, 1);
  EXPECT_FALSE(FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(textures, first));
  EXPECT_TRUE(FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(textures, second));
  FlutterDesktopTextureRegistrarUnregisterExternalTexture(textures, second, nullptr, nullptr);
}

TEST(MonitorDpiTest, RealMonitorHasADpiAndNoMonitorMeansNinetySix) {
  const HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  EXPECT_GT(FlutterDesktopGetDpiForMonitor(monitor), 0u);
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(nullptr), 96u);
}

}  // namespace
}  // namespace pel_mora::embedding
