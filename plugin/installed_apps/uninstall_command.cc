#include "plugin/installed_apps/uninstall_command.h"

#include <cstddef>

namespace pel_mora {

namespace {

bool IsBlank(wchar_t character) {
  return character == L' ' || character == L'\t';
}

std::wstring_view WithoutLeadingBlanks(std::wstring_view text) {
  size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) {
    ++start;
  }
  return text.substr(start);
}

std::wstring_view WithoutTrailingBlanks(std::wstring_view text) {
  size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) {
    --end;
  }
  return text.substr(0, end);
}

// File names compare without regard to the case of A to Z only.
bool EndsWithExe(std::wstring_view text) {
  constexpr std::wstring_view kSuffix = L".exe";
  if (text.size() < kSuffix.size()) {
    return false;
  }
  const std::wstring_view tail = text.substr(text.size() - kSuffix.size());
  for (size_t index = 0; index < kSuffix.size(); ++index) {
    wchar_t character = tail[index];
    if (character >= L'A' && character <= L'Z') {
      character = static_cast<wchar_t>(character - L'A' + L'a');
    }
    if (character != kSuffix[index]) {
      return false;
    }
  }
  return true;
}

bool NamesAFolder(std::wstring_view word) {
  return word.find_first_of(L"\\/:") != std::wstring_view::npos;
}

std::wstring Quoted(std::wstring_view text) {
  std::wstring quoted;
  quoted.reserve(text.size() + 2);
  quoted += L'"';
  quoted += text;
  quoted += L'"';
  return quoted;
}

}  // namespace

CommandParts SplitCommandLine(std::wstring_view command_line) {
  const std::wstring_view text = WithoutLeadingBlanks(command_line);
  CommandParts parts;
  std::wstring_view rest;
  if (!text.empty() && text.front() == L'"') {
    const size_t closing = text.find(L'"', 1);
    if (closing == std::wstring_view::npos) {
      parts.program = std::wstring(text.substr(1));
    } else {
      parts.program = std::wstring(text.substr(1, closing - 1));
      rest = text.substr(closing + 1);
    }
  } else {
    size_t end = 0;
    while (end < text.size() && !IsBlank(text[end])) {
      ++end;
    }
    parts.program = std::wstring(text.substr(0, end));
    rest = text.substr(end);
  }
  parts.parameters = std::wstring(WithoutLeadingBlanks(rest));
  return parts;
}

std::optional<std::wstring> PinProgram(std::wstring_view command_line, PathProbe& probe) {
  const std::wstring_view text = WithoutLeadingBlanks(command_line);
  if (text.empty()) {
    return std::nullopt;
  }
  size_t first_blank = 0;
  while (first_blank < text.size() && !IsBlank(text[first_blank])) {
    ++first_blank;
  }
  if (text.front() == L'"' || first_blank == text.size()) {
    return std::wstring(text);
  }
  for (size_t end = first_blank; end <= text.size(); ++end) {
    if (end < text.size() && !IsBlank(text[end])) {
      continue;
    }
    const std::wstring_view prefix = text.substr(0, end);
    if (EndsWithExe(prefix) && probe.KindOf(std::wstring(prefix)) == PathKind::kFile) {
      return Quoted(prefix) + std::wstring(text.substr(end));
    }
  }
  const std::wstring_view whole = WithoutTrailingBlanks(text);
  if (probe.KindOf(std::wstring(whole)) != PathKind::kMissing) {
    return Quoted(whole);
  }
  if (!NamesAFolder(text.substr(0, first_blank))) {
    return std::wstring(text);
  }
  return std::nullopt;
}

bool LaunchUninstallCommand(const std::wstring& command, CommandStarter& starter) {
  if (command.empty()) {
    return false;
  }
  const std::optional<std::wstring> pinned = PinProgram(starter.ExpandEnvironment(command), starter);
  if (!pinned) {
    return false;
  }
  if (starter.StartProcess(*pinned)) {
    return true;
  }
  const CommandParts parts = SplitCommandLine(*pinned);
  if (parts.program.empty()) {
    return false;
  }
  return starter.OpenWithShell(parts.program, parts.parameters) > 32;
}

}  // namespace pel_mora
