#pragma once

// The applications Windows records as installed, from the uninstall entries of the machine (both
// registry views) and of the current user, and the start of an entry's uninstall command.

#include <string>

#include "channel/encodable_value.h"

namespace pel_mora {

// The uninstall entries of the three sources in order (machine 64-bit view, machine 32-bit view,
// current user), each source in its enumeration order; an application registered in two
// sources is listed twice. Unreadable keys and values are skipped.
flutter::EncodableList ListInstalledApps();

// Starts `command` (UTF-8, environment variables expanded, an unquoted program path pinned to
// the file it names) as a process, or failing that asks the shell to open its program with its
// parameters. Never waits for it. False when neither way started it, or when the command names
// no program that is safe to start.
bool LaunchUninstaller(const std::string& command);

}  // namespace pel_mora
