#pragma once

// Where the interface bridge's secret comes from for one run of the host: whoever started it
// hands it over in the environment; a host started without one makes its own and tells only its
// own user, in a file no other account can read.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "embedding/interface_secret.h"

namespace pel_mora::embedding {

enum class EnvironmentSecret {
  kTaken,    // the variable held a secret
  kAbsent,   // the variable was unset or empty
  kInvalid,  // the variable held something else than 64 hexadecimal digits
};

// Reads PELMORA_INTERFACE_TOKEN and removes it from this process's environment, so no program
// the host starts (an uninstaller, an opened document) inherits it. `*secret` is set for kTaken.
EnvironmentSecret TakeSecretFromEnvironment(InterfaceSecret* secret);

// 32 bytes from the system's random source. Nothing, with the failing call in `*error`, when
// the source fails.
std::optional<InterfaceSecret> MakeSecret(std::string* error);

// The secret written to %LOCALAPPDATA%\Pelmora\interface-bridge-PORT.secret (64 digits and a
// line break) through a security descriptor that grants this user alone any access; the file
// goes again with the object.
class PublishedSecret {
 public:
  // Null, with the failing call and the path in `*error`, when the file cannot be written.
  static std::unique_ptr<PublishedSecret> Publish(uint16_t port, const InterfaceSecret& secret, std::string* error);

  ~PublishedSecret();

  PublishedSecret(const PublishedSecret&) = delete;
  PublishedSecret& operator=(const PublishedSecret&) = delete;

  const std::wstring& path() const { return path_; }

 private:
  explicit PublishedSecret(std::wstring path) : path_(std::move(path)) {}

  std::wstring path_;
};

// The file name a host listening on `port` publishes its own secret under.
std::wstring SecretFileName(uint16_t port);

}  // namespace pel_mora::embedding
