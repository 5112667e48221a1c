#include "plugin/search/search_criteria.h"

#include <array>

#include "plugin/path_normalization.h"

namespace pel_mora {
namespace {

wchar_t ToLowerAscii(wchar_t character) {
  return (character >= L'A' && character <= L'Z') ? static_cast<wchar_t>(character - L'A' + L'a') : character;
}

bool IsQuerySeparator(wchar_t character) {
  return character == L' ' || character == L'\t' || character == L'\n' || character == L'\v' || character == L'\f' ||
         character == L'\r';
}

bool IsExtensionSeparator(wchar_t character) {
  return character == L',' || character == L';' || character == L' ' || character == L'|';
}

bool IsWildcard(wchar_t character) { return character == L'*' || character == L'?'; }

bool EqualIgnoringAsciiCase(std::wstring_view left, std::wstring_view right) {
  if (left.size() != right.size()) {
    return false;
  }
  for (size_t index = 0; index < left.size(); ++index) {
    if (ToLowerAscii(left[index]) != ToLowerAscii(right[index])) {
      return false;
    }
  }
  return true;
}

// Calls `piece` for every non-empty run of characters between separators.
template <typename IsSeparator, typename PieceCallback>
void ForEachPiece(std::wstring_view text, IsSeparator is_separator, PieceCallback piece) {
  size_t start = 0;
  while (start < text.size()) {
    while (start < text.size() && is_separator(text[start])) {
      ++start;
    }
    size_t end = start;
    while (end < text.size() && !is_separator(text[end])) {
      ++end;
    }
    if (end > start) {
      piece(text.substr(start, end - start));
    }
    start = end;
  }
}

constexpr std::array<std::wstring_view, 5> kExcludedSystemPaths = {
    L"\\windows\\winsxs",
    L"\\windows\\system32\\driverstore",
    L"\\windows\\servicing",
    L"\\windows\\softwaredistribution\\download",
    L"\\appdata\\local\\packages",
};

constexpr std::array<std::wstring_view, 11> kExcludedEntryNames = {
    L"$RECYCLE.BIN", L"$Recycle.Bin", L"System Volume Information", L"$WinREAgent", L"$WINDOWS.~BT", L"$Windows.~WS",
    L"node_modules", L".git", L".vs", L".gradle", L"Package Cache",
};

}  // namespace

std::wstring ToLowerWide(std::wstring_view text) {
  std::wstring lower;
  ToLowerWide(text, lower);
  return lower;
}

void ToLowerWide(std::wstring_view text, std::wstring& output) {
  output.resize(text.size());
  for (size_t index = 0; index < text.size(); ++index) {
    output[index] = ToLowerAscii(text[index]);
  }
}

std::vector<std::wstring> ParseQueryTokens(std::wstring_view query) {
  std::vector<std::wstring> tokens;
  ForEachPiece(query, IsQuerySeparator, [&tokens](std::wstring_view word) {
    while (!word.empty() && IsWildcard(word.front())) {
      word.remove_prefix(1);
    }
    while (!word.empty() && IsWildcard(word.back())) {
      word.remove_suffix(1);
    }
    if (!word.empty()) {
      tokens.push_back(ToLowerWide(word));
    }
  });
  return tokens;
}

std::vector<std::wstring> ParseExtensionList(std::wstring_view text) {
  std::vector<std::wstring> extensions;
  ForEachPiece(text, IsExtensionSeparator, [&extensions](std::wstring_view piece) {
    if (piece.front() == L'.') {
      piece.remove_prefix(1);
    }
    if (piece.size() >= 2 && piece[0] == L'*' && piece[1] == L'.') {
      piece.remove_prefix(2);
    }
    if (!piece.empty()) {
      extensions.push_back(ToLowerWide(piece));
    }
  });
  return extensions;
}

bool IsExcludedSystemPath(std::wstring_view lower_case_path) {
  for (const std::wstring_view excluded : kExcludedSystemPaths) {
    if (lower_case_path.find(excluded) != std::wstring_view::npos) {
      return true;
    }
  }
  return false;
}

bool IsExcludedEntryName(std::wstring_view name) {
  for (const std::wstring_view excluded : kExcludedEntryNames) {
    if (EqualIgnoringAsciiCase(name, excluded)) {
      return true;
    }
  }
  return false;
}

std::wstring_view FileExtensionOf(std::wstring_view name) {
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos || dot == 0) {
    return {};
  }
  return name.substr(dot + 1);
}

int32_t EffectiveResultLimit(int64_t requested) {
  // The interface may send 64 bits; only the low 32 count, read as a signed number (a modular
  // conversion since C++20).
  const auto limit = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(requested)));
  return limit < 1 ? 500 : limit;
}

std::wstring SearchRootFolder(std::wstring_view requested_root) {
  std::wstring root = NormalizePath(requested_root);
  if (root.empty()) {
    root = L"C:\\";
  }
  if (root.back() != L'\\' && root.back() != L'/') {
    root += L'\\';
  }
  return root;
}

SearchCriteria::SearchCriteria(std::wstring_view query,
                               std::wstring_view extension_list,
                               int64_t min_size,
                               int64_t max_size)
    : query_tokens_(ParseQueryTokens(query)),
      extensions_(ParseExtensionList(extension_list)),
      min_size_(min_size),
      max_size_(max_size) {}

bool SearchCriteria::Matches(std::wstring_view name, int64_t size_bytes, std::wstring& lower_case_buffer) const {
  if ((min_size_ >= 1 && size_bytes < min_size_) || (max_size_ >= 1 && size_bytes > max_size_)) {
    return false;
  }
  if (!extensions_.empty()) {
    const std::wstring_view extension = FileExtensionOf(name);
    if (extension.empty()) {
      return false;
    }
    ToLowerWide(extension, lower_case_buffer);
    bool listed = false;
    for (const std::wstring& wanted : extensions_) {
      if (wanted == lower_case_buffer) {
        listed = true;
        break;
      }
    }
    if (!listed) {
      return false;
    }
  }
  if (!query_tokens_.empty()) {
    ToLowerWide(name, lower_case_buffer);
    for (const std::wstring& token : query_tokens_) {
      if (lower_case_buffer.find(token) == std::wstring::npos) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace pel_mora
