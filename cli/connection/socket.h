#pragma once

// A byte connection on the loopback interface: what the bridge client needs from a socket.
// socket_posix.cc implements it with BSD sockets, socket_windows.cc with Winsock.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>

namespace pel_mora::cli {

// A failed socket call; the message names the call and the system's reason.
class ConnectionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class ReceiveOutcome {
  kData,      // at least one byte was received
  kTimedOut,  // nothing arrived in time; the connection is still open
  kClosed,    // the peer closed the connection
};

class Connection {
 public:
  virtual ~Connection() = default;

  // Sends every byte or throws ConnectionError.
  virtual void SendAll(const uint8_t* bytes, size_t size) = 0;

  // Waits up to `timeout` for bytes and receives what is there, at most `capacity`;
  // *received is the count on kData. Throws ConnectionError on a failed call.
  virtual ReceiveOutcome Receive(uint8_t* buffer, size_t capacity, std::chrono::milliseconds timeout,
                                 size_t* received) = 0;
};

// Connects to 127.0.0.1:port, or throws ConnectionError.
std::unique_ptr<Connection> ConnectToLocalPort(uint16_t port);

// A listening socket on 127.0.0.1, for peers that play the host (the tests' fake bridge).
class LocalListener {
 public:
  virtual ~LocalListener() = default;

  virtual uint16_t port() const = 0;

  // The next connection, or null when none arrived within `timeout`.
  virtual std::unique_ptr<Connection> Accept(std::chrono::milliseconds timeout) = 0;
};

// Listens on 127.0.0.1:port (0: an ephemeral port), or throws ConnectionError.
std::unique_ptr<LocalListener> ListenOnLocalPort(uint16_t port);

}  // namespace pel_mora::cli
