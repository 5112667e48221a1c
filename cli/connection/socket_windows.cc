// The loopback connection over Winsock.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>
#include <utility>

#include "cli/connection/socket.h"

namespace pel_mora::cli {

namespace {

[[noreturn]] void ThrowSocketError(const char* call) {
  const int error = WSAGetLastError();
  throw ConnectionError(std::string(call) + " failed (Winsock error " + std::to_string(error) + ")");
}

// Winsock must be started once per process before the first socket call. A function-local
// object starts it on first use and stops it when the process ends.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data{};
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) {
      WSACleanup();
    }
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

  bool started() const { return started_; }

 private:
  bool started_ = false;
};

void EnsureWinsock() {
  static WinsockSession session;
  if (!session.started()) {
    throw ConnectionError("WSAStartup failed");
  }
}

// Owns one SOCKET.
class SocketHandle {
 public:
  explicit SocketHandle(SOCKET socket) : socket_(socket) {}
  SocketHandle(SocketHandle&& other) noexcept : socket_(other.socket_) { other.socket_ = INVALID_SOCKET; }
  ~SocketHandle() {
    if (socket_ != INVALID_SOCKET) {
      closesocket(socket_);
    }
  }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  SocketHandle& operator=(SocketHandle&&) = delete;

  SOCKET get() const { return socket_; }

 private:
  SOCKET socket_;
};

SocketHandle OpenStreamSocket() {
  EnsureWinsock();
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) {
    ThrowSocketError("socket");
  }
  return SocketHandle(socket);
}

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Waits until the socket is readable (data, a closed peer or a pending connection); false on
// timeout.
bool WaitReadable(SOCKET socket, std::chrono::milliseconds timeout) {
  WSAPOLLFD entry{};
  entry.fd = socket;
  entry.events = POLLRDNORM;
  const int result = WSAPoll(&entry, 1, static_cast<INT>(timeout.count()));
  if (result == SOCKET_ERROR) {
    ThrowSocketError("WSAPoll");
  }
  return result > 0;
}

class WinsockConnection : public Connection {
 public:
  explicit WinsockConnection(SocketHandle socket) : socket_(std::move(socket)) {
    // Frames are small and answered one by one; Nagle's delay would only add latency.
    const BOOL enabled = TRUE;
    setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&enabled), sizeof(enabled));
  }

  void SendAll(const uint8_t* bytes, size_t size) override {
    while (size > 0) {
      const int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
      const int sent = send(socket_.get(), reinterpret_cast<const char*>(bytes), chunk, 0);
      if (sent == SOCKET_ERROR) {
        ThrowSocketError("send");
      }
      bytes += sent;
      size -= static_cast<size_t>(sent);
    }
  }

  ReceiveOutcome Receive(uint8_t* buffer, size_t capacity, std::chrono::milliseconds timeout,
                         size_t* received) override {
    if (!WaitReadable(socket_.get(), timeout)) {
      return ReceiveOutcome::kTimedOut;
    }
    const int chunk = capacity > 0x40000000 ? 0x40000000 : static_cast<int>(capacity);
    const int count = recv(socket_.get(), reinterpret_cast<char*>(buffer), chunk, 0);
    if (count == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (error == WSAECONNRESET || error == WSAECONNABORTED) {
        return ReceiveOutcome::kClosed;
      }
      ThrowSocketError("recv");
    }
    if (count == 0) {
      return ReceiveOutcome::kClosed;
    }
    *received = static_cast<size_t>(count);
    return ReceiveOutcome::kData;
  }

 private:
  SocketHandle socket_;
};

class WinsockListener : public LocalListener {
 public:
  WinsockListener(SocketHandle socket, uint16_t port) : socket_(std::move(socket)), port_(port) {}

  uint16_t port() const override { return port_; }

  std::unique_ptr<Connection> Accept(std::chrono::milliseconds timeout) override {
    if (!WaitReadable(socket_.get(), timeout)) {
      return nullptr;
    }
    const SOCKET accepted = accept(socket_.get(), nullptr, nullptr);
    if (accepted == INVALID_SOCKET) {
      ThrowSocketError("accept");
    }
    return std::make_unique<WinsockConnection>(SocketHandle(accepted));
  }

 private:
  SocketHandle socket_;
  uint16_t port_;
};

}  // namespace

std::unique_ptr<Connection> ConnectToLocalPort(uint16_t port) {
  SocketHandle socket = OpenStreamSocket();
  const sockaddr_in address = LoopbackAddress(port);
  if (connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR) {
    ThrowSocketError("connect");
  }
  return std::make_unique<WinsockConnection>(std::move(socket));
}

std::unique_ptr<LocalListener> ListenOnLocalPort(uint16_t port) {
  SocketHandle socket = OpenStreamSocket();
  // Exclusive use: on Windows SO_REUSEADDR would let another socket steal the port.
  const BOOL enabled = TRUE;
  setsockopt(socket.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&enabled), sizeof(enabled));
  sockaddr_in address = LoopbackAddress(port);
  if (bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR) {
    ThrowSocketError("bind");
  }
  if (listen(socket.get(), 4) == SOCKET_ERROR) {
    ThrowSocketError("listen");
  }
  int address_size = sizeof(address);
  if (getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &address_size) == SOCKET_ERROR) {
    ThrowSocketError("getsockname");
  }
  return std::make_unique<WinsockListener>(std::move(socket), ntohs(address.sin_port));
}

}  // namespace pel_mora::cli
