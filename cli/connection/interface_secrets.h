#pragma once

// The secrets that let this client into a host's interface bridge. A host the client starts
// gets a fresh one in its environment (never on its command line, which every local user can
// read); a host already running (--port) was given one by whoever started it, or made its own
// and published it in a file only its user can read.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "embedding/interface_secret.h"

namespace pel_mora::cli {

// A fresh secret: 32 bytes from the system's random source. Throws PlatformError.
embedding::InterfaceSecret NewInterfaceSecret();

// What reading one candidate secret file gave.
struct SecretFileReading {
  enum class Status {
    kMissing,  // no such file: the host did not publish there
    kRefused,  // there, but not to be trusted or not readable; `problem` says why
    kRead,     // `text` holds what the file holds
  };
  Status status = Status::kMissing;
  std::string text;
  std::string problem;
};

// The secret of the host running on `port`: `variable` (the value of PELMORA_INTERFACE_TOKEN,
// null when unset) when it is set, else the secret in the first of `files` that `read_file`
// reads. Throws PlatformError saying what was wrong and where it looked; the message never
// holds a secret.
embedding::InterfaceSecret ChooseRunningHostSecret(uint16_t port, const char* variable,
                                                   const std::vector<std::string>& files,
                                                   const std::function<SecretFileReading(const std::string&)>& read_file);

// ChooseRunningHostSecret with this process's variable and the places where a host on this
// machine publishes the secret it made: under Wine, its user's local application data in this
// client's Wine settings and in $WINEPREFIX (or ~/.wine); on Windows, the user's own. A file is
// refused unless it belongs to this user and no other account may read it.
embedding::InterfaceSecret RunningHostSecret(uint16_t port);

}  // namespace pel_mora::cli
