// The protected key store outlives the host: a value written through one run of pelmora.exe is
// read back by the next, as the interface expects after a restart.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "channel/encodable_value.h"
#include "cli/connection/bridge_client.h"
#include "tests/host/host_process.h"

namespace pel_mora::host_test {
namespace {

using cli::BridgeClient;
using cli::Reply;
using cli::ReplyKind;
using flutter::EncodableMap;
using flutter::EncodableValue;

// Bounds on waiting for a broken host, never expectations.
constexpr auto kReplyTimeout = std::chrono::seconds(60);
constexpr auto kExitTimeout = std::chrono::seconds(60);
constexpr auto kPumpSlice = std::chrono::milliseconds(100);

// A key of this test's own, so other test executables sharing the prefix never meet it.
constexpr char kKey[] = "host-persistence-test/api token";

EncodableValue CallNative(BridgeClient& client, const std::string& method, const EncodableMap& arguments) {
  const EncodableValue argument_value(arguments);
  const uint32_t id = client.SendMethodCall(cli::kNativeChannel, method, &argument_value);
  const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
  for (;;) {
    if (std::optional<Reply> reply = client.TakeReply(id)) {
      EXPECT_EQ(reply->kind, ReplyKind::kSuccess) << method << ": " << reply->error_code << " " << reply->error_message;
      return reply->value;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw std::runtime_error("no response to " + method);
    }
    client.Pump(kPumpSlice);
  }
}

EncodableMap KeyArguments() { return EncodableMap{{EncodableValue("key"), EncodableValue(kKey)}}; }

// Runs one host process, lets `work` use its bridge, then closes the host as a user would and
// waits for it to end, so the next run starts only after this one has gone.
template <typename Work>
void WithOneHostRun(Work work) {
  HostProcess host(HostLaunch{});
  {
    std::unique_ptr<BridgeClient> client = host.Connect();
    work(*client);
    client->SendCloseRequest();
  }
  EXPECT_EQ(host.WaitForExit(kExitTimeout), std::optional<uint32_t>(0));
}

TEST(KeyStorePersistenceTest, ValueWrittenByOneHostIsReadByTheNextAndDeletedForGood) {
  const std::string value = "v\xC3\xA4lue written by the first run";
  WithOneHostRun([&](BridgeClient& client) {
    EncodableMap write = KeyArguments();
    write[EncodableValue("value")] = EncodableValue(value);
    EXPECT_EQ(CallNative(client, "secureWrite", write), EncodableValue(true));
  });
  WithOneHostRun([&](BridgeClient& client) {
    EXPECT_EQ(CallNative(client, "secureRead", KeyArguments()), EncodableValue(value));
    EXPECT_EQ(CallNative(client, "secureDelete", KeyArguments()), EncodableValue(true));
  });
  WithOneHostRun([&](BridgeClient& client) {
    // A key with nothing stored reads as false.
    EXPECT_EQ(CallNative(client, "secureRead", KeyArguments()), EncodableValue(false));
  });
}

}  // namespace
}  // namespace pel_mora::host_test
