#include "plugin/cleanup/file_identity.h"

namespace pel_mora {
namespace {

wchar_t FoldAsciiCase(wchar_t character) {
  return (character >= L'a' && character <= L'z') ? static_cast<wchar_t>(character - L'a' + L'A') : character;
}

bool StartsWithFolded(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (size_t index = 0; index < prefix.size(); ++index) {
    if (FoldAsciiCase(text[index]) != FoldAsciiCase(prefix[index])) {
      return false;
    }
  }
  return true;
}

// The length of the root part of a final path, its closing separator included; 0 when the text
// is not a final path.
size_t RootLength(std::wstring_view path) {
  constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";
  constexpr std::wstring_view kLocalPrefix = L"\\\\?\\";
  if (StartsWithFolded(path, kUncPrefix)) {
    // Server and share, each non-empty, then a separator or the end.
    const size_t server_end = path.find(L'\\', kUncPrefix.size());
    if (server_end == std::wstring_view::npos || server_end == kUncPrefix.size()) {
      return 0;
    }
    const size_t share_end = path.find(L'\\', server_end + 1);
    if (share_end == server_end + 1) {
      return 0;
    }
    return share_end == std::wstring_view::npos ? 0 : share_end + 1;
  }
  if (!StartsWithFolded(path, kLocalPrefix)) {
    return 0;
  }
  const std::wstring_view rest = path.substr(kLocalPrefix.size());
  const wchar_t letter = rest.empty() ? L'\0' : FoldAsciiCase(rest[0]);
  if (rest.size() >= 3 && letter >= L'A' && letter <= L'Z' && rest[1] == L':' && rest[2] == L'\\') {
    return kLocalPrefix.size() + 3;
  }
  if (StartsWithFolded(rest, L"Volume{")) {
    const size_t end = rest.find(L'\\');
    return end == std::wstring_view::npos ? 0 : kLocalPrefix.size() + end + 1;
  }
  return 0;
}

}  // namespace

std::optional<std::wstring> RootOfFinalPath(std::wstring_view final_path) {
  const size_t root_length = RootLength(final_path);
  if (root_length == 0) {
    return std::nullopt;
  }
  return std::wstring(final_path.substr(0, root_length));
}

std::optional<std::wstring> ParentOfFinalPath(std::wstring_view final_path) {
  const size_t root_length = RootLength(final_path);
  if (root_length == 0) {
    return std::nullopt;
  }
  std::wstring_view below_root = final_path.substr(root_length);
  while (!below_root.empty() && below_root.back() == L'\\') {
    below_root.remove_suffix(1);
  }
  if (below_root.empty()) {
    return std::nullopt;
  }
  const size_t last_separator = below_root.rfind(L'\\');
  if (last_separator == std::wstring_view::npos) {
    return std::wstring(final_path.substr(0, root_length));
  }
  return std::wstring(final_path.substr(0, root_length + last_separator));
}

std::wstring_view LastNameOfPath(std::wstring_view path) {
  const size_t last_separator = path.rfind(L'\\');
  return last_separator == std::wstring_view::npos ? path : path.substr(last_separator + 1);
}

bool IsSameEntryName(std::wstring_view first, std::wstring_view second) {
  return first.size() == second.size() && StartsWithFolded(first, second);
}

}  // namespace pel_mora
