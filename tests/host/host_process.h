#pragma once

// The real host executable as a child process of a test: started with chosen arguments, its
// output collected line by line, reached over its interface bridge, and never left running
// after the object is gone.
//
// This header keeps <windows.h> out: its SendMessage macro would rename
// BridgeClient::SendMessage in the test files that include this one.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/connection/bridge_client.h"
#include "cli/connection/interface_secrets.h"
#include "embedding/interface_secret.h"
#include "tests/support/fixture_drive.h"

namespace pel_mora::host_test {

// The built pelmora.exe, as a Windows path ("Z:\...\runner\pelmora.exe").
std::wstring HostExecutablePath();

using test_support::WindowsPathOfUnixPath;

// A fresh folder below the test run's temporary folder ($PELMORA_TEST_TMP), as a Windows path.
// Throws std::runtime_error naming the failing call.
std::wstring CreateTemporaryFolder();

// Copies a file (CopyFileW), throwing std::runtime_error when that fails.
void CopyFileTo(const std::wstring& source, const std::wstring& destination);

// Owns one kernel handle (a HANDLE, kept as void* so that this header needs no <windows.h>).
class KernelHandle {
 public:
  KernelHandle() = default;
  explicit KernelHandle(void* handle) : handle_(handle) {}
  ~KernelHandle();
  KernelHandle(KernelHandle&& other) noexcept : handle_(other.Release()) {}
  KernelHandle& operator=(KernelHandle&& other) noexcept;
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;

  void* Get() const { return handle_; }
  void* Release();

 private:
  void* handle_ = nullptr;
};

struct HostLaunch {
  std::wstring executable = HostExecutablePath();
  // Appended to the quoted program name as they are, so a test writes its own quoting.
  std::wstring arguments;
  // Empty: the test's own current folder.
  std::wstring working_folder;
  // The value of PELMORA_INTERFACE_TOKEN in the host's environment, a fresh secret by default;
  // nothing: the variable is absent and the host makes its own secret.
  std::optional<std::string> secret_variable = embedding::InterfaceSecretText(cli::NewInterfaceSecret());
};

class HostProcess {
 public:
  // Starts the host with its standard output and standard error both sent to one pipe that a
  // thread of this object reads, with PELMORA_INTERFACE_PORT removed from its environment so the
  // bridge takes an ephemeral port, and PELMORA_INTERFACE_TOKEN as the launch says. Throws
  // std::runtime_error when it cannot start.
  explicit HostProcess(const HostLaunch& launch);

  // A host still running is asked to close over its bridge, given time to end, and terminated
  // when it does not; the output reader stops after that.
  ~HostProcess();

  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // The port from the line "Interface bridge listening on 127.0.0.1:PORT". Throws
  // std::runtime_error when the line does not come in time or the host ends first.
  uint16_t WaitForPort(std::chrono::milliseconds timeout = std::chrono::seconds(60));

  // A new interface connection, authenticated with the host's secret, whose hello has arrived
  // (throws when it does not in time).
  std::unique_ptr<cli::BridgeClient> Connect(std::chrono::milliseconds timeout = std::chrono::seconds(60));

  // The host's secret: the one it was given, else the one it published (read from the file its
  // output names). Throws std::runtime_error when there is none to be had.
  embedding::InterfaceSecret Secret(std::chrono::milliseconds timeout = std::chrono::seconds(60));

  // The Windows path of the file holding the secret the host made itself, from its output line;
  // nothing when it wrote no such line within `timeout`.
  std::optional<std::wstring> PublishedSecretPath(std::chrono::milliseconds timeout = std::chrono::seconds(60));

  // The exit code once the process has ended within `timeout`; nothing while it still runs.
  std::optional<uint32_t> WaitForExit(std::chrono::milliseconds timeout);

  // Waits until the output holds `line` exactly (without its line break); false when the
  // output ends or the timeout passes first.
  bool WaitForLine(const std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(30));

  // Waits until at least `count` output lines hold `text`; false when the output ends or the
  // timeout passes first.
  bool WaitForLinesContaining(const std::string& text, size_t count,
                              std::chrono::milliseconds timeout = std::chrono::seconds(30));

  // How many output lines so far hold `text`.
  size_t CountLinesContaining(const std::string& text) const;

  // Every complete output line so far.
  std::vector<std::string> OutputLines() const;

 private:
  void ReadOutput();
  void AppendOutput(const char* bytes, size_t size);
  void RequestCloseOrTerminate();

  std::optional<embedding::InterfaceSecret> given_secret_;
  KernelHandle process_;
  KernelHandle output_read_;
  std::thread reader_;
  bool stop_reading_ = false;  // guarded by output_mutex_

  mutable std::mutex output_mutex_;
  std::condition_variable output_changed_;
  std::vector<std::string> lines_;
  std::string partial_line_;
  bool output_ended_ = false;
  std::optional<uint16_t> port_;
};

}  // namespace pel_mora::host_test
