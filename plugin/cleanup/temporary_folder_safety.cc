#include "plugin/cleanup/temporary_folder_safety.h"

#include <algorithm>
#include <cstddef>

namespace pel_mora {
namespace {

bool IsSeparator(wchar_t character) {
  return character == L'\\' || character == L'/';
}

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

// A path split into the part that names the volume or share ("D:" or "\\server\share", compared
// without its prefix) and the components below it, trailing separators dropped. `valid` is false
// for anything that is not a full drive or share path (device paths, relative paths).
struct SplitPath {
  bool valid = false;
  std::wstring root;
  std::wstring rest;  // Below the root, without a leading or trailing separator; empty for a root.
};

SplitPath Split(std::wstring_view path) {
  SplitPath split;
  bool unc = false;
  if (StartsWithFolded(path, L"\\\\?\\UNC\\")) {
    path.remove_prefix(8);
    unc = true;
  } else if (StartsWithFolded(path, L"\\\\?\\") || StartsWithFolded(path, L"\\\\.\\")) {
    path.remove_prefix(4);
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    path.remove_prefix(2);
    unc = true;
  }
  while (!path.empty() && IsSeparator(path.back())) {
    path.remove_suffix(1);
  }
  size_t root_end = 0;
  if (unc) {
    // Server and share: the two first components.
    const size_t server_end = path.find_first_of(L"\\/");
    if (server_end == 0 || server_end == std::wstring_view::npos) {
      return split;
    }
    const size_t share_end = path.find_first_of(L"\\/", server_end + 1);
    if (share_end == server_end + 1) {
      return split;
    }
    root_end = share_end == std::wstring_view::npos ? path.size() : share_end;
  } else {
    const bool drive = path.size() >= 2 && FoldAsciiCase(path[0]) >= L'A' && FoldAsciiCase(path[0]) <= L'Z' &&
                       path[1] == L':';
    if (!drive || (path.size() > 2 && !IsSeparator(path[2]))) {
      return split;
    }
    root_end = 2;
  }
  split.valid = true;
  split.root.assign(path.substr(0, root_end));
  std::wstring_view rest = path.substr(root_end);
  while (!rest.empty() && IsSeparator(rest.front())) {
    rest.remove_prefix(1);
  }
  split.rest.reserve(rest.size());
  for (wchar_t character : rest) {
    split.rest.push_back(IsSeparator(character) ? L'\\' : FoldAsciiCase(character));
  }
  for (wchar_t& character : split.root) {
    character = IsSeparator(character) ? L'\\' : FoldAsciiCase(character);
  }
  return split;
}

// True when `candidate` is `folder` or lies below it.
bool IsSameOrBelow(const SplitPath& candidate, const SplitPath& folder) {
  if (candidate.root != folder.root) {
    return false;
  }
  if (folder.rest.empty()) {
    return true;
  }
  if (candidate.rest.size() < folder.rest.size() || candidate.rest.compare(0, folder.rest.size(), folder.rest) != 0) {
    return false;
  }
  return candidate.rest.size() == folder.rest.size() || candidate.rest[folder.rest.size()] == L'\\';
}

// GetFullPathNameW resolves "." and ".." and drops trailing dots and spaces, except behind a
// "\\?\" prefix, where they pass as they are and the file system may still resolve them. A
// component like that cannot be compared with the protected folders, so it is refused.
bool HasUnresolvedComponent(const std::wstring& rest) {
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find(L'\\', start);
    if (end == std::wstring::npos) {
      end = rest.size();
    }
    if (end == start || rest[end - 1] == L'.' || rest[end - 1] == L' ') {
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

bool IsSafeTemporaryFolder(std::wstring_view canonical_folder, std::span<const std::wstring> protected_folders) {
  const SplitPath folder = Split(canonical_folder);
  if (!folder.valid || folder.rest.empty() || HasUnresolvedComponent(folder.rest)) {
    return false;
  }
  for (const std::wstring& protected_folder : protected_folders) {
    if (protected_folder.empty()) {
      continue;
    }
    const SplitPath kept = Split(protected_folder);
    if (kept.valid && IsSameOrBelow(kept, folder)) {
      return false;
    }
  }
  return true;
}

bool IsSafeTemporaryFolderObject(const IdentityChain& folder, std::span<const TemporaryFolderLimit> limits) {
  if (folder.size() < 2) {
    return false;
  }
  const auto holds = [](const IdentityChain& chain, const FileIdentity& identity) {
    return std::find(chain.begin(), chain.end(), identity) != chain.end();
  };
  for (const TemporaryFolderLimit& limit : limits) {
    if (limit.folder.empty()) {
      continue;
    }
    // The limit's chain holds the temporary folder: the folder is the limit or lies above it.
    if (holds(limit.folder, folder.front())) {
      return false;
    }
    if (limit.kind == TemporaryFolderLimitKind::kNeitherAboveNorInside && holds(folder, limit.folder.front()) &&
        folder.front() != limit.allowed_inside) {
      return false;
    }
  }
  return true;
}

}  // namespace pel_mora
