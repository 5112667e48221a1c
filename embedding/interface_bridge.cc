#include "embedding/interface_bridge.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "embedding/diagnostics.h"

namespace pel_mora::embedding {

namespace {

constexpr size_t kReceiveChunkSize = 64 * 1024;
// Reads per wake-up are bounded so that an interface that never stops sending cannot starve
// the writes; a recv that leaves data behind makes Winsock signal the event again.
constexpr size_t kReceiveChunksPerRound = 16;
// Frames waiting for an interface that does not read are capped: past this the connection is
// ended rather than letting the host's memory grow without bound.
constexpr size_t kMaximumPendingOutput = 256 * 1024 * 1024;

KernelHandle CreateManualResetEvent() {
  return KernelHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

void ReportFailure(const char* call, int error) {
  WriteDiagnosticLine(std::string("Interface bridge: ") + call + " failed with error " + std::to_string(error));
}

}  // namespace

InterfaceBridge::InterfaceBridge(Listener* listener, const BridgeSettings& settings, std::vector<uint8_t> hello_frame)
    : listener_(listener),
      hello_frame_(std::move(hello_frame)),
      secret_(settings.secret),
      authentication_timeout_(settings.authentication_timeout),
      receive_buffer_(kReceiveChunkSize) {}

std::unique_ptr<InterfaceBridge> InterfaceBridge::Listen(Listener* listener, const BridgeSettings& settings,
                                                         std::vector<uint8_t> hello_frame) {
  const std::optional<uint16_t> port = settings.port;
  std::unique_ptr<InterfaceBridge> bridge(new InterfaceBridge(listener, settings, std::move(hello_frame)));
  if (bridge->winsock_.result() != 0) {
    ReportFailure("WSAStartup", bridge->winsock_.result());
    return nullptr;
  }
  bridge->stop_event_ = CreateManualResetEvent();
  bridge->wake_event_ = CreateManualResetEvent();
  bridge->listen_event_ = CreateManualResetEvent();
  bridge->connection_event_ = CreateManualResetEvent();
  if (!bridge->stop_event_ || !bridge->wake_event_ || !bridge->listen_event_ || !bridge->connection_event_) {
    ReportFailure("CreateEventW", static_cast<int>(GetLastError()));
    return nullptr;
  }

  bridge->listen_socket_ = SocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!bridge->listen_socket_) {
    ReportFailure("socket", WSAGetLastError());
    return nullptr;
  }
  // Processes the plugin starts (uninstallers, opened files) must not inherit the socket and
  // keep the port open after the host has gone. Failing that is not worth refusing to start.
  SetHandleInformation(reinterpret_cast<HANDLE>(bridge->listen_socket_.get()), HANDLE_FLAG_INHERIT, 0);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port.value_or(0));
  if (bind(bridge->listen_socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    WriteDiagnosticLine("Interface bridge: bind to 127.0.0.1:" + std::to_string(port.value_or(0)) +
                        " failed with error " + std::to_string(WSAGetLastError()));
    return nullptr;
  }
  if (listen(bridge->listen_socket_.get(), SOMAXCONN) != 0) {
    ReportFailure("listen", WSAGetLastError());
    return nullptr;
  }
  sockaddr_in bound{};
  int bound_size = sizeof(bound);
  if (getsockname(bridge->listen_socket_.get(), reinterpret_cast<sockaddr*>(&bound), &bound_size) != 0) {
    ReportFailure("getsockname", WSAGetLastError());
    return nullptr;
  }
  bridge->port_ = ntohs(bound.sin_port);
  // WSAEventSelect also makes the socket non-blocking; accepted sockets inherit that.
  if (WSAEventSelect(bridge->listen_socket_.get(), bridge->listen_event_.get(), FD_ACCEPT) != 0) {
    ReportFailure("WSAEventSelect", WSAGetLastError());
    return nullptr;
  }

  return bridge;
}

bool InterfaceBridge::Serve() {
  WriteDiagnosticLine("Interface bridge listening on 127.0.0.1:" + std::to_string(port_));
  try {
    thread_ = std::thread(&InterfaceBridge::Run, this);
  } catch (const std::exception& exception) {
    WriteDiagnosticLine(std::string("Interface bridge: cannot start its thread: ") + exception.what());
    return false;
  }
  return true;
}

InterfaceBridge::~InterfaceBridge() {
  if (thread_.joinable()) {
    SetEvent(stop_event_.get());
    thread_.join();
  }
  // The sockets close as the members go; nothing else can touch them now.
}

std::optional<uint64_t> InterfaceBridge::QueueFrame(std::vector<uint8_t> frame) {
  uint64_t connection = 0;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (!connected_) {
      return std::nullopt;
    }
    connection = connection_number_;
    queue_.push_back(QueuedFrame{connection, std::move(frame)});
  }
  SetEvent(wake_event_.get());
  return connection;
}

bool InterfaceBridge::QueueFrameFor(uint64_t connection, std::vector<uint8_t> frame) {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (!connected_ || connection_number_ != connection) {
      return false;
    }
    queue_.push_back(QueuedFrame{connection, std::move(frame)});
  }
  SetEvent(wake_event_.get());
  return true;
}

void InterfaceBridge::Run() {
  try {
    for (;;) {
      const HANDLE handles[] = {stop_event_.get(), wake_event_.get(), listen_event_.get(), connection_event_.get()};
      const DWORD count = connection_socket_ ? 4 : 3;
      // The stop event has the lowest index, and a wait reports the lowest signalled one, so a
      // stop request wins over any amount of traffic.
      const DWORD signalled = WaitForMultipleObjects(count, handles, FALSE, WaitTimeout());
      if (signalled == WAIT_FAILED) {
        ReportFailure("WaitForMultipleObjects", static_cast<int>(GetLastError()));
        break;
      }
      if (signalled == WAIT_OBJECT_0) {
        // What was sent before the end still goes out if the socket takes it now; the writes
        // are non-blocking, so a stalled interface cannot hold up the shut-down.
        TakeQueuedFrames();
        WriteQueued();
        return;
      }
      // Every source is looked at on every round (each look is cheap and non-blocking), so one
      // busy source cannot hide another. The wake event is reset before the queue is taken, so
      // a frame queued after the take sets it again.
      ResetEvent(wake_event_.get());
      // The deadline is checked on every round, not only when the wait times out: a stranger
      // that trickles bytes without ever completing its frame keeps waking the bridge.
      if (EndOverdueConnection()) {
        continue;
      }
      TakeQueuedFrames();
      // The current connection before new ones: an interface that disconnects and at once
      // reconnects has its old connection ended here before the new one is looked at, instead
      // of seeing the new one refused as a second connection.
      if (connection_socket_) {
        WSANETWORKEVENTS events{};
        // Also resets the connection's event object.
        WSAEnumNetworkEvents(connection_socket_.get(), connection_event_.get(), &events);
        const bool still_open = ReadAvailable();
        if (still_open && (events.lNetworkEvents & FD_CLOSE) != 0) {
          EndConnection();
        }
      }
      WSANETWORKEVENTS listen_events{};
      // Also resets the listening socket's event object.
      WSAEnumNetworkEvents(listen_socket_.get(), listen_event_.get(), &listen_events);
      if ((listen_events.lNetworkEvents & FD_ACCEPT) != 0) {
        AcceptConnection();
      }
      WriteQueued();
    }
  } catch (const std::exception& exception) {
    WriteDiagnosticLine(std::string("Interface bridge: stopped after an unexpected error: ") + exception.what());
  }
  // The bridge no longer serves: later frames are dropped as if nobody were connected.
  std::lock_guard<std::mutex> lock(queue_mutex_);
  connected_ = false;
  queue_.clear();
}

DWORD InterfaceBridge::WaitTimeout() const {
  if (!connection_socket_ || authenticated_) {
    return INFINITE;
  }
  const ULONGLONG now = GetTickCount64();
  return now >= authentication_due_ ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(authentication_due_ - now, INFINITE - 1));
}

bool InterfaceBridge::EndOverdueConnection() {
  if (!connection_socket_ || authenticated_ || GetTickCount64() < authentication_due_) {
    return false;
  }
  WriteDiagnosticLine("Interface bridge: closing the connection: no authentication frame within " +
                      std::to_string(authentication_timeout_.count()) + " ms");
  EndConnection();
  return true;
}

// Exactly one accept per reported FD_ACCEPT, never one on speculation. Winsock re-enables
// FD_ACCEPT with each accept and reports it again while connections wait, so none is left
// behind. Under Wine, an accept that is not answering a report can take a connection whose
// arrival the wineserver has seen but not yet handled; it then reports that arrival afterwards,
// the accept made for it finds nothing, and since only a successful accept re-enables FD_ACCEPT
// there, the listening socket is never reported again: the next connection would wait in the
// backlog, neither accepted nor refused.
void InterfaceBridge::AcceptConnection() {
  SocketHandle accepted(accept(listen_socket_.get(), nullptr, nullptr));
  if (!accepted) {
    // The attempt failed (the peer gave up before it was taken); that concerns this one
    // connection attempt only.
    return;
  }
  if (connection_socket_ && CurrentConnectionStaysOpen()) {
    // One interface at a time: a second connection is closed at once (by `accepted` going
    // out of scope) and the first carries on untouched.
    return;
  }
  AdoptConnection(std::move(accepted));
}

bool InterfaceBridge::CurrentConnectionStaysOpen() {
  // An interface that closed and at once reconnected can have its close still unreported
  // when the new connection is taken (the wineserver reports the two separately). A poll asks
  // the socket itself; if it shows anything to read or a hang-up, reading it now ends a
  // connection that is gone before the new one is judged.
  WSAPOLLFD entry{};
  entry.fd = connection_socket_.get();
  entry.events = POLLRDNORM;
  if (WSAPoll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0) {
    return ReadAvailable();
  }
  return true;
}

void InterfaceBridge::AdoptConnection(SocketHandle socket) {
  ResetEvent(connection_event_.get());
  if (WSAEventSelect(socket.get(), connection_event_.get(), FD_READ | FD_WRITE | FD_CLOSE) != 0) {
    ReportFailure("WSAEventSelect", WSAGetLastError());
    return;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(socket.get()), HANDLE_FLAG_INHERIT, 0);
  // Frames are small and interactive: send each at once rather than wait to coalesce.
  const BOOL no_delay = TRUE;
  setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof(no_delay));

  connection_socket_ = std::move(socket);
  reader_.Reset();
  output_.clear();
  output_offset_ = 0;
  output_bytes_ = 0;
  // Nothing is sent and nothing queued for it until its secret is accepted (Authenticate).
  authenticated_ = false;
  authentication_due_ = GetTickCount64() + static_cast<ULONGLONG>(authentication_timeout_.count());
  current_connection_ = 0;
}

bool InterfaceBridge::Authenticate(const Frame& frame) {
  const AuthenticationVerdict verdict = JudgeAuthentication(frame, secret_);
  if (verdict != AuthenticationVerdict::kAccepted) {
    WriteDiagnosticLine("Interface bridge: closing the connection: " + std::string(DescribeRefusal(verdict)));
    EndConnection();
    return false;
  }
  authenticated_ = true;
  // The hello goes out before anything queued for this connection, because nothing can be
  // queued for it until connected_ is set below.
  output_.push_back(hello_frame_);
  output_bytes_ = hello_frame_.size();
  std::lock_guard<std::mutex> lock(queue_mutex_);
  connected_ = true;
  current_connection_ = ++connection_number_;
  return true;
}

void InterfaceBridge::TakeQueuedFrames() {
  std::vector<QueuedFrame> taken;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    taken.swap(queue_);
  }
  if (!connection_socket_) {
    return;
  }
  for (QueuedFrame& frame : taken) {
    if (frame.connection == current_connection_) {
      output_bytes_ += frame.bytes.size();
      output_.push_back(std::move(frame.bytes));
    }
  }
  if (output_bytes_ > kMaximumPendingOutput) {
    WriteDiagnosticLine("Interface bridge: closing the connection: the interface has left " +
                        std::to_string(output_bytes_) + " bytes unread");
    EndConnection();
  }
}

bool InterfaceBridge::ReadAvailable() {
  for (size_t round = 0; round < kReceiveChunksPerRound; ++round) {
    const int received = recv(connection_socket_.get(), reinterpret_cast<char*>(receive_buffer_.data()),
                              static_cast<int>(receive_buffer_.size()), 0);
    if (received > 0) {
      reader_.Append(receive_buffer_.data(), static_cast<size_t>(received));
      if (!DispatchFrames()) {
        return false;
      }
      continue;
    }
    if (received == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
      return true;
    }
    // 0: the interface closed its end. An error: the connection is broken. Either way it ends
    // here, quietly: a disconnect is ordinary.
    EndConnection();
    return false;
  }
  return true;
}

bool InterfaceBridge::DispatchFrames() {
  for (;;) {
    Frame frame;
    switch (reader_.Next(&frame)) {
      case FrameReader::Status::kNeedMoreBytes:
        return true;
      case FrameReader::Status::kFailed:
        WriteDiagnosticLine("Interface bridge: closing the connection after a bad frame: " + reader_.failure());
        EndConnection();
        return false;
      case FrameReader::Status::kFrame:
        break;
    }
    // The reader lets only the authentication frame open a stream and refuses it later on.
    if (frame.kind == FrameKind::kAuthentication) {
      if (!Authenticate(frame)) {
        return false;
      }
      continue;
    }
    switch (frame.kind) {
      case FrameKind::kPlatformMessage:
        listener_->OnPlatformMessage(current_connection_, std::move(frame));
        break;
      case FrameKind::kHostMessageResponse:
        listener_->OnHostMessageResponse(current_connection_, std::move(frame));
        break;
      case FrameKind::kCloseRequest:
        listener_->OnCloseRequest();
        break;
      case FrameKind::kPlatformResponse:
      case FrameKind::kHostMessage:
      case FrameKind::kHello:
      case FrameKind::kAuthentication:
        // The reader refuses the kinds only the host sends; authentication is handled above.
        break;
    }
  }
}

void InterfaceBridge::WriteQueued() {
  while (connection_socket_ && !output_.empty()) {
    const std::vector<uint8_t>& front = output_.front();
    const size_t remaining = front.size() - output_offset_;
    const int chunk = static_cast<int>(std::min<size_t>(remaining, INT_MAX));
    const int sent = send(connection_socket_.get(), reinterpret_cast<const char*>(front.data() + output_offset_),
                          chunk, 0);
    if (sent == SOCKET_ERROR) {
      if (WSAGetLastError() != WSAEWOULDBLOCK) {
        EndConnection();
      }
      // Would block: FD_WRITE signals the connection's event once there is room again.
      return;
    }
    output_offset_ += static_cast<size_t>(sent);
    output_bytes_ -= static_cast<size_t>(sent);
    if (output_offset_ == front.size()) {
      output_.pop_front();
      output_offset_ = 0;
    }
  }
}

void InterfaceBridge::EndConnection() {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    connected_ = false;
    // Whatever is queued belongs to this connection; it has nowhere to go now.
    queue_.clear();
  }
  // A plain closesocket: what is already in the system's send buffer still goes out.
  connection_socket_.Reset();
  reader_.Reset();
  output_.clear();
  output_offset_ = 0;
  output_bytes_ = 0;
  // A connection that never got in never reached the listener either.
  if (std::exchange(authenticated_, false)) {
    listener_->OnConnectionEnded(current_connection_);
  }
}

}  // namespace pel_mora::embedding
