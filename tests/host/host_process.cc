// host_process.h comes first on purpose: it declares BridgeClient::SendMessage before
// <windows.h> turns that name into a macro, so this file sees the same class as every other.
#include "tests/host/host_process.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <utility>

#include "cli/connection/socket.h"
#include "plugin/string_conversion.h"

#ifndef PELMORA_HOST_EXECUTABLE
#error "PELMORA_HOST_EXECUTABLE must name the built pelmora.exe (a Unix path)"
#endif

namespace pel_mora::host_test {

using test_support::EnvironmentVariable;

namespace {

constexpr wchar_t kPortVariable[] = L"PELMORA_INTERFACE_PORT";
constexpr wchar_t kSecretVariable[] = L"PELMORA_INTERFACE_TOKEN";
constexpr char kListeningPrefix[] = "Interface bridge listening on 127.0.0.1:";
constexpr char kPublishedPrefix[] = "Interface bridge: its secret is in ";
constexpr char kPublishedSuffix[] = ", readable only by this user";
constexpr DWORD kPipeBufferSize = 64 * 1024;
// How long the output reader sleeps when the pipe is empty. Wine's services inherit the host's
// output handles and outlive it, so the pipe may never report its end; the reader therefore
// polls, and stops once the host has exited and the pipe is drained.
constexpr auto kOutputPollInterval = std::chrono::milliseconds(10);
constexpr auto kCloseTimeout = std::chrono::seconds(30);
constexpr auto kTerminateTimeout = std::chrono::seconds(10);

[[noreturn]] void ThrowLastError(const std::string& call) {
  const DWORD error = GetLastError();
  throw std::runtime_error(call + " failed (error " + std::to_string(error) + ")");
}

DWORD Milliseconds(std::chrono::milliseconds timeout) {
  return static_cast<DWORD>(std::clamp<int64_t>(timeout.count(), 0, INFINITE - 1));
}

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (size_t index = 0; index < prefix.size(); ++index) {
    if (towupper(text[index]) != towupper(prefix[index])) {
      return false;
    }
  }
  return true;
}

// Frees the block GetEnvironmentStringsW returns.
class EnvironmentStrings {
 public:
  EnvironmentStrings() : block_(GetEnvironmentStringsW()) {}
  ~EnvironmentStrings() {
    if (block_ != nullptr) {
      FreeEnvironmentStringsW(block_);
    }
  }
  EnvironmentStrings(const EnvironmentStrings&) = delete;
  EnvironmentStrings& operator=(const EnvironmentStrings&) = delete;

  const wchar_t* Get() const { return block_; }

 private:
  wchar_t* block_;
};

// This process's environment block without the bridge's variables, so the host listens on an
// ephemeral port whatever the test's own environment says, and with `secret_variable` as the
// secret's variable when there is one.
std::vector<wchar_t> HostEnvironment(const std::optional<std::string>& secret_variable) {
  const EnvironmentStrings strings;
  if (strings.Get() == nullptr) {
    ThrowLastError("GetEnvironmentStringsW");
  }
  const std::wstring removed_port = std::wstring(kPortVariable) + L'=';
  const std::wstring removed_secret = std::wstring(kSecretVariable) + L'=';
  std::vector<wchar_t> block;
  for (const wchar_t* entry = strings.Get(); *entry != L'\0';) {
    const std::wstring_view text(entry);
    if (!StartsWithIgnoringCase(text, removed_port) && !StartsWithIgnoringCase(text, removed_secret)) {
      block.insert(block.end(), text.begin(), text.end());
      block.push_back(L'\0');
    }
    entry += text.size() + 1;
  }
  if (secret_variable) {
    const std::wstring entry = removed_secret + Utf8ToWide(*secret_variable);
    block.insert(block.end(), entry.begin(), entry.end());
    block.push_back(L'\0');
  }
  // The block ends with an empty entry; an empty block is two terminators.
  if (block.empty()) {
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

}  // namespace

std::wstring HostExecutablePath() { return WindowsPathOfUnixPath(Utf8ToWide(PELMORA_HOST_EXECUTABLE)); }

std::wstring CreateTemporaryFolder() {
  static std::atomic<unsigned> counter{0};
  const std::wstring folder = WindowsPathOfUnixPath(EnvironmentVariable(L"PELMORA_TEST_TMP")) + L"\\host-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    ThrowLastError("CreateDirectoryW(" + WideToUtf8(folder) + ")");
  }
  return folder;
}

void CopyFileTo(const std::wstring& source, const std::wstring& destination) {
  if (!CopyFileW(source.c_str(), destination.c_str(), TRUE)) {
    ThrowLastError("CopyFileW(" + WideToUtf8(source) + ", " + WideToUtf8(destination) + ")");
  }
}

KernelHandle::~KernelHandle() {
  if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
    CloseHandle(handle_);
  }
}

KernelHandle& KernelHandle::operator=(KernelHandle&& other) noexcept {
  if (this != &other) {
    KernelHandle old(Release());
    handle_ = other.Release();
  }
  return *this;
}

void* KernelHandle::Release() {
  void* handle = handle_;
  handle_ = nullptr;
  return handle;
}

HostProcess::HostProcess(const HostLaunch& launch) {
  if (launch.secret_variable) {
    given_secret_ = embedding::ParseInterfaceSecret(*launch.secret_variable);
  }
  SECURITY_ATTRIBUTES inheritable{};
  inheritable.nLength = sizeof(inheritable);
  inheritable.bInheritHandle = TRUE;

  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inheritable, kPipeBufferSize)) {
    ThrowLastError("CreatePipe");
  }
  output_read_ = KernelHandle(read_end);
  // Only the host gets the write end; this process keeps its own copy of it only until the host
  // has started (below), so the host's copy is the one that counts.
  const KernelHandle output_write(write_end);
  if (!SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0)) {
    ThrowLastError("SetHandleInformation");
  }
  const KernelHandle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                       OPEN_EXISTING, 0, nullptr));
  if (input.Get() == INVALID_HANDLE_VALUE) {
    ThrowLastError("CreateFileW(NUL)");
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.Get();
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;

  std::wstring command_line = L"\"" + launch.executable + L"\"";
  if (!launch.arguments.empty()) {
    command_line += L" " + launch.arguments;
  }
  std::vector<wchar_t> environment = HostEnvironment(launch.secret_variable);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(launch.executable.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                      CREATE_UNICODE_ENVIRONMENT, environment.data(),
                      launch.working_folder.empty() ? nullptr : launch.working_folder.c_str(), &startup, &started)) {
    ThrowLastError("CreateProcessW(" + WideToUtf8(command_line) + ")");
  }
  process_ = KernelHandle(started.hProcess);
  const KernelHandle thread(started.hThread);

  try {
    reader_ = std::thread(&HostProcess::ReadOutput, this);
  } catch (...) {
    // Without a reader nobody would drain the pipe; a host must not outlive this failure.
    TerminateProcess(process_.Get(), 1);
    WaitForSingleObject(process_.Get(), Milliseconds(kTerminateTimeout));
    throw;
  }
}

HostProcess::~HostProcess() {
  RequestCloseOrTerminate();
  {
    std::lock_guard lock(output_mutex_);
    stop_reading_ = true;
  }
  output_changed_.notify_all();
  reader_.join();
}

void HostProcess::RequestCloseOrTerminate() {
  if (WaitForExit(std::chrono::milliseconds(0))) {
    return;
  }
  try {
    // The close request goes over a connection of its own; a connection a test still holds
    // would make the bridge refuse this one, and then the termination below is what remains.
    const embedding::InterfaceSecret secret = Secret(kCloseTimeout);
    const auto client =
        std::make_unique<cli::BridgeClient>(cli::ConnectToLocalPort(WaitForPort(kCloseTimeout)), secret);
    client->SendCloseRequest();
  } catch (const std::exception&) {
    // No port or no connection: the host is stopped below.
  }
  if (WaitForExit(kCloseTimeout)) {
    return;
  }
  TerminateProcess(process_.Get(), 1);
  WaitForSingleObject(process_.Get(), Milliseconds(kTerminateTimeout));
}

uint16_t HostProcess::WaitForPort(std::chrono::milliseconds timeout) {
  std::unique_lock lock(output_mutex_);
  output_changed_.wait_for(lock, timeout, [this] { return port_.has_value() || output_ended_; });
  if (!port_) {
    throw std::runtime_error(output_ended_ ? "the host ended without listening on its interface bridge"
                                           : "the host's interface bridge did not start listening in time");
  }
  return *port_;
}

embedding::InterfaceSecret HostProcess::Secret(std::chrono::milliseconds timeout) {
  if (given_secret_) {
    return *given_secret_;
  }
  const std::optional<std::wstring> path = PublishedSecretPath(timeout);
  if (!path) {
    throw std::runtime_error("the host was given no valid secret and published none");
  }
  const KernelHandle file(CreateFileW(path->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE) {
    ThrowLastError("CreateFileW(" + WideToUtf8(*path) + ")");
  }
  char digits[64];
  DWORD read = 0;
  if (!ReadFile(file.Get(), digits, sizeof(digits), &read, nullptr)) {
    ThrowLastError("ReadFile(" + WideToUtf8(*path) + ")");
  }
  const std::optional<embedding::InterfaceSecret> secret = embedding::ParseInterfaceSecret(std::string_view(digits, read));
  if (!secret) {
    throw std::runtime_error(WideToUtf8(*path) + " holds no secret");
  }
  return *secret;
}

std::optional<std::wstring> HostProcess::PublishedSecretPath(std::chrono::milliseconds timeout) {
  // The line comes before the listening line; once that is there, so is this one, if at all.
  WaitForPort(timeout);
  for (const std::string& line : OutputLines()) {
    if (line.rfind(kPublishedPrefix, 0) == 0 && line.size() > sizeof(kPublishedPrefix) + sizeof(kPublishedSuffix) &&
        line.compare(line.size() - (sizeof(kPublishedSuffix) - 1), std::string::npos, kPublishedSuffix) == 0) {
      return Utf8ToWide(line.substr(sizeof(kPublishedPrefix) - 1,
                                    line.size() - (sizeof(kPublishedPrefix) - 1) - (sizeof(kPublishedSuffix) - 1)));
    }
  }
  return std::nullopt;
}

std::unique_ptr<cli::BridgeClient> HostProcess::Connect(std::chrono::milliseconds timeout) {
  auto client = std::make_unique<cli::BridgeClient>(cli::ConnectToLocalPort(WaitForPort(timeout)), Secret(timeout));
  if (!client->WaitForHello(timeout)) {
    throw std::runtime_error("no hello from the host's interface bridge");
  }
  return client;
}

std::optional<uint32_t> HostProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (WaitForSingleObject(process_.Get(), Milliseconds(timeout)) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process_.Get(), &exit_code)) {
    ThrowLastError("GetExitCodeProcess");
  }
  return exit_code;
}

bool HostProcess::WaitForLine(const std::string& line, std::chrono::milliseconds timeout) {
  std::unique_lock lock(output_mutex_);
  return output_changed_.wait_for(lock, timeout, [&] {
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end() || output_ended_;
  }) && std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}

size_t HostProcess::CountLinesContaining(const std::string& text) const {
  std::lock_guard lock(output_mutex_);
  return static_cast<size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
    return line.find(text) != std::string::npos;
  }));
}

bool HostProcess::WaitForLinesContaining(const std::string& text, size_t count, std::chrono::milliseconds timeout) {
  const auto enough = [&] {
    return static_cast<size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
             return line.find(text) != std::string::npos;
           })) >= count;
  };
  std::unique_lock lock(output_mutex_);
  return output_changed_.wait_for(lock, timeout, [&] { return enough() || output_ended_; }) && enough();
}

std::vector<std::string> HostProcess::OutputLines() const {
  std::lock_guard lock(output_mutex_);
  return lines_;
}

void HostProcess::ReadOutput() {
  char buffer[4096];
  for (;;) {
    // The exit is looked at before the pipe: whatever the host wrote before it ended is in the
    // pipe by the time its handle is signalled, so an empty pipe after an exit means the end.
    const bool exited = WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0;
    DWORD available = 0;
    if (!PeekNamedPipe(output_read_.Get(), nullptr, 0, nullptr, &available, nullptr)) {
      break;  // Every writer has closed its end.
    }
    if (available > 0) {
      DWORD read = 0;
      if (!ReadFile(output_read_.Get(), buffer, std::min<DWORD>(available, sizeof(buffer)), &read, nullptr) ||
          read == 0) {
        break;
      }
      AppendOutput(buffer, read);
      continue;
    }
    if (exited) {
      break;
    }
    std::unique_lock lock(output_mutex_);
    if (output_changed_.wait_for(lock, kOutputPollInterval, [this] { return stop_reading_; })) {
      break;
    }
  }
  {
    std::lock_guard lock(output_mutex_);
    if (!partial_line_.empty()) {
      lines_.push_back(std::move(partial_line_));
      partial_line_.clear();
    }
    output_ended_ = true;
  }
  output_changed_.notify_all();
}

void HostProcess::AppendOutput(const char* bytes, size_t size) {
  {
    std::lock_guard lock(output_mutex_);
    for (size_t index = 0; index < size; ++index) {
      const char character = bytes[index];
      if (character == '\r') {
        continue;  // The C runtime's text mode writes "\r\n".
      }
      if (character != '\n') {
        partial_line_ += character;
        continue;
      }
      if (!port_ && partial_line_.rfind(kListeningPrefix, 0) == 0) {
        const std::string digits = partial_line_.substr(sizeof(kListeningPrefix) - 1);
        try {
          const unsigned long port = std::stoul(digits);
          if (port > 0 && port <= 65535) {
            port_ = static_cast<uint16_t>(port);
          }
        } catch (const std::exception&) {
          // Not a port: the line stays an ordinary output line.
        }
      }
      lines_.push_back(std::move(partial_line_));
      partial_line_.clear();
    }
  }
  output_changed_.notify_all();
}

}  // namespace pel_mora::host_test
