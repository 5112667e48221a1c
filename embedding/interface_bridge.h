#pragma once

// The interface bridge: one TCP connection at a time on 127.0.0.1, carrying the frames of
// interface_frame.h between the host and an interface process.
//
// Only an interface that holds the run's secret gets in: every connection must open with the
// authentication frame carrying it, and until that frame is accepted the connection gets nothing
// (no hello) and nothing it sends reaches the listener. Another frame first, a wrong secret or a
// connection that stays silent past the authentication timeout is closed after one diagnostic
// line that never holds a secret; the bridge serves on.
//
// One thread of its own does all the network work with non-blocking sockets: it accepts,
// reads, parses and writes, and it owns every socket, so no socket is ever shared between
// threads. Other threads only put complete frames on the outgoing queue, which never blocks them
// on the network.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "embedding/interface_frame.h"
#include "embedding/interface_secret.h"
#include "embedding/win32_handles.h"

namespace pel_mora::embedding {

struct BridgeSettings {
  // Where to listen on 127.0.0.1; an ephemeral port when absent.
  std::optional<uint16_t> port;
  InterfaceSecret secret{};
  // How long a new connection may take to send its authentication frame.
  std::chrono::milliseconds authentication_timeout{5000};
};

class InterfaceBridge {
 public:
  // Told about what the interface sends. Called on the bridge's own thread, one call at a time;
  // the calls must not block and must not throw. `connection` numbers the connection a frame
  // came on (1 for the first, then counting up).
  class Listener {
   public:
    virtual ~Listener() = default;
    virtual void OnPlatformMessage(uint64_t connection, Frame frame) = 0;
    virtual void OnHostMessageResponse(uint64_t connection, Frame frame) = 0;
    virtual void OnCloseRequest() = 0;
    // The connection has ended; nothing more will arrive on it and frames queued for it are gone.
    virtual void OnConnectionEnded(uint64_t connection) = 0;
  };

  // Listens on 127.0.0.1 as `settings` say; connections wait until Serve. `hello_frame` is sent
  // first on every connection once its authentication is accepted. Null, after one diagnostic
  // line, when Winsock, the socket, the bind or the listen fails.
  static std::unique_ptr<InterfaceBridge> Listen(Listener* listener, const BridgeSettings& settings,
                                                 std::vector<uint8_t> hello_frame);

  // Writes the line "Interface bridge listening on 127.0.0.1:PORT" to standard error and starts
  // the bridge's thread. False, after one diagnostic line, when the thread cannot start.
  bool Serve();

  // Writes what is queued as far as the socket takes it without waiting, closes the sockets and
  // joins the thread: afterwards the listener is never called again.
  ~InterfaceBridge();

  InterfaceBridge(const InterfaceBridge&) = delete;
  InterfaceBridge& operator=(const InterfaceBridge&) = delete;

  // Any thread. Queues a complete frame for the current connection and returns that
  // connection's number; nothing, and the frame is dropped, when no interface is connected.
  std::optional<uint64_t> QueueFrame(std::vector<uint8_t> frame);

  // Any thread. Queues a frame only if `connection` is still the current one (a response must
  // never reach a later connection that did not ask); false when it was dropped.
  bool QueueFrameFor(uint64_t connection, std::vector<uint8_t> frame);

  uint16_t port() const { return port_; }

 private:
  struct QueuedFrame {
    uint64_t connection;
    std::vector<uint8_t> bytes;
  };

  InterfaceBridge(Listener* listener, const BridgeSettings& settings, std::vector<uint8_t> hello_frame);

  // Everything below runs on the bridge's thread.
  void Run();
  // How long the bridge may wait for events: until the current connection's authentication is
  // due, or for ever.
  DWORD WaitTimeout() const;
  // Ends a connection whose authentication frame is overdue; true when it did.
  bool EndOverdueConnection();
  void AcceptConnection();
  // Whether the current connection is still open once what it has already sent is read.
  bool CurrentConnectionStaysOpen();
  void AdoptConnection(SocketHandle socket);
  void TakeQueuedFrames();
  // False once the connection has ended.
  bool ReadAvailable();
  bool DispatchFrames();
  // Opens the connection to the listener and the host's messages once its secret is accepted;
  // false once it has ended the connection instead.
  bool Authenticate(const Frame& frame);
  void WriteQueued();
  void EndConnection();

  // Set before the thread starts and never changed.
  Listener* listener_;
  std::vector<uint8_t> hello_frame_;
  InterfaceSecret secret_;
  std::chrono::milliseconds authentication_timeout_;
  uint16_t port_ = 0;

  // Declared first so Winsock outlives every socket below.
  WinsockSession winsock_;
  KernelHandle stop_event_;
  KernelHandle wake_event_;
  KernelHandle listen_event_;
  KernelHandle connection_event_;
  SocketHandle listen_socket_;

  // The bridge thread's own: never touched by other threads while it runs.
  SocketHandle connection_socket_;
  // Whether the connection's secret has been accepted; until then it is numbered 0 and nothing
  // of it reaches the listener.
  bool authenticated_ = false;
  // GetTickCount64 value by which an unauthenticated connection must have sent its secret.
  ULONGLONG authentication_due_ = 0;
  uint64_t current_connection_ = 0;
  std::vector<uint8_t> receive_buffer_;
  FrameReader reader_{FrameSender::kInterface};
  std::deque<std::vector<uint8_t>> output_;
  // Bytes of output_.front() already written.
  size_t output_offset_ = 0;
  size_t output_bytes_ = 0;

  // Guarded by queue_mutex_: shared between the bridge's thread and every sender.
  std::mutex queue_mutex_;
  bool connected_ = false;
  uint64_t connection_number_ = 0;
  std::vector<QueuedFrame> queue_;

  std::thread thread_;
};

}  // namespace pel_mora::embedding
