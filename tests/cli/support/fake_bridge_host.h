#pragma once

// A stand-in for the host's side of the interface bridge, for driving the client end to end:
// a thread listening on 127.0.0.1 that checks the connection's secret as the host does, sends
// the hello, answers "getDrives", echoes arguments, answers errors, and streams scripted scan
// events after "listen" and "startScan".

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "channel/encodable_value.h"
#include "cli/connection/socket.h"
#include "embedding/interface_secret.h"

namespace pel_mora::cli::testing {

// What the fake sends once it has answered "startScan": the first events at once; then, when
// `wait_for_cancel` is set, nothing until "cancelScan" arrives; then the rest.
struct ScanScript {
  std::vector<flutter::EncodableValue> events;
  bool wait_for_cancel = false;
  std::vector<flutter::EncodableValue> events_after_cancel;
};

// A scripted answer to one method of the native channel (see set_method_reply).
struct ScriptedReply {
  enum class Kind { kSuccess, kError, kNotImplemented };
  Kind kind = Kind::kSuccess;
  flutter::EncodableValue value;  // the result of a success, the details of an error
  std::string error_code;
  std::string error_message;
  // When set, the reply is held back until a call of this method arrives (answered with its own
  // scripted reply, or true), as a long request that a cancel call ends: "cancelSearch".
  std::string held_until_method;

  static ScriptedReply Success(flutter::EncodableValue value);
  static ScriptedReply Error(std::string code, std::string message);
};

// What one run of the client returned and printed.
struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// The person's side of a run: what they type, which streams are terminals, and how often they
// pressed Ctrl-C so far.
struct Console {
  std::string typed;
  bool in_is_terminal = false;
  bool err_is_terminal = false;
  std::function<unsigned()> interrupt_count;
  // Where results go; null for a stream of the run's own. A test that watches the output while
  // the command still runs passes its own.
  std::ostringstream* out = nullptr;
};

class FakeBridgeHost;

// Runs the client against `host` (--port is added first, and the host's secret is what the
// session finds for it) with string streams in place of the console.
Outcome RunClientAgainst(const FakeBridgeHost& host, std::vector<std::string> arguments, const Console& console = {});

enum class HelloBehaviour {
  kSend,
  kCloseAtOnce,  // a host that already serves another interface
};

class FakeBridgeHost {
 public:
  FakeBridgeHost();
  ~FakeBridgeHost();

  FakeBridgeHost(const FakeBridgeHost&) = delete;
  FakeBridgeHost& operator=(const FakeBridgeHost&) = delete;

  uint16_t port() const { return port_; }

  // The secret a connection must open with: a fresh random one per fake host.
  const embedding::InterfaceSecret& secret() const { return secret_; }

  // Configuration; set before the client connects.
  void set_drives(flutter::EncodableList drives);
  void set_scan_script(ScanScript script);
  void set_hello_behaviour(HelloBehaviour behaviour);
  // Lets in any connection that opens with a well-formed secret, as for a host whose secret a
  // platform under test makes itself; secrets_received() tells which came.
  void accept_any_secret();
  // Answers `method` on the native channel with what `reply` returns for the call's arguments.
  // The function runs on the fake's server thread.
  void set_method_reply(std::string method, std::function<ScriptedReply(const flutter::EncodableValue& arguments)> reply);
  // A file created when the close request arrives, for a fake Wine process that waits on it.
  void set_close_flag_path(std::string path);

  // True once the scripted scan waits for "cancelScan": the moment a person would press Ctrl-C.
  bool awaiting_cancel() const { return awaiting_cancel_; }

  // "channel method" for each call received, in order.
  std::vector<std::string> calls() const;
  // The arguments of the last call of `method`.
  std::optional<flutter::EncodableValue> last_arguments(const std::string& method) const;
  int connections() const { return connections_; }
  // The connections let in (secret accepted, hello sent).
  int admitted_connections() const { return admitted_; }
  // The secret of every connection's authentication frame, in order, well-formed or not.
  std::vector<std::string> secrets_received() const;
  bool close_requested() const { return close_requested_; }

 private:
  void Serve();
  // Returns false when the connection is to be dropped.
  bool HandleFrame(Connection& connection, uint8_t kind, uint32_t id, const std::string& channel,
                   const std::vector<uint8_t>& payload);
  void SendEvents(Connection& connection, const std::vector<flutter::EncodableValue>& events);

  // Reads the connection's authentication frame; true when the connection may go on.
  bool Admit(Connection& connection, embedding::FrameReader& reader);

  std::unique_ptr<LocalListener> listener_;
  uint16_t port_ = 0;
  const embedding::InterfaceSecret secret_;

  // Guards the configuration and the records of calls, shared by the test and server threads.
  mutable std::mutex mutex_;
  flutter::EncodableList drives_;
  ScanScript scan_script_;
  HelloBehaviour hello_behaviour_ = HelloBehaviour::kSend;
  bool any_secret_ = false;
  std::vector<std::string> secrets_received_;
  std::string close_flag_path_;
  std::map<std::string, std::function<ScriptedReply(const flutter::EncodableValue&)>> method_replies_;
  // A held reply: the id it answers and the reply, sent once its releasing method arrives.
  // Used by the server thread only.
  std::optional<std::pair<uint32_t, ScriptedReply>> held_reply_;
  std::vector<std::string> calls_;
  std::vector<std::pair<std::string, flutter::EncodableValue>> arguments_;
  std::atomic<int> connections_{0};
  std::atomic<int> admitted_{0};
  std::atomic<bool> close_requested_{false};
  std::atomic<bool> awaiting_cancel_{false};
  bool listening_ = false;  // server thread only
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Event and entry records as the host sends them.
flutter::EncodableValue StartedEvent(const std::string& root);
flutter::EncodableValue BatchEvent(flutter::EncodableList entries, int64_t files, int64_t folders, int64_t bytes);
flutter::EncodableValue CompletedEvent(int64_t files, int64_t folders, int64_t bytes, int64_t duration_ms);
flutter::EncodableValue CancelledEvent();
flutter::EncodableValue FileEntry(const std::string& path, int64_t size);
flutter::EncodableValue FolderEntry(const std::string& path, int64_t size);
flutter::EncodableValue InaccessibleEntry(const std::string& path);
flutter::EncodableValue DriveRecord(const std::string& letter, int32_t type, bool ready, const std::string& label,
                                    const std::string& file_system, int64_t total, int64_t free);

}  // namespace pel_mora::cli::testing
