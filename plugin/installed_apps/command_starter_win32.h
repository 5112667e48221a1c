#pragma once

// The Windows calls behind an uninstaller's launch: environment expansion, file probes,
// CreateProcessW and ShellExecuteW. Declared here so a test can replace one call (a process
// creation that needs elevation) and keep the others real.

#include <cstdint>
#include <string>

#include "plugin/installed_apps/uninstall_command.h"

namespace pel_mora {

class Win32CommandStarter : public CommandStarter {
 public:
  PathKind KindOf(const std::wstring& path) override;
  std::wstring ExpandEnvironment(const std::wstring& text) override;
  bool StartProcess(const std::wstring& command_line) override;
  intptr_t OpenWithShell(const std::wstring& program, const std::wstring& parameters) override;
};

}  // namespace pel_mora
