#pragma once

// One conversation with a host: either a host this client starts (and closes at the end) or
// one already listening on a given port. Opening it authenticates with the host's secret and
// waits for the host's hello.

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/common/cli_options.h"
#include "cli/connection/bridge_client.h"
#include "cli/connection/host_platform.h"

namespace pel_mora::cli {

struct SessionSettings {
  std::chrono::milliseconds hello_timeout{15000};
  // How long a started host may take to exit after the close request before it is stopped.
  std::chrono::milliseconds exit_timeout{20000};
  // The secret of a running host (--port) on the given port; empty: RunningHostSecret, from the
  // environment or the file the host published. Tests put their fake host's secret here.
  std::function<embedding::InterfaceSecret(uint16_t port)> running_host_secret;
};

class HostSession {
 public:
  // Connects (or starts the host, then connects) and waits for the hello. `platform` may be
  // null when options.port is set. Throws ConnectionError, PlatformError, InterruptedError.
  HostSession(const CliOptions& options, HostPlatform* platform, const SessionSettings& settings,
              InterruptCheck interrupted, std::ostream& status);

  // Closes a started host that Finish has not closed, quietly.
  ~HostSession();

  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  BridgeClient& client() { return *client_; }

  // Pumps frames until the response to `id` arrives. Throws InterruptedError when the person
  // interrupts, and what BridgeClient::Pump throws.
  Reply WaitForReply(uint32_t id);

  // Sends a method call on the method channel and waits for its response.
  Reply Call(const std::string& method, const flutter::EncodableValue* arguments);

  // Closes a host this session started: the close request, then a bounded wait for its exit.
  // A host that does not end in time is stopped. Notes go to the status stream.
  void Finish();

  // The last output lines of a started host (empty for --port), for error reports; still
  // there after Finish.
  std::vector<std::string> HostOutput() const;

  bool started_host() const { return started_host_; }

 private:
  void Connect(uint16_t port);

  SessionSettings settings_;
  InterruptCheck interrupted_;
  std::ostream& status_;
  std::unique_ptr<HostProcess> host_;
  std::unique_ptr<BridgeClient> client_;
  std::vector<std::string> host_output_;  // kept when the host process object is gone
  bool started_host_ = false;
  bool finished_ = false;
};

}  // namespace pel_mora::cli
