#pragma once

// Which uninstall entries of the registry appear in the application list: a plain decision, kept
// apart from the registry calls so it can be exercised with values no test machine holds on
// demand.

#include <cstdint>
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

}  // namespace pel_mora
