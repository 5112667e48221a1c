// What a stranger can do to a host's interface bridge: it can reach the loopback port, but it was
// never given the secret. Run by the bridge access tests as this user and, through setpriv, as
// another one. It connects, sends what the scenario says and reports on standard output what the
// host did:
//   closed       the host closed the connection and sent nothing at all (no hello)
//   received N   the host sent N bytes (a hello or a response) before anything else
//   open         the connection was still open, silent, after a minute
//   unreachable  the connection could not be made
// Exit status 0 for "closed" only.
//
// Usage: bridge_probe PORT SCENARIO KEY
//   silent        sends nothing
//   call-first    a method call storing KEY in the key store, then a close request
//   close-first   a close request
//   wrong-secret  an authentication frame with a secret of its own, then the call storing KEY
//   not-a-secret  an authentication frame whose 64 characters are no hexadecimal digits
// No scenario ever needs the host's secret: a stranger does not have it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "channel/standard_method_codec.h"
#include "embedding/interface_frame.h"
#include "embedding/interface_secret.h"

namespace {

using Bytes = std::vector<uint8_t>;
using pel_mora::embedding::BuildFrame;
using pel_mora::embedding::FrameKind;

void Append(Bytes& bytes, const Bytes& more) {
  bytes.insert(bytes.end(), more.begin(), more.end());
}

Bytes StoreCall(const std::string& key) {
  using flutter::EncodableMap;
  using flutter::EncodableValue;
  const flutter::MethodCall<EncodableValue> call(
      "secureWrite", std::make_unique<EncodableValue>(EncodableMap{
                         {EncodableValue("key"), EncodableValue(key)},
                         {EncodableValue("value"), EncodableValue("written by a stranger")}}));
  const std::unique_ptr<std::vector<uint8_t>> payload = flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call);
  return *BuildFrame(FrameKind::kPlatformMessage, 1, "com.pelmora.app/native", payload->data(), payload->size());
}

Bytes CloseRequest() {
  return *BuildFrame(FrameKind::kCloseRequest, 0, "", nullptr, 0);
}

// A secret of the stranger's own making: anything but the host's.
pel_mora::embedding::InterfaceSecret GuessedSecret() {
  std::random_device source;
  pel_mora::embedding::InterfaceSecret secret{};
  for (uint8_t& byte : secret) {
    byte = static_cast<uint8_t>(source());
  }
  return secret;
}

bool ScenarioBytes(const std::string& scenario, const std::string& key, Bytes* bytes) {
  if (scenario == "silent") {
    return true;
  }
  if (scenario == "call-first") {
    Append(*bytes, StoreCall(key));
    Append(*bytes, CloseRequest());
    return true;
  }
  if (scenario == "close-first") {
    Append(*bytes, CloseRequest());
    return true;
  }
  if (scenario == "wrong-secret") {
    Append(*bytes, pel_mora::embedding::AuthenticationFrame(GuessedSecret()));
    Append(*bytes, StoreCall(key));
    return true;
  }
  if (scenario == "not-a-secret") {
    const Bytes letters(pel_mora::embedding::kAuthenticationPayloadSize, 'z');
    Append(*bytes, *BuildFrame(FrameKind::kAuthentication, 0, "", letters.data(), letters.size()));
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Bytes bytes;
  if (argc != 4 || !ScenarioBytes(argv[2], argv[3], &bytes)) {
    std::fprintf(stderr, "usage: bridge_probe PORT silent|call-first|close-first|wrong-secret|not-a-secret KEY\n");
    return 2;
  }
  const int connection = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(std::stoi(argv[1])));
  if (connection < 0 || ::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    std::printf("unreachable\n");
    return 1;
  }
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t count = ::send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) {
      break;  // the host may close before everything is sent; what it sent back tells the rest
    }
    sent += static_cast<size_t>(count);
  }
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < give_up) {
    pollfd entry{connection, POLLIN, 0};
    if (::poll(&entry, 1, 100) <= 0) {
      continue;
    }
    uint8_t buffer[4096];
    const ssize_t count = ::recv(connection, buffer, sizeof(buffer), 0);
    if (count > 0) {
      std::printf("received %zd\n", count);
      return 1;
    }
    // The end of the stream, or a reset: the host dropped the connection.
    std::printf("closed\n");
    return 0;
  }
  std::printf("open\n");
  return 1;
}
