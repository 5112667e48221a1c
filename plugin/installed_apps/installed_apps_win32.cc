// Reading the uninstall entries with the registry calls, and starting an uninstaller. Which
// entries are listed is decided in uninstall_entry_rules.cc; how a command is read and started,
// in uninstall_command.cc.

#include <windows.h>

#include <string>
#include <vector>

#include "plugin/installed_apps/command_starter_win32.h"
#include "plugin/installed_apps/installed_apps.h"
#include "plugin/installed_apps/uninstall_command.h"
#include "plugin/installed_apps/uninstall_entry_rules.h"
#include "plugin/operations.h"
#include "plugin/registry_key.h"
#include "plugin/string_conversion.h"

namespace pel_mora {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

struct UninstallSource {
  HKEY root;
  const wchar_t* subkey;
  REGSAM view;
};

// Not constexpr: the predefined root keys are casts of integers.
const UninstallSource kSources[] = {
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", KEY_WOW64_64KEY},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", KEY_WOW64_32KEY},
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0},
};

constexpr DWORD kStringValueBytes = 2048;

// A string value of at most 2048 bytes, up to its first NUL; empty when missing, of another type
// or larger (the query refuses it). The buffer keeps one character more than the query may
// fill, so text stored without a terminator still ends inside it. Expandable text stays as
// stored.
std::wstring ReadRegString(HKEY key, const wchar_t* name) {
  wchar_t buffer[kStringValueBytes / sizeof(wchar_t) + 1] = {};
  DWORD type = 0;
  DWORD size = kStringValueBytes;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
    return {};
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    return {};
  }
  return std::wstring(buffer);
}

// A DWORD value; anything else (missing, another type, larger than four bytes) reads as absent.
RegistryValueReading ReadDword(HKEY key, const wchar_t* name) {
  RegistryValueReading reading;
  DWORD number = 0;
  DWORD type = 0;
  DWORD size = sizeof(number);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size) == ERROR_SUCCESS &&
      type == REG_DWORD) {
    reading.kind = RegistryValueReading::Kind::kDword;
    reading.number = number;
  }
  return reading;
}

// A value that may be a DWORD or a string of any length ("ParentKeyName").
RegistryValueReading ReadDwordOrString(HKEY key, const wchar_t* name) {
  RegistryValueReading reading;
  DWORD type = 0;
  DWORD size = 0;
  // With no buffer the query only reports the value's type and size.
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    return reading;
  }
  if (type == REG_DWORD) {
    return ReadDword(key, name);
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    reading.kind = RegistryValueReading::Kind::kOther;
    return reading;
  }
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
  DWORD read_size = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &read_size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    // Changed between the two queries; treat it as unreadable.
    reading.kind = RegistryValueReading::Kind::kOther;
    return reading;
  }
  reading.kind = RegistryValueReading::Kind::kString;
  reading.text = std::wstring(buffer.data());
  return reading;
}

EncodableValue Utf8Value(const std::wstring& text) {
  return EncodableValue(WideToUtf8(text));
}

void ReadUninstallKey(const UninstallSource& source, EncodableList& list) {
  const REGSAM access = KEY_READ | source.view;
  RegistryKey source_key;
  if (!source_key.Open(source.root, source.subkey, access)) {
    return;
  }
  DWORD subkey_count = 0;
  DWORD longest_name = 0;
  if (RegQueryInfoKeyW(source_key.Get(), nullptr, nullptr, nullptr, &subkey_count, &longest_name, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return;
  }
  std::vector<wchar_t> name(longest_name + 1, L'\0');
  for (DWORD index = 0; index < subkey_count; ++index) {
    DWORD name_length = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(source_key.Get(), index, name.data(), &name_length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      continue;
    }
    RegistryKey entry;
    if (!entry.Open(source_key.Get(), name.data(), access)) {
      continue;
    }
    UninstallEntryMarks marks;
    marks.system_component = ReadDword(entry.Get(), L"SystemComponent");
    marks.parent_key_name = ReadDwordOrString(entry.Get(), L"ParentKeyName");
    marks.display_name = ReadRegString(entry.Get(), L"DisplayName");
    marks.uninstall_string = ReadRegString(entry.Get(), L"UninstallString");
    if (!IsListedUninstallEntry(marks)) {
      continue;
    }
    list.emplace_back(EncodableMap{
        {EncodableValue("displayName"), Utf8Value(marks.display_name)},
        {EncodableValue("displayVersion"), Utf8Value(ReadRegString(entry.Get(), L"DisplayVersion"))},
        {EncodableValue("publisher"), Utf8Value(ReadRegString(entry.Get(), L"Publisher"))},
        {EncodableValue("installLocation"), Utf8Value(ReadRegString(entry.Get(), L"InstallLocation"))},
        {EncodableValue("uninstallString"), Utf8Value(marks.uninstall_string)},
        {EncodableValue("installDate"), Utf8Value(ReadRegString(entry.Get(), L"InstallDate"))},
        {EncodableValue("displayIcon"), Utf8Value(ReadRegString(entry.Get(), L"DisplayIcon"))},
        {EncodableValue("estimatedSizeBytes"),
         EncodableValue(EstimatedSizeBytes(ReadDword(entry.Get(), L"EstimatedSize")))},
    });
  }
}

}  // namespace

EncodableList ListInstalledApps() {
  EncodableList list;
  for (const UninstallSource& source : kSources) {
    ReadUninstallKey(source, list);
  }
  return list;
}

bool LaunchUninstaller(const std::string& command) {
  Win32CommandStarter starter;
  return LaunchUninstallCommand(Utf8ToWide(command), starter);
}

WorkerReply GetInstalledAppsOperation() {
  return EncodableValue(ListInstalledApps());
}

WorkerReply LaunchUninstallerOperation(const std::string& command) {
  return EncodableValue(LaunchUninstaller(command));
}

}  // namespace pel_mora
