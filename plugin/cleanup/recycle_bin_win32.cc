#include "plugin/cleanup/recycle_bin.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "plugin/operations.h"

namespace pel_mora {

namespace {

// The shell takes a null root to mean every drive's Recycle Bin.
const wchar_t* ShellRoot(const std::wstring& root) {
  return root.empty() ? nullptr : root.c_str();
}

}  // namespace

flutter::EncodableMap QueryRecycleBin(const std::wstring& root) {
  SHQUERYRBINFO info{};
  info.cbSize = sizeof(info);
  int64_t total_bytes = 0;
  int64_t item_count = 0;
  if (SUCCEEDED(SHQueryRecycleBinW(ShellRoot(root), &info))) {
    total_bytes = info.i64Size;
    item_count = info.i64NumItems;
  }
  return flutter::EncodableMap{
      {flutter::EncodableValue("totalBytes"), flutter::EncodableValue(total_bytes)},
      {flutter::EncodableValue("itemCount"), flutter::EncodableValue(item_count)},
  };
}

bool EmptyRecycleBin(const std::wstring& root) {
  const HRESULT result =
      SHEmptyRecycleBinW(nullptr, ShellRoot(root), SHERB_NOCONFIRMATION | SHERB_NOPROGRESSUI | SHERB_NOSOUND);
  return SUCCEEDED(result);
}

WorkerReply GetRecycleBinInfoOperation() {
  return flutter::EncodableValue(QueryRecycleBin(std::wstring()));
}

WorkerReply EmptyRecycleBinOperation() {
  return flutter::EncodableValue(EmptyRecycleBin(std::wstring()));
}

}  // namespace pel_mora
