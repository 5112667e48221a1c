#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace pel_mora {

// The path of a known folder (the profile, Program Files, Documents, ...); empty when the shell
// cannot give it.
std::wstring KnownFolder(REFKNOWNFOLDERID folder_id);

}  // namespace pel_mora
