#include "plugin/cleanup/known_folders_win32.h"

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

}  // namespace

std::wstring KnownFolder(REFKNOWNFOLDERID folder_id) {
  TaskMemoryString path;
  // SHGetKnownFolderPath allocates the result even when it fails, so it is always handed to the
  // owner above. The folder is not verified here: callers open it anyway, and Wine's check fails
  // now and then for folders that exist, which would drop them from the guards.
  if (FAILED(SHGetKnownFolderPath(folder_id, KF_FLAG_DONT_VERIFY, nullptr, path.Receive()))) {
    return {};
  }
  return path.Value();
}

}  // namespace pel_mora
