#include "plugin/path_normalization.h"

namespace pel_mora {

namespace {

bool IsSeparator(wchar_t character) {
  return character == L'\\' || character == L'/';
}

}  // namespace

std::wstring NormalizePath(std::wstring_view path) {
  std::wstring normalized;
  normalized.reserve(path.size());
  for (size_t position = 0; position < path.size(); ++position) {
    const wchar_t character = path[position];
    if (!IsSeparator(character)) {
      normalized.push_back(character);
      continue;
    }
    // Positions 0 and 1 always stay, so a leading pair survives; later, a separator right after
    // another one in the input is dropped.
    if (position >= 2 && IsSeparator(path[position - 1])) {
      continue;
    }
    normalized.push_back(L'\\');
  }
  return normalized;
}

}  // namespace pel_mora
