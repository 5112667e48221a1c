#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "cli/connection/process_platform.h"
#include "cli/connection/wine_platform.h"

namespace pel_mora::cli {

namespace {

// The folder of this executable, from the kernel's own record of it (Linux); empty when the
// system has no such record.
std::string ExecutableDirectory() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : executable.parent_path().string();
}

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  // POSIX arguments are bytes already; in a UTF-8 locale they are UTF-8.
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void PrepareConsoleOutput() {}

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

size_t StandardErrorColumns() {
  struct winsize size {};
  return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

bool StandardInputIsTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}

std::unique_ptr<HostPlatform> CreateHostPlatform() {
  WinePlatformSettings settings;
  settings.wine_root = DefaultWineRoot();
  settings.default_hosts = DefaultHostCandidates(ExecutableDirectory(), std::getenv("PELMORA_HOST"));
  return std::make_unique<WinePlatform>(std::move(settings));
}

}  // namespace pel_mora::cli
