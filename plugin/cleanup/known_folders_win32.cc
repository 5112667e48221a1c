#include "plugin/cleanup/known_folders_win32.h"

#include <userenv.h>

#include "plugin/file_handle.h"

namespace pel_mora {
namespace {

// Owns a string the shell allocated with CoTaskMemAlloc.
class TaskMemoryString {
 public:
  TaskMemoryString() = default;
  ~TaskMemoryString() { CoTaskMemFree(text_); }
  TaskMemoryString(const TaskMemoryString&) = delete;
  TaskMemoryString& operator=(const TaskMemoryString&) = delete;

  PWSTR* Receive() { return &text_; }
  std::wstring Value() const { return text_ == nullptr ? std::wstring() : std::wstring(text_); }

 private:
  PWSTR text_ = nullptr;
};

// The profile folder of the user this process runs as, from the profile service; empty when it
// cannot be read.
std::wstring ProfileOfCurrentUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return {};
  }
  // Closed by CloseHandle like a file handle; it is only taken once the call gave one.
  const FileHandle owned_token(token);
  wchar_t buffer[MAX_PATH + 1] = {};
  DWORD length = MAX_PATH + 1;
  if (!GetUserProfileDirectoryW(owned_token.Get(), buffer, &length)) {
    return {};
  }
  return std::wstring(buffer);
}

}  // namespace

std::wstring KnownFolder(REFKNOWNFOLDERID folder_id) {
  TaskMemoryString path;
  // SHGetKnownFolderPath allocates the result even when it fails, so it is always handed to the
  // owner above. The folder is not verified here: callers open it anyway, and Wine's check fails
  // now and then for folders that exist, which would drop them from the guards.
  if (SUCCEEDED(SHGetKnownFolderPath(folder_id, KF_FLAG_DONT_VERIFY, nullptr, path.Receive()))) {
    return path.Value();
  }
  // The profile is the one folder every guard needs, and under Wine the shell's lookup of it has
  // been seen to fail now and then while the profile is plainly there; the profile service reads
  // it from the user's own profile record instead of the shell's folder tables.
  if (IsEqualGUID(folder_id, FOLDERID_Profile)) {
    return ProfileOfCurrentUser();
  }
  return {};
}

}  // namespace pel_mora
