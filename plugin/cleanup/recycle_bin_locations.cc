#include "plugin/cleanup/recycle_bin_locations.h"

namespace pel_mora {
namespace {

wchar_t UpperLetter(wchar_t unit) {
  if (unit >= L'a' && unit <= L'z') return static_cast<wchar_t>(unit - L'a' + L'A');
  return unit;
}

bool IsLetter(wchar_t unit) {
  const wchar_t upper = UpperLetter(unit);
  return upper >= L'A' && upper <= L'Z';
}

bool IsSeparator(wchar_t unit) { return unit == L'\\' || unit == L'/'; }

// Whether the text from `at` is a drive's own folder name, "e:", ending the text or a component.
bool IsDriveComponent(std::wstring_view text, size_t at) {
  return at + 2 <= text.size() && IsLetter(text[at]) && text[at + 1] == L':' &&
         (at + 2 == text.size() || IsSeparator(text[at + 2]));
}

}  // namespace

std::optional<wchar_t> DriveOfOriginalLocation(std::wstring_view location) {
  if (!IsDriveComponent(location, 0)) {
    return std::nullopt;
  }
  // The last "dosdevices" folder followed by a drive's own folder wins.
  std::optional<wchar_t> drive = UpperLetter(location[0]);
  constexpr std::wstring_view kDevices = L"dosdevices";
  for (size_t at = 0; at + kDevices.size() + 1 < location.size(); ++at) {
    if (!IsSeparator(location[at])) continue;
    const size_t name = at + 1;
    bool matches = name + kDevices.size() < location.size();
    for (size_t index = 0; matches && index < kDevices.size(); ++index) {
      matches = UpperLetter(location[name + index]) == UpperLetter(kDevices[index]);
    }
    const size_t after = name + kDevices.size();
    if (matches && IsSeparator(location[after]) && IsDriveComponent(location, after + 1)) {
      drive = UpperLetter(location[after + 1]);
    }
  }
  return drive;
}

}  // namespace pel_mora
