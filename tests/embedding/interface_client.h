#pragma once

// Test-side helpers for the stand-in embedding: an interface process's end of the bridge (a
// real loopback TCP client), message pumping for the test's own thread (the platform thread),
// a capture of standard error, and fixture folders.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "embedding/interface_frame.h"
#include "embedding/interface_secret.h"
#include "embedding/win32_handles.h"

namespace pel_mora::embedding {

// Dispatches every message waiting for this thread's windows.
void PumpMessages();

// Pumps this thread's messages until `condition` holds. False if it still does not hold after a
// generous safety deadline (a hang guard, not a timing check).
bool PumpMessagesUntil(const std::function<bool()>& condition);

class InterfaceClient {
 public:
  // Null when the connection cannot be made.
  static std::unique_ptr<InterfaceClient> Connect(uint16_t port);

  bool Write(const std::vector<uint8_t>& bytes);
  // Sends the authentication frame that must open the connection.
  bool Authenticate(const InterfaceSecret& secret);
  bool WriteFrame(FrameKind kind, uint32_t id, std::string_view channel, const std::vector<uint8_t>& payload);

  // The next frame from the host, pumping this thread's messages while waiting, so the
  // platform thread keeps working. Nothing once the host has closed the connection.
  std::optional<Frame> ReadFrame();

  // Waits, pumping, until the host closes the connection; false if it stays open past the
  // safety deadline or a frame arrives first.
  bool WaitUntilClosed();

 private:
  InterfaceClient() = default;
  // One receive, waiting briefly; false once the connection is closed.
  bool ReceiveSome();

  WinsockSession winsock_;
  SocketHandle socket_;
  FrameReader reader_{FrameSender::kHost};
  bool closed_ = false;
};

// Sends everything this process writes to standard error (file descriptor 2) into a file for
// as long as the object lives.
class StderrCapture {
 public:
  explicit StderrCapture(std::wstring file_path);
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  std::string Text() const;
  int CountLinesContaining(std::string_view text) const;

 private:
  std::wstring file_path_;
  int saved_descriptor_ = -1;
};

// A new, empty folder below this test run's temporary folder.
std::wstring NewFixtureFolder();
// Creates the folder and every missing parent.
bool CreateFolders(const std::wstring& path);

// The port in the last "Interface bridge listening on 127.0.0.1:PORT" line, or 0.
uint16_t ListeningPort(const std::string& diagnostics);

}  // namespace pel_mora::embedding
