#include "tests/cli/support/fake_bridge_host.h"

#include <fstream>
#include <random>

#include "channel/byte_streams.h"
#include "channel/standard_codec_serializer.h"
#include "channel/standard_method_codec.h"
#include "cli/commands/commands.h"
#include "cli/connection/bridge_client.h"
#include "embedding/interface_frame.h"

namespace pel_mora::cli::testing {

namespace {

using embedding::Frame;
using embedding::FrameKind;
using embedding::FrameReader;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

const flutter::StandardMethodCodec& Codec() {
  return flutter::StandardMethodCodec::GetInstance();
}

void SendFrame(Connection& connection, FrameKind kind, uint32_t id, const std::string& channel,
               const std::vector<uint8_t>& payload) {
  const std::optional<std::vector<uint8_t>> bytes =
      embedding::BuildFrame(kind, id, channel, payload.data(), payload.size());
  if (!bytes) {
    throw std::length_error("fake bridge host: frame over the size limit");
  }
  connection.SendAll(bytes->data(), bytes->size());
}

void Respond(Connection& connection, uint32_t id, const std::vector<uint8_t>& payload) {
  SendFrame(connection, FrameKind::kPlatformResponse, id, "", payload);
}

void RespondSuccess(Connection& connection, uint32_t id, const EncodableValue* value) {
  Respond(connection, id, *Codec().EncodeSuccessEnvelope(value));
}

void RespondError(Connection& connection, uint32_t id, const std::string& code, const std::string& message,
                  const EncodableValue* details = nullptr) {
  Respond(connection, id, *Codec().EncodeErrorEnvelope(code, message, details));
}

EncodableValue Map(std::initializer_list<std::pair<const char*, EncodableValue>> members) {
  EncodableMap map;
  for (const auto& [key, value] : members) {
    map[EncodableValue(key)] = value;
  }
  return EncodableValue(std::move(map));
}

embedding::InterfaceSecret RandomSecret() {
  std::random_device source;
  embedding::InterfaceSecret secret{};
  for (uint8_t& byte : secret) {
    byte = static_cast<uint8_t>(source());
  }
  return secret;
}

std::string LastPathPart(const std::string& path) {
  const size_t separator = path.find_last_of('\\');
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

}  // namespace

FakeBridgeHost::FakeBridgeHost() : listener_(ListenOnLocalPort(0)), port_(listener_->port()), secret_(RandomSecret()) {
  thread_ = std::thread([this] { Serve(); });
}

FakeBridgeHost::~FakeBridgeHost() {
  stop_ = true;
  thread_.join();
}

void FakeBridgeHost::set_drives(EncodableList drives) {
  std::lock_guard lock(mutex_);
  drives_ = std::move(drives);
}

void FakeBridgeHost::set_scan_script(ScanScript script) {
  std::lock_guard lock(mutex_);
  scan_script_ = std::move(script);
}

void FakeBridgeHost::set_hello_behaviour(HelloBehaviour behaviour) {
  std::lock_guard lock(mutex_);
  hello_behaviour_ = behaviour;
}

void FakeBridgeHost::accept_any_secret() {
  std::lock_guard lock(mutex_);
  any_secret_ = true;
}

std::vector<std::string> FakeBridgeHost::secrets_received() const {
  std::lock_guard lock(mutex_);
  return secrets_received_;
}

void FakeBridgeHost::set_close_flag_path(std::string path) {
  std::lock_guard lock(mutex_);
  close_flag_path_ = std::move(path);
}

std::vector<std::string> FakeBridgeHost::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::optional<EncodableValue> FakeBridgeHost::last_arguments(const std::string& method) const {
  std::lock_guard lock(mutex_);
  for (auto entry = arguments_.rbegin(); entry != arguments_.rend(); ++entry) {
    if (entry->first == method) {
      return entry->second;
    }
  }
  return std::nullopt;
}

void FakeBridgeHost::Serve() {
  constexpr std::chrono::milliseconds kSlice{50};
  while (!stop_) {
    std::unique_ptr<Connection> connection = listener_->Accept(kSlice);
    if (!connection) {
      continue;
    }
    ++connections_;
    HelloBehaviour hello_behaviour;
    {
      std::lock_guard lock(mutex_);
      hello_behaviour = hello_behaviour_;
    }
    if (hello_behaviour == HelloBehaviour::kCloseAtOnce) {
      continue;  // dropped unanswered, as a host busy with another interface does
    }
    const EncodableValue hello = Map({{"dartEntrypoint", EncodableValue("main")},
                                      {"dartEntrypointArguments", EncodableValue(EncodableList{})},
                                      {"assetsPath", EncodableValue("data\\flutter_assets")},
                                      {"icuDataPath", EncodableValue("data\\icudtl.dat")},
                                      {"aotLibraryPath", EncodableValue("data\\app.so")}});
    std::vector<uint8_t> hello_bytes;
    flutter::ByteBufferStreamWriter writer(&hello_bytes);
    flutter::StandardCodecSerializer::GetInstance().WriteValue(hello, &writer);
    try {
      FrameReader reader(embedding::FrameSender::kInterface);
      if (!Admit(*connection, reader)) {
        continue;  // dropped without a hello, as the host drops a stranger
      }
      ++admitted_;
      SendFrame(*connection, FrameKind::kHello, 0, "", hello_bytes);
      bool open = true;
      // First what came along with the authentication frame, then what arrives after it.
      bool buffered = true;
      while (open && !stop_) {
        if (!buffered) {
          uint8_t buffer[4096];
          size_t received = 0;
          const ReceiveOutcome outcome = connection->Receive(buffer, sizeof(buffer), kSlice, &received);
          if (outcome == ReceiveOutcome::kClosed) {
            break;
          }
          if (outcome == ReceiveOutcome::kTimedOut) {
            continue;
          }
          reader.Append(buffer, received);
        }
        buffered = false;
        Frame frame;
        FrameReader::Status status;
        while (open && (status = reader.Next(&frame)) == FrameReader::Status::kFrame) {
          open = HandleFrame(*connection, static_cast<uint8_t>(frame.kind), frame.id, frame.channel, frame.payload);
        }
        if (status == FrameReader::Status::kFailed) {
          break;
        }
      }
    } catch (const ConnectionError&) {
      // The client went away mid-send; the next connection starts afresh.
    }
    listening_ = false;
  }
}

bool FakeBridgeHost::Admit(Connection& connection, FrameReader& reader) {
  constexpr std::chrono::milliseconds kSlice{50};
  Frame frame;
  FrameReader::Status status = FrameReader::Status::kNeedMoreBytes;
  while (!stop_ && (status = reader.Next(&frame)) == FrameReader::Status::kNeedMoreBytes) {
    uint8_t buffer[4096];
    size_t received = 0;
    const ReceiveOutcome outcome = connection.Receive(buffer, sizeof(buffer), kSlice, &received);
    if (outcome == ReceiveOutcome::kClosed) {
      return false;
    }
    if (outcome == ReceiveOutcome::kData) {
      reader.Append(buffer, received);
    }
  }
  // The reader refuses a stream that opens with anything but the authentication frame.
  if (status != FrameReader::Status::kFrame) {
    return false;
  }
  std::lock_guard lock(mutex_);
  secrets_received_.emplace_back(frame.payload.begin(), frame.payload.end());
  if (any_secret_) {
    return embedding::ParseInterfaceSecret(secrets_received_.back()).has_value();
  }
  return embedding::JudgeAuthentication(frame, secret_) == embedding::AuthenticationVerdict::kAccepted;
}

bool FakeBridgeHost::HandleFrame(Connection& connection, uint8_t kind, uint32_t id, const std::string& channel,
                                 const std::vector<uint8_t>& payload) {
  if (kind == static_cast<uint8_t>(FrameKind::kCloseRequest)) {
    std::string close_flag_path;
    {
      std::lock_guard lock(mutex_);
      close_flag_path = close_flag_path_;
    }
    close_requested_ = true;
    if (!close_flag_path.empty()) {
      std::ofstream(close_flag_path).flush();
    }
    return false;
  }
  if (kind != static_cast<uint8_t>(FrameKind::kPlatformMessage)) {
    return true;
  }
  const std::unique_ptr<flutter::MethodCall<EncodableValue>> call = Codec().DecodeMethodCall(payload.data(), payload.size());
  if (!call) {
    Respond(connection, id, {});
    return true;
  }
  const std::string& method = call->method_name();
  const EncodableValue arguments = call->arguments() != nullptr ? *call->arguments() : EncodableValue();
  EncodableValue drives;
  ScanScript scan_script;
  std::function<ScriptedReply(const EncodableValue&)> method_reply;
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(channel + " " + method);
    arguments_.emplace_back(method, arguments);
    drives = EncodableValue(drives_);
    scan_script = scan_script_;
    if (channel == kNativeChannel) {
      const auto found = method_replies_.find(method);
      if (found != method_replies_.end()) {
        method_reply = found->second;
      }
    }
  }
  if (channel == kScanChannel) {
    if (method == "listen") {
      listening_ = true;
      RespondSuccess(connection, id, nullptr);
    } else if (method == "cancel") {
      if (listening_) {
        listening_ = false;
        RespondSuccess(connection, id, nullptr);
      } else {
        RespondError(connection, id, "error", "No active stream to cancel");
      }
    } else {
      Respond(connection, id, {});
    }
    return true;
  }
  if (channel != kNativeChannel) {
    Respond(connection, id, {});
    return true;
  }
  const auto send_scripted = [&](uint32_t reply_id, const ScriptedReply& reply) {
    switch (reply.kind) {
      case ScriptedReply::Kind::kSuccess:
        RespondSuccess(connection, reply_id, &reply.value);
        break;
      case ScriptedReply::Kind::kError:
        RespondError(connection, reply_id, reply.error_code, reply.error_message,
                     reply.value.IsNull() ? nullptr : &reply.value);
        break;
      case ScriptedReply::Kind::kNotImplemented:
        Respond(connection, reply_id, {});
        break;
    }
  };
  if (held_reply_ && held_reply_->second.held_until_method == method) {
    if (method_reply) {
      send_scripted(id, method_reply(arguments));
    } else {
      const EncodableValue accepted(true);
      RespondSuccess(connection, id, &accepted);
    }
    send_scripted(held_reply_->first, held_reply_->second);
    held_reply_.reset();
    return true;
  }
  if (method_reply) {
    ScriptedReply reply = method_reply(arguments);
    if (!reply.held_until_method.empty()) {
      held_reply_.emplace(id, std::move(reply));
    } else {
      send_scripted(id, reply);
    }
    return true;
  }
  if (method == "getDrives") {
    RespondSuccess(connection, id, &drives);
  } else if (method == "echo") {
    RespondSuccess(connection, id, &arguments);
  } else if (method == "startScan") {
    const auto* map = std::get_if<EncodableMap>(&arguments);
    if (map == nullptr) {
      RespondError(connection, id, "INVALID_ARGS", "Expected a map argument.");
      return true;
    }
    const auto letter = map->find(EncodableValue("driveLetter"));
    if (letter == map->end()) {
      RespondError(connection, id, "INVALID_ARGS", "Missing 'driveLetter'.");
      return true;
    }
    const auto* text = std::get_if<std::string>(&letter->second);
    if (text == nullptr || text->empty()) {
      RespondError(connection, id, "INVALID_ARGS", "driveLetter must be a non-empty string.");
      return true;
    }
    const EncodableValue accepted(true);
    RespondSuccess(connection, id, &accepted);
    SendEvents(connection, scan_script.events);
    if (scan_script.wait_for_cancel) {
      awaiting_cancel_ = true;
    } else {
      SendEvents(connection, scan_script.events_after_cancel);
    }
  } else if (method == "cancelScan") {
    const EncodableValue accepted(true);
    RespondSuccess(connection, id, &accepted);
    if (awaiting_cancel_.exchange(false)) {
      SendEvents(connection, scan_script.events_after_cancel);
    }
  } else if (method == "dropConnection") {
    return false;
  } else if (method == "sendBadFrame") {
    // A frame of a kind the bridge does not have.
    const uint8_t bad_frame[] = {7, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0};
    connection.SendAll(bad_frame, sizeof(bad_frame));
  } else {
    Respond(connection, id, {});
  }
  return true;
}

void FakeBridgeHost::set_method_reply(std::string method,
                                      std::function<ScriptedReply(const EncodableValue& arguments)> reply) {
  std::lock_guard lock(mutex_);
  method_replies_[std::move(method)] = std::move(reply);
}

void FakeBridgeHost::SendEvents(Connection& connection, const std::vector<EncodableValue>& events) {
  for (const EncodableValue& event : events) {
    // Like the host's event sink: nothing goes out while nobody listens.
    if (listening_) {
      SendFrame(connection, FrameKind::kHostMessage, 0, kScanChannel, *Codec().EncodeSuccessEnvelope(&event));
    }
  }
}

ScriptedReply ScriptedReply::Success(EncodableValue value) {
  ScriptedReply reply;
  reply.value = std::move(value);
  return reply;
}

ScriptedReply ScriptedReply::Error(std::string code, std::string message) {
  ScriptedReply reply;
  reply.kind = Kind::kError;
  reply.error_code = std::move(code);
  reply.error_message = std::move(message);
  return reply;
}

Outcome RunClientAgainst(const FakeBridgeHost& host, std::vector<std::string> arguments, const Console& console) {
  arguments.insert(arguments.begin(), {"--port", std::to_string(host.port())});
  const embedding::InterfaceSecret secret = host.secret();
  std::istringstream in(console.typed);
  std::ostringstream own_out;
  std::ostringstream& out = console.out != nullptr ? *console.out : own_out;
  std::ostringstream err;
  CliEnvironment environment;
  environment.in = &in;
  environment.in_is_terminal = console.in_is_terminal;
  environment.out = &out;
  environment.err = &err;
  environment.err_is_terminal = console.err_is_terminal;
  environment.interrupt_count = console.interrupt_count;
  environment.session.running_host_secret = [secret](uint16_t) { return secret; };
  const int status = RunCli(arguments, environment);
  return {status, out.str(), err.str()};
}

EncodableValue StartedEvent(const std::string& root) {
  return Map({{"type", EncodableValue("started")}, {"root", EncodableValue(root)}});
}

EncodableValue BatchEvent(EncodableList entries, int64_t files, int64_t folders, int64_t bytes) {
  return Map({{"type", EncodableValue("batch")},
              {"entries", EncodableValue(std::move(entries))},
              {"filesScanned", EncodableValue(files)},
              {"foldersScanned", EncodableValue(folders)},
              {"totalBytes", EncodableValue(bytes)}});
}

EncodableValue CompletedEvent(int64_t files, int64_t folders, int64_t bytes, int64_t duration_ms) {
  return Map({{"type", EncodableValue("completed")},
              {"totalFiles", EncodableValue(files)},
              {"totalFolders", EncodableValue(folders)},
              {"totalBytes", EncodableValue(bytes)},
              {"durationMs", EncodableValue(duration_ms)}});
}

EncodableValue CancelledEvent() {
  return Map({{"type", EncodableValue("cancelled")}});
}

EncodableValue FileEntry(const std::string& path, int64_t size) {
  return Map({{"path", EncodableValue(path)},
              {"name", EncodableValue(LastPathPart(path))},
              {"sizeBytes", EncodableValue(size)},
              {"isDirectory", EncodableValue(false)},
              {"isAccessible", EncodableValue(true)},
              {"modifiedTime", EncodableValue(int64_t{1700000000})},
              {"extension", EncodableValue("")}});
}

EncodableValue FolderEntry(const std::string& path, int64_t size) {
  return Map({{"path", EncodableValue(path)},
              {"name", EncodableValue(LastPathPart(path))},
              {"sizeBytes", EncodableValue(size)},
              {"isDirectory", EncodableValue(true)},
              {"isAccessible", EncodableValue(true)},
              {"modifiedTime", EncodableValue(int64_t{1700000000})}});
}

EncodableValue InaccessibleEntry(const std::string& path) {
  return Map({{"path", EncodableValue(path)},
              {"name", EncodableValue(LastPathPart(path))},
              {"sizeBytes", EncodableValue(int64_t{0})},
              {"isDirectory", EncodableValue(true)},
              {"isAccessible", EncodableValue(false)}});
}

EncodableValue DriveRecord(const std::string& letter, int32_t type, bool ready, const std::string& label,
                           const std::string& file_system, int64_t total, int64_t free) {
  return Map({{"driveLetter", EncodableValue(letter)},
              {"driveType", EncodableValue(type)},
              {"isReady", EncodableValue(ready)},
              {"volumeName", EncodableValue(label)},
              {"fileSystem", EncodableValue(file_system)},
              {"totalBytes", EncodableValue(ready ? total : int64_t{0})},
              {"freeBytes", EncodableValue(ready ? free : int64_t{0})},
              {"usedBytes", EncodableValue(ready ? total - free : int64_t{0})}});
}

}  // namespace pel_mora::cli::testing
