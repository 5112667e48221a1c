#pragma once

#include <string>

namespace pel_mora {

// True exactly when WinVerifyTrust's generic Authenticode check accepts the file at `path`
// (no user interface, no revocation check); false for unsigned, tampered, untrusted, missing or
// unreadable files.
bool VerifyFileSignature(const std::wstring& path);

}  // namespace pel_mora
