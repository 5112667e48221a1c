#pragma once

// The protected key store's write, with a point where a test can stand in for the system.

#include <functional>
#include <string>

namespace pel_mora {

struct KeyStoreHooks {
  // Puts the file that holds the new value (`from`) in place of the key's file (`to`) and says
  // whether it did; MoveFileExW when unset. A test plays a replace that fails with it.
  std::function<bool(const std::wstring& from, const std::wstring& to)> replace_file;
};

// Stores `value` under `key` and says whether it did. The new value is written to a file of its
// own that then replaces the key's file, so a write that fails leaves the previous value
// readable.
bool WriteSecureValue(const std::string& key, const std::string& value, const KeyStoreHooks& hooks = {});

}  // namespace pel_mora
