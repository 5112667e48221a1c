#include "interface_client.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>

namespace pel_mora::embedding {

namespace {

// Far beyond anything the tests wait for; only there so a fault ends in a failure, not a hang.
constexpr ULONGLONG kSafetyDeadlineMilliseconds = 30000;

}  // namespace

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

bool PumpMessagesUntil(const std::function<bool()>& condition) {
  const ULONGLONG deadline = GetTickCount64() + kSafetyDeadlineMilliseconds;
  for (;;) {
    PumpMessages();
    if (condition()) {
      return true;
    }
    if (GetTickCount64() > deadline) {
      return false;
    }
    MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

std::unique_ptr<InterfaceClient> InterfaceClient::Connect(uint16_t port) {
  std::unique_ptr<InterfaceClient> client(new InterfaceClient());
  if (client->winsock_.result() != 0) {
    return nullptr;
  }
  client->socket_ = SocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!client->socket_) {
    return nullptr;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (connect(client->socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    return nullptr;
  }
  return client;
}

bool InterfaceClient::Write(const std::vector<uint8_t>& bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    const int sent = send(socket_.get(), reinterpret_cast<const char*>(bytes.data() + written),
                          static_cast<int>(bytes.size() - written), 0);
    if (sent <= 0) {
      return false;
    }
    written += static_cast<size_t>(sent);
  }
  return true;
}

bool InterfaceClient::Authenticate(const InterfaceSecret& secret) {
  return Write(AuthenticationFrame(secret));
}

bool InterfaceClient::WriteFrame(FrameKind kind, uint32_t id, std::string_view channel,
                                 const std::vector<uint8_t>& payload) {
  const std::optional<std::vector<uint8_t>> frame = BuildFrame(kind, id, channel, payload.data(), payload.size());
  return frame.has_value() && Write(*frame);
}

bool InterfaceClient::ReceiveSome() {
  if (closed_) {
    return false;
  }
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket_.get(), &readable);
  timeval wait{0, 10000};
  if (select(0, &readable, nullptr, nullptr, &wait) <= 0) {
    return true;
  }
  char buffer[65536];
  const int received = recv(socket_.get(), buffer, sizeof(buffer), 0);
  if (received <= 0) {
    closed_ = true;
    return false;
  }
  reader_.Append(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(received));
  return true;
}

std::optional<Frame> InterfaceClient::ReadFrame() {
  const ULONGLONG deadline = GetTickCount64() + kSafetyDeadlineMilliseconds;
  for (;;) {
    Frame frame;
    const FrameReader::Status status = reader_.Next(&frame);
    if (status == FrameReader::Status::kFrame) {
      return frame;
    }
    if (status == FrameReader::Status::kFailed || GetTickCount64() > deadline) {
      return std::nullopt;
    }
    PumpMessages();
    if (!ReceiveSome()) {
      return std::nullopt;
    }
  }
}

bool InterfaceClient::WaitUntilClosed() {
  const ULONGLONG deadline = GetTickCount64() + kSafetyDeadlineMilliseconds;
  while (GetTickCount64() <= deadline) {
    PumpMessages();
    if (!ReceiveSome()) {
      Frame frame;
      return reader_.Next(&frame) == FrameReader::Status::kNeedMoreBytes;
    }
  }
  return false;
}

StderrCapture::StderrCapture(std::wstring file_path) : file_path_(std::move(file_path)) {
  std::fflush(stderr);
  saved_descriptor_ = _dup(2);
  const int file = _wopen(file_path_.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (file >= 0) {
    _dup2(file, 2);
    _close(file);
  }
}

StderrCapture::~StderrCapture() {
  std::fflush(stderr);
  if (saved_descriptor_ >= 0) {
    _dup2(saved_descriptor_, 2);
    _close(saved_descriptor_);
  }
}

std::string StderrCapture::Text() const {
  std::fflush(stderr);
  std::string text;
  FILE* file = _wfopen(file_path_.c_str(), L"rb");
  if (file == nullptr) {
    return text;
  }
  char buffer[4096];
  size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
    text.append(buffer, read);
  }
  std::fclose(file);
  return text;
}

int StderrCapture::CountLinesContaining(std::string_view text) const {
  const std::string all = Text();
  int count = 0;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) {
      end = all.size();
    }
    if (std::string_view(all).substr(start, end - start).find(text) != std::string_view::npos) {
      ++count;
    }
    start = end + 1;
  }
  return count;
}

std::wstring NewFixtureFolder() {
  static int counter = 0;
  std::wstring base;
  wchar_t unix_folder[1024] = {};
  const DWORD length = GetEnvironmentVariableW(L"PELMORA_TEST_TMP", unix_folder, 1024);
  if (length > 0 && length < 1024) {
    // The wrapper's folder is a Unix path; Wine's drive Z: is the Unix root.
    base = std::wstring(L"Z:") + unix_folder;
    for (wchar_t& character : base) {
      if (character == L'/') {
        character = L'\\';
      }
    }
  } else {
    wchar_t temporary[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temporary);
    base = temporary;
    if (!base.empty() && base.back() == L'\\') {
      base.pop_back();
    }
  }
  const std::wstring folder = base + L"\\embedding-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++counter);
  CreateFolders(folder);
  return folder;
}

bool CreateFolders(const std::wstring& path) {
  for (size_t separator = path.find(L'\\', 3); ; separator = path.find(L'\\', separator + 1)) {
    const std::wstring part = path.substr(0, separator);
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
    if (separator == std::wstring::npos) {
      return true;
    }
  }
}

uint16_t ListeningPort(const std::string& diagnostics) {
  static constexpr std::string_view kPrefix = "Interface bridge listening on 127.0.0.1:";
  const size_t found = diagnostics.rfind(kPrefix);
  if (found == std::string::npos) {
    return 0;
  }
  uint32_t port = 0;
  for (size_t index = found + kPrefix.size(); index < diagnostics.size(); ++index) {
    const char character = diagnostics[index];
    if (character < '0' || character > '9') {
      break;
    }
    port = port * 10 + static_cast<uint32_t>(character - '0');
  }
  return port <= 65535 ? static_cast<uint16_t>(port) : 0;
}

}  // namespace pel_mora::embedding
