#include "plugin/cleanup/recycle_bin.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "plugin/operations.h"
#include "plugin/wine_detection_win32.h"

namespace pel_mora {

namespace {

// The shell takes a null root to mean every drive's Recycle Bin.
const wchar_t* ShellRoot(const std::wstring& root) {
  return root.empty() ? nullptr : root.c_str();
}

// Wine keeps one trash for every drive and ignores the root given to the shell's query and
// empty calls: asked for E:\\ it counts and empties the items of every drive.
bool ShellRestrictsToRoot() {
  return !IsRunningUnderWine();
}

// Whether the whole Recycle Bin, every drive's, holds nothing.
bool WholeBinIsEmpty() {
  SHQUERYRBINFO info{};
  info.cbSize = sizeof(info);
  return SUCCEEDED(SHQueryRecycleBinW(nullptr, &info)) && info.i64NumItems == 0;
}

// Whether the shell's call for `root` touches that drive's items only: always for every drive,
// and for one drive where the shell restricts itself to it. Where it does not (Wine), the call is
// made only when the bin holds nothing at all, so no other drive's item can be counted or lost.
bool ShellCallStaysOnRoot(const std::wstring& root) {
  return root.empty() || ShellRestrictsToRoot() || WholeBinIsEmpty();
}

}  // namespace

flutter::EncodableMap QueryRecycleBin(const std::wstring& root) {
  SHQUERYRBINFO info{};
  info.cbSize = sizeof(info);
  int64_t total_bytes = 0;
  int64_t item_count = 0;
  // A figure for one drive that would count other drives' items is not given at all.
  if (ShellCallStaysOnRoot(root) && SUCCEEDED(SHQueryRecycleBinW(ShellRoot(root), &info))) {
    total_bytes = info.i64Size;
    item_count = info.i64NumItems;
  }
  return flutter::EncodableMap{
      {flutter::EncodableValue("totalBytes"), flutter::EncodableValue(total_bytes)},
      {flutter::EncodableValue("itemCount"), flutter::EncodableValue(item_count)},
  };
}

bool EmptyRecycleBin(const std::wstring& root) {
  // Emptying one drive's bin must never destroy what was recycled from another drive; where the
  // shell cannot be held to the drive, the empty is refused.
  if (!ShellCallStaysOnRoot(root)) {
    return false;
  }
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
