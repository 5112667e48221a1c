#include "plugin/cleanup/protected_paths.h"

#include <algorithm>
#include <array>
#include <cwctype>

#include "plugin/path_normalization.h"

namespace pel_mora {
namespace {

// The operating system's own locations, without their drive letter, upper case.
constexpr std::array<std::wstring_view, 12> kProtectedLocations = {
    L"\\WINDOWS\\SYSTEM32",
    L"\\WINDOWS\\SYSWOW64",
    L"\\WINDOWS\\WINSXS",
    L"\\WINDOWS\\BOOT",
    L"\\BOOT",
    L"\\BOOTMGR",
    L"\\EFI",
    L"\\RECOVERY",
    L"\\SYSTEM VOLUME INFORMATION",
    L"\\PAGEFILE.SYS",
    L"\\HIBERFIL.SYS",
    L"\\SWAPFILE.SYS",
};

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

wchar_t ToUpper(wchar_t unit) {
  return static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(unit)));
}

bool IsUnderProtectedLocation(std::wstring_view upper_path, wchar_t drive_letter) {
  if (upper_path.size() < 2 || upper_path[0] != drive_letter || upper_path[1] != L':') {
    return false;
  }
  const std::wstring_view rest = upper_path.substr(2);
  for (const std::wstring_view location : kProtectedLocations) {
    if (StartsWith(rest, location)) return true;
  }
  return false;
}

bool IsAsciiLetter(wchar_t unit) {
  return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z');
}

bool IsDriveAbsolute(std::wstring_view path) {
  return path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
}

bool IsShare(std::wstring_view path) {
  return path.size() >= 3 && StartsWith(path, L"\\\\") && path[2] != L'\\';
}

// Characters that never occur in a file name and that the shell would read as something else.
bool IsUnsafeUnit(wchar_t unit) {
  switch (unit) {
    case L'\0':
    case L'*':
    case L'?':
    case L'<':
    case L'>':
    case L'"':
    case L'|':
      return true;
    default:
      return false;
  }
}

// Whether a name of the path, other than "." and "..", ends in a dot or a space. The path
// parser drops those characters from every name, so "keep.txt." reaches "keep.txt" and "Album."
// reaches "Album": where both exist (names copied from Linux or macOS, or made through "\\?\"),
// the shell would move the sibling while the item asked for stays. The shell cannot take the
// literal form that keeps them, so such a name is refused rather than exchanged for another.
bool HasNameEndingInDotOrSpace(std::wstring_view path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring_view::npos) end = path.size();
    const std::wstring_view name = path.substr(start, end - start);
    if (!name.empty() && name != L"." && name != L".." && (name.back() == L'.' || name.back() == L' ')) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

RecycleVerdict CheckRecyclableRequest(std::wstring_view normalized_path) {
  const std::wstring plain = WithoutDevicePrefix(normalized_path);
  if (!IsDriveAbsolute(plain) && !IsShare(plain)) {
    return RecycleVerdict::kRefused;
  }
  for (size_t index = 0; index < plain.size(); ++index) {
    const wchar_t unit = plain[index];
    if (IsUnsafeUnit(unit)) return RecycleVerdict::kRefused;
    // Only a drive letter's own colon, at index 1, is part of a path.
    if (unit == L':' && index != 1) return RecycleVerdict::kRefused;
  }
  if (HasNameEndingInDotOrSpace(plain)) return RecycleVerdict::kRefused;
  return RecycleVerdict::kAllowed;
}

bool IsLiteralPathForm(std::wstring_view normalized_path) {
  return StartsWith(normalized_path, L"\\\\?\\");
}

std::wstring WithoutDevicePrefix(std::wstring_view path) {
  std::wstring tidied = NormalizePath(path);
  const std::wstring_view view = tidied;
  constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";
  std::wstring upper_head;
  for (size_t index = 0; index < view.size() && index < kUncPrefix.size(); ++index) {
    upper_head.push_back(ToUpper(view[index]));
  }
  if (StartsWith(upper_head, kUncPrefix)) {
    return L"\\\\" + std::wstring(view.substr(kUncPrefix.size()));
  }
  if (StartsWith(view, L"\\\\?\\") || StartsWith(view, L"\\\\.\\")) {
    return std::wstring(view.substr(4));
  }
  return tidied;
}

RecycleVerdict CheckRecyclablePath(std::wstring_view full_path, wchar_t windows_drive_letter) {
  const std::wstring plain = WithoutDevicePrefix(full_path);
  if (plain.size() < 3) return RecycleVerdict::kRefused;
  std::wstring upper;
  upper.reserve(plain.size());
  for (const wchar_t unit : plain) upper.push_back(ToUpper(unit));
  if (upper.size() == 3 && upper[1] == L':' && upper[2] == L'\\') return RecycleVerdict::kRefused;
  if (IsUnderProtectedLocation(upper, L'C')) return RecycleVerdict::kRefused;
  const wchar_t windows_drive = ToUpper(windows_drive_letter);
  if (windows_drive != L'C' && IsUnderProtectedLocation(upper, windows_drive)) {
    return RecycleVerdict::kRefused;
  }
  return RecycleVerdict::kAllowed;
}

std::span<const std::wstring_view> SystemLocations() {
  return kProtectedLocations;
}

RecycleVerdict CheckRecyclableObject(const IdentityChain& object, const ProtectedObjects& protected_objects) {
  if (object.size() < 2) return RecycleVerdict::kRefused;
  const auto contains = [](const std::vector<FileIdentity>& set, const FileIdentity& identity) {
    return std::find(set.begin(), set.end(), identity) != set.end();
  };
  for (const FileIdentity& at_or_above : object) {
    if (contains(protected_objects.system_locations, at_or_above)) return RecycleVerdict::kRefused;
  }
  if (contains(protected_objects.holders, object.front()) || contains(protected_objects.kept_folders, object.front())) {
    return RecycleVerdict::kRefused;
  }
  if (protected_objects.user_profiles && object[1] == *protected_objects.user_profiles) {
    return RecycleVerdict::kRefused;
  }
  return RecycleVerdict::kAllowed;
}

}  // namespace pel_mora
