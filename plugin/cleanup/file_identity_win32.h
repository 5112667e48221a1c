#pragma once

// Reading the identity of files and folders through handles, for the guards that protect them.

#include <windows.h>

#include <optional>
#include <string>

#include "plugin/cleanup/cleanup_places.h"
#include "plugin/cleanup/file_identity.h"

namespace pel_mora {

// Whether opening a path resolves a link at its end or opens the link's own entry. Links in the
// middle of a path are always resolved.
enum class LinkHandling { kFollow, kOpenLinkItself };

// Opens a file or folder for reading its attributes only, sharing everything, so that opening it
// disturbs nobody. INVALID_HANDLE_VALUE on failure.
HANDLE OpenForIdentity(const std::wstring& path, LinkHandling link_handling);

// The volume and file id of an open file or folder: the 128-bit id where the file system gives
// one, else the 64-bit index.
std::optional<FileIdentity> IdentityOfHandle(HANDLE handle);

// Where an open file or folder really lies, every link resolved ("\\?\C:\Windows\System32",
// "\\?\UNC\server\share\x", or "\\?\Volume{...}\x" for a volume without a letter).
std::optional<std::wstring> FinalPathOfHandle(HANDLE handle);

// The identity of what `path` names, opened with `link_handling`; nothing when it cannot be
// opened.
std::optional<FileIdentity> IdentityOfPath(const std::wstring& path, LinkHandling link_handling);

// The open object and every folder above where it really lies, up to its volume's root. Nothing
// when any of them cannot be read: a guard that cannot see a whole chain refuses.
std::optional<IdentityChain> IdentityChainOfHandle(HANDLE handle);

// The same for a path.
std::optional<IdentityChain> IdentityChainOfPath(const std::wstring& path, LinkHandling link_handling);

// The open object and every folder above it, with the last name of each as the final path
// spells it; nothing when any of them cannot be read.
std::optional<NamedIdentityChain> NamedIdentityChainOfHandle(HANDLE handle);

// The same for a path.
std::optional<NamedIdentityChain> NamedIdentityChainOfPath(const std::wstring& path, LinkHandling link_handling);

}  // namespace pel_mora
