#pragma once

// File names of the protected key store. Windows file names ignore case, reserve device names
// (NUL, CON, COM1...) whatever their extension, and cannot hold `\/:*?"<>|`, so a key's text
// alone cannot name its file without two keys meeting in one file. Each exact key gets a name of
// its own: a readable part made of the key's safe characters, then a digest of the key's exact
// bytes. The older name (the key with unsafe bytes replaced) is still known, so values stored
// under it can be found, proven by their entropy, and moved.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace pel_mora {

// The older file name without its extension: every byte of `\/:*?"<>|` or below 0x20 becomes
// '_'; all other bytes, non-ASCII ones included, are kept. Distinct keys can share it.
std::string SanitizeKeyName(std::string_view key);

// The file name without its extension for `key`: at most 32 characters of the key in which only
// ASCII letters, digits, '-' and '_' are kept (others become '_'), a '-' and the first 32 hex
// digits of the SHA-256 of the key's bytes. It never starts a device name (there is no dot, and
// the digest always follows) and two keys that differ in any byte (case included) get names that
// differ even when compared without case.
std::string KeyFileStem(std::string_view key);

// SHA-256 of `data`. The key store is its only user; the file hashing of the duplicate finder
// goes through the system's own provider.
std::array<uint8_t, 32> Sha256(std::string_view data);

}  // namespace pel_mora
