#pragma once

#include <string>

namespace pel_mora {

// True exactly when WinVerifyTrust's generic Authenticode check accepts the file at `path` (no
// user interface, no revocation check, no network): its embedded signature, or, when it has none,
// a security catalogue that lists its hash (how most of Windows' own files are signed). False for
// unsigned, tampered, untrusted, missing or unreadable files.
bool VerifyFileSignature(const std::wstring& path);

}  // namespace pel_mora
