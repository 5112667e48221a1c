// A stand-in host for the client's terminal tests: a scan of drive P: that reports its first
// counts at once and then stays open until the client cancels it, so that a test sees the live
// progress line for as long as it likes, whatever the machine's speed. It writes its port on
// standard output and serves until its standard input closes (the test, or the shell that ran
// it, has gone).
// Usage: fake_scan_host

#include <iostream>
#include <string>

#include "embedding/interface_secret.h"
#include "tests/cli/support/fake_bridge_host.h"

int main() {
  using namespace pel_mora::cli::testing;
  FakeBridgeHost host;
  ScanScript script;
  // Counts whose progress line is wider than a narrow terminal: "Scanning P:\  14.2 GiB  9,363
  // files  4,642 folders" takes exactly 50 columns.
  script.events = {StartedEvent("P:\\"),
                   BatchEvent({FileEntry("P:\\video\\film.mkv", int64_t{9} << 30),
                               FolderEntry("P:\\video", int64_t{9} << 30)},
                              9'363, 4'642, 15'236'000'000)};
  script.wait_for_cancel = true;
  script.events_after_cancel = {CancelledEvent()};
  host.set_scan_script(script);
  // The port, then the secret a client must open with (the test hands it over in the
  // environment, never on a command line).
  std::cout << host.port() << '\n' << pel_mora::embedding::InterfaceSecretText(host.secret()) << std::endl;
  for (std::string line; std::getline(std::cin, line);) {
  }
  return 0;
}
