#pragma once

// What the engine reads from its surroundings: the file system when it is created, the
// environment when it starts, and its one text conversion.

#include <cstdint>
#include <optional>
#include <string>

namespace pel_mora::embedding {

// UTF-16 to UTF-8; a null or empty input, or one that cannot be converted (an unpaired
// surrogate), gives an empty string.
std::string WideToUtf8(const wchar_t* text);

// A relative path joined to the folder of the running executable; a path that starts with a
// drive letter and colon, or with a backslash or slash, is returned as it is.
std::wstring ResolveAgainstExecutableFolder(const std::wstring& path);

bool DirectoryExists(const std::wstring& path);

// The bridge's port from the environment variable PELMORA_INTERFACE_PORT, read from the live
// process environment; nothing when it is unset, empty or invalid.
std::optional<uint16_t> InterfacePortFromEnvironment();

}  // namespace pel_mora::embedding
