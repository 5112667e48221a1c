#pragma once

// What main() needs from the operating system; process_platform_posix.cc and
// process_platform_windows.cc provide it.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "cli/connection/host_platform.h"

namespace pel_mora::cli {

// The command-line arguments after the program name, as UTF-8.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Makes the console show UTF-8 output as such (a no-op where terminals already do).
void PrepareConsoleOutput();

bool StandardErrorIsTerminal();
// The width of the terminal on standard error, in columns; 0 when it is none or cannot tell.
size_t StandardErrorColumns();
bool StandardInputIsTerminal();

// The platform that starts hosts and maps drive letters, or null where this build has none.
std::unique_ptr<HostPlatform> CreateHostPlatform();

}  // namespace pel_mora::cli
