#pragma once

// Which uninstall entries of the registry appear in the application list, and how an
// uninstaller's command is started. Both are plain decisions, kept apart from the registry and
// process calls so they can be exercised with values no test machine holds on demand.

#include <cstdint>
#include <optional>
#include <string>

namespace pel_mora {

// A registry value as the entry filter sees it: absent, a DWORD, a string, or another type.
struct RegistryValueReading {
  enum class Kind { kAbsent, kDword, kString, kOther };
  Kind kind = Kind::kAbsent;
  uint32_t number = 0;  // The DWORD, when kind is kDword.
  std::wstring text;    // The text up to its first NUL, when kind is kString.
};

// What decides whether an entry is listed.
struct UninstallEntryMarks {
  RegistryValueReading system_component;
  RegistryValueReading parent_key_name;
  std::wstring display_name;
  std::wstring uninstall_string;
};

// An entry is listed unless it is a system component (DWORD 1), names a parent entry (a non-zero
// DWORD, or a non-empty string: an update or part of another product, which Windows' own program
// list hides as well), or lacks a display name or an uninstall command.
bool IsListedUninstallEntry(const UninstallEntryMarks& marks);

// "EstimatedSize" is kept in kibibytes; anything but a DWORD counts as 0.
int64_t EstimatedSizeBytes(const RegistryValueReading& estimated_size);

// The two ways an uninstaller's command may be started, so the launch rule runs against fakes.
class CommandStarter {
 public:
  virtual ~CommandStarter() = default;
  // Starts the command line as a process (the system splits program and arguments itself);
  // true when the process was created.
  virtual bool StartProcess(const std::wstring& command_line) = 0;
  // Asks the shell to open the whole text as one file; the shell's result code (above 32 on
  // success).
  virtual intptr_t OpenWithShell(const std::wstring& file) = 0;
};

// Starts `command` unchanged as a process, or when that fails, opens it with the shell. An empty
// command starts nothing. True when either way started it.
bool LaunchUninstallCommand(const std::wstring& command, CommandStarter& starter);

}  // namespace pel_mora
