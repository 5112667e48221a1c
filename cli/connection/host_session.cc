#include "cli/connection/host_session.h"

#include "cli/common/human_readable.h"
#include "cli/connection/interface_secrets.h"

namespace pel_mora::cli {

namespace {

constexpr std::chrono::milliseconds kPumpSlice{100};

std::string Endpoint(uint16_t port) {
  return "127.0.0.1:" + std::to_string(port);
}

}  // namespace

HostSession::HostSession(const CliOptions& options, HostPlatform* platform, const SessionSettings& settings,
                         InterruptCheck interrupted, std::ostream& status)
    : settings_(settings), interrupted_(std::move(interrupted)), status_(status) {
  uint16_t port = 0;
  if (options.port) {
    port = *options.port;
  } else {
    if (platform == nullptr) {
      throw PlatformError(
          "this build cannot start the host; start pelmora.exe and pass the port it prints with --port N");
    }
    HostLaunchOptions launch;
    launch.host_path = options.host_path;
    launch.display = options.display;
    host_ = platform->StartHost(launch, status_, interrupted_);
    started_host_ = true;
    port = host_->port();
  }
  try {
    Connect(port);
  } catch (const ConnectionError& error) {
    if (host_) {
      // The process object stops the host when the constructor unwinds; its lines go with
      // the error, since they usually say why it is not answering.
      throw PlatformError(error.what(), host_->RecentOutput());
    }
    throw;
  }
}

void HostSession::Connect(uint16_t port) {
  std::unique_ptr<Connection> connection;
  try {
    connection = ConnectToLocalPort(port);
  } catch (const ConnectionError& error) {
    throw ConnectionError("cannot connect to the host on " + Endpoint(port) + ": " + error.what());
  }
  // A host already serving another interface, or one whose secret this is not, closes the
  // connection without a hello; the host this session started has no other secret than its own.
  const std::string closed_before_hello =
      "the host on " + Endpoint(port) + " closed the connection before its hello " +
      (host_ ? std::string("(it serves one interface at a time; is another one connected?)")
             : std::string("(it serves one interface at a time, and only one that holds its secret: is another one "
                           "connected, or is ") +
                   embedding::kInterfaceSecretVariable + " not the secret it was started with?)");
  const embedding::InterfaceSecret secret =
      host_ ? host_->interface_secret()
            : (settings_.running_host_secret ? settings_.running_host_secret(port) : RunningHostSecret(port));
  try {
    client_ = std::make_unique<BridgeClient>(std::move(connection), secret);
  } catch (const ConnectionError&) {
    // The host dropped the connection as it came: the same refusal, seen earlier.
    throw ConnectionError(closed_before_hello);
  }
  // The hello is the host's first frame once it has accepted the secret.
  try {
    const auto deadline = std::chrono::steady_clock::now() + settings_.hello_timeout;
    while (!client_->WaitForHello(kPumpSlice)) {
      if (interrupted_()) {
        throw InterruptedError();
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        throw ConnectionError("the host on " + Endpoint(port) + " sent no hello within " +
                              FormatDuration(settings_.hello_timeout.count()));
      }
    }
  } catch (const ConnectionClosedError&) {
    throw ConnectionError(closed_before_hello);
  }
}

HostSession::~HostSession() {
  if (!finished_) {
    try {
      Finish();
    } catch (...) {
      // A destructor on an error path: the original error is what the person needs to see.
    }
  }
}

Reply HostSession::WaitForReply(uint32_t id) {
  while (true) {
    if (std::optional<Reply> reply = client_->TakeReply(id)) {
      return std::move(*reply);
    }
    if (interrupted_()) {
      throw InterruptedError();
    }
    client_->Pump(kPumpSlice);
  }
}

Reply HostSession::Call(const std::string& method, const flutter::EncodableValue* arguments) {
  return WaitForReply(client_->SendMethodCall(kNativeChannel, method, arguments));
}

void HostSession::Finish() {
  if (finished_) {
    return;
  }
  finished_ = true;
  if (!host_) {
    return;
  }
  // Without a delivered close request the host has no reason to end; a short wait only lets a
  // host that is crashing finish writing its last lines.
  bool request_sent = true;
  try {
    client_->SendCloseRequest();
  } catch (const ConnectionError&) {
    request_sent = false;
  }
  const auto timeout = request_sent ? settings_.exit_timeout : std::chrono::milliseconds(2000);
  const std::optional<int> exit_code = host_->WaitForExit(timeout);
  if (!exit_code) {
    if (request_sent) {
      status_ << "pelmora-cli: the host did not exit within " << FormatDuration(timeout.count())
              << " of the close request; stopping it\n";
    }
  } else if (*exit_code != 0) {
    status_ << "pelmora-cli: the host exited with code " << *exit_code << "\n";
  }
  host_output_ = host_->RecentOutput();
  // Destroying the process object stops it if it still runs.
  host_.reset();
}

std::vector<std::string> HostSession::HostOutput() const {
  return host_ ? host_->RecentOutput() : host_output_;
}

}  // namespace pel_mora::cli
