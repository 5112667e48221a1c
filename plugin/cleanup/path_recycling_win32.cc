#include "plugin/cleanup/path_recycling.h"

#include <windows.h>
#include <shellapi.h>

#include "plugin/cleanup/protected_paths.h"
#include "plugin/operations.h"
#include "plugin/path_normalization.h"
#include "plugin/string_conversion.h"

namespace pel_mora {
namespace {

// Calls a Win32 function of the "fill this buffer, or tell me the size you need" kind (with the
// size in characters including the terminating NUL on a short buffer, and the written length
// without it on success) until the buffer fits. Nothing when the call fails.
template <typename Call>
std::optional<std::wstring> CallWithGrowingBuffer(Call call) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::nullopt;
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    // The path grew between the calls or the buffer was short: try again with the asked size.
    buffer.assign(length, L'\0');
  }
  return std::nullopt;
}

std::optional<std::wstring> FullPathName(const std::wstring& path) {
  return CallWithGrowingBuffer(
      [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(path.c_str(), size, buffer, nullptr); });
}

std::optional<std::wstring> LongPathName(const std::wstring& path) {
  return CallWithGrowingBuffer(
      [&](wchar_t* buffer, DWORD size) { return GetLongPathNameW(path.c_str(), buffer, size); });
}

bool IsRecyclable(std::wstring_view path, wchar_t windows_drive_letter) {
  return CheckRecyclablePath(path, windows_drive_letter) == RecycleVerdict::kAllowed;
}

// The size the file system reports for the path itself; nothing when its attributes cannot be
// read.
std::optional<uint64_t> SizeOfEntry(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// One shell delete-to-Recycle-Bin operation for one already judged path: no dialog, no
// confirmation, no error box.
bool MoveToRecycleBin(const std::wstring& path) {
  // The shell takes a list of names, each ended by a NUL, the list ended by a second NUL.
  std::wstring name_list(path.size() + 2, L'\0');
  name_list.replace(0, path.size(), path);
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = name_list.c_str();
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;
  return SHFileOperationW(&operation) == 0 && !operation.fAnyOperationsAborted;
}

}  // namespace

wchar_t WindowsDriveLetter() {
  wchar_t directory[MAX_PATH + 1] = {};
  const UINT length = GetWindowsDirectoryW(directory, MAX_PATH + 1);
  if (length < 2 || length > MAX_PATH || directory[1] != L':') return L'C';
  const wchar_t letter = directory[0];
  if (letter >= L'a' && letter <= L'z') return static_cast<wchar_t>(letter - L'a' + L'A');
  if (letter >= L'A' && letter <= L'Z') return letter;
  return L'C';
}

std::optional<std::wstring> ResolveRecyclablePath(std::wstring_view requested_path, wchar_t windows_drive_letter) {
  const std::wstring normalized = NormalizePath(requested_path);
  if (normalized.empty()) return std::nullopt;
  // As sent first: a bare "C:" or "C:." would otherwise become the current folder of drive C.
  if (CheckRecyclableRequest(normalized) == RecycleVerdict::kRefused ||
      !IsRecyclable(normalized, windows_drive_letter)) {
    return std::nullopt;
  }
  const std::wstring plain = WithoutDevicePrefix(normalized);
  std::optional<std::wstring> full = FullPathName(plain);
  if (!full) return std::nullopt;
  if (IsLiteralPathForm(normalized) && *full != plain) return std::nullopt;
  if (!IsRecyclable(*full, windows_drive_letter)) return std::nullopt;
  // Short names only resolve where the path exists; a path that does not exist stays as it is
  // and the shell fails on it.
  if (std::optional<std::wstring> long_name = LongPathName(*full)) {
    if (!IsRecyclable(*long_name, windows_drive_letter)) return std::nullopt;
    return long_name;
  }
  return full;
}

RecycleTally RecyclePaths(const std::vector<std::string>& paths, wchar_t windows_drive_letter) {
  RecycleTally tally;
  for (const std::string& requested : paths) {
    const std::optional<std::wstring> path = ResolveRecyclablePath(Utf8ToWide(requested), windows_drive_letter);
    if (!path) {
      ++tally.failed_count;
      continue;
    }
    // Measured before the move; a path whose attributes cannot be read is still offered to the
    // shell and frees nothing when it goes.
    const std::optional<uint64_t> size = SizeOfEntry(*path);
    if (!MoveToRecycleBin(*path)) {
      ++tally.failed_count;
      continue;
    }
    ++tally.success_count;
    tally.freed_bytes += size.value_or(0);
  }
  return tally;
}

WorkerReply RecyclePathsOperation(const std::vector<std::string>& paths) {
  const RecycleTally tally = RecyclePaths(paths, WindowsDriveLetter());
  return flutter::EncodableValue(flutter::EncodableMap{
      {flutter::EncodableValue("successCount"), flutter::EncodableValue(static_cast<int64_t>(tally.success_count))},
      {flutter::EncodableValue("failedCount"), flutter::EncodableValue(static_cast<int64_t>(tally.failed_count))},
      {flutter::EncodableValue("freedBytes"), flutter::EncodableValue(static_cast<int64_t>(tally.freed_bytes))},
  });
}

}  // namespace pel_mora
