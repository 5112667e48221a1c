// The loopback connection over BSD sockets (Linux and other POSIX systems).

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <system_error>
#include <utility>

#include "cli/connection/socket.h"

namespace pel_mora::cli {

namespace {

[[noreturn]] void ThrowSocketError(const char* call) {
  const int error = errno;
  throw ConnectionError(std::string(call) + " failed: " + std::generic_category().message(error));
}

// Owns one socket descriptor.
class SocketHandle {
 public:
  explicit SocketHandle(int descriptor) : descriptor_(descriptor) {}
  ~SocketHandle() {
    if (descriptor_ >= 0) {
      ::close(descriptor_);
    }
  }
  SocketHandle(SocketHandle&& other) noexcept : descriptor_(other.descriptor_) { other.descriptor_ = -1; }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  SocketHandle& operator=(SocketHandle&&) = delete;

  int get() const { return descriptor_; }

 private:
  int descriptor_;
};

SocketHandle OpenStreamSocket() {
  const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (descriptor < 0) {
    ThrowSocketError("socket");
  }
  return SocketHandle(descriptor);
}

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Waits for `events` on the descriptor; false on timeout. Restarts after a signal, so a Ctrl-C
// handler only shortens the wait to the caller's next check.
bool WaitFor(int descriptor, short events, std::chrono::milliseconds timeout) {
  pollfd entry{};
  entry.fd = descriptor;
  entry.events = events;
  const int result = ::poll(&entry, 1, static_cast<int>(timeout.count()));
  if (result < 0) {
    if (errno == EINTR) {
      return false;
    }
    ThrowSocketError("poll");
  }
  return result > 0;
}

class PosixConnection : public Connection {
 public:
  explicit PosixConnection(SocketHandle socket) : socket_(std::move(socket)) {
    // Frames are small and answered one by one; Nagle's delay would only add latency.
    const int enabled = 1;
    ::setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, &enabled, sizeof(enabled));
  }

  void SendAll(const uint8_t* bytes, size_t size) override {
    while (size > 0) {
      // MSG_NOSIGNAL: a peer that went away must give an error here, not a SIGPIPE that ends
      // the process before it can report anything.
      const ssize_t sent = ::send(socket_.get(), bytes, size, MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EINTR) {
          continue;
        }
        ThrowSocketError("send");
      }
      bytes += sent;
      size -= static_cast<size_t>(sent);
    }
  }

  ReceiveOutcome Receive(uint8_t* buffer, size_t capacity, std::chrono::milliseconds timeout,
                         size_t* received) override {
    if (!WaitFor(socket_.get(), POLLIN, timeout)) {
      return ReceiveOutcome::kTimedOut;
    }
    const ssize_t count = ::recv(socket_.get(), buffer, capacity, 0);
    if (count < 0) {
      if (errno == EINTR || errno == EAGAIN) {
        return ReceiveOutcome::kTimedOut;
      }
      if (errno == ECONNRESET) {
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

class PosixListener : public LocalListener {
 public:
  PosixListener(SocketHandle socket, uint16_t port) : socket_(std::move(socket)), port_(port) {}

  uint16_t port() const override { return port_; }

  std::unique_ptr<Connection> Accept(std::chrono::milliseconds timeout) override {
    if (!WaitFor(socket_.get(), POLLIN, timeout)) {
      return nullptr;
    }
    const int descriptor = ::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (descriptor < 0) {
      ThrowSocketError("accept");
    }
    return std::make_unique<PosixConnection>(SocketHandle(descriptor));
  }

 private:
  SocketHandle socket_;
  uint16_t port_;
};

}  // namespace

std::unique_ptr<Connection> ConnectToLocalPort(uint16_t port) {
  SocketHandle socket = OpenStreamSocket();
  const sockaddr_in address = LoopbackAddress(port);
  int result = 0;
  do {
    result = ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  } while (result < 0 && errno == EINTR);
  if (result < 0) {
    ThrowSocketError("connect");
  }
  return std::make_unique<PosixConnection>(std::move(socket));
}

std::unique_ptr<LocalListener> ListenOnLocalPort(uint16_t port) {
  SocketHandle socket = OpenStreamSocket();
  const int enabled = 1;
  ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &enabled, sizeof(enabled));
  sockaddr_in address = LoopbackAddress(port);
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) < 0) {
    ThrowSocketError("bind");
  }
  if (::listen(socket.get(), 4) < 0) {
    ThrowSocketError("listen");
  }
  socklen_t address_size = sizeof(address);
  if (::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &address_size) < 0) {
    ThrowSocketError("getsockname");
  }
  return std::make_unique<PosixListener>(std::move(socket), ntohs(address.sin_port));
}

}  // namespace pel_mora::cli
