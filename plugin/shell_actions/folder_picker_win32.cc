#include <windows.h>
#include <shobjidl.h>

#include <string>

#include "plugin/operations.h"
#include "plugin/shell_actions/com_ownership.h"
#include "plugin/string_conversion.h"

namespace pel_mora {
namespace {

// The chosen folder's file-system path, or an empty string when the dialog was cancelled or
// failed. Every interface is released before the apartment is left.
std::wstring ShowFolderDialog() {
  const ComApartment apartment;
  ComPointer<IFileOpenDialog> dialog;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_ALL, IID_IFileOpenDialog,
                              dialog.ReceiveVoid())) ||
      !dialog) {
    return std::wstring();
  }
  FILEOPENDIALOGOPTIONS options = 0;
  if (SUCCEEDED(dialog->GetOptions(&options))) {
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  }
  dialog->SetTitle(L"Select Folder to Search");
  // No owner: the dialog runs its own modal loop on this worker thread, so the application
  // window's message loop keeps running. Cancel comes back as a failure code.
  if (FAILED(dialog->Show(nullptr))) {
    return std::wstring();
  }
  ComPointer<IShellItem> item;
  if (FAILED(dialog->GetResult(item.Receive())) || !item) {
    return std::wstring();
  }
  CoTaskMemText path;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, path.Receive())) || path.Get() == nullptr) {
    return std::wstring();
  }
  return std::wstring(path.Get());
}

}  // namespace

WorkerReply PickFolderOperation() {
  const std::wstring folder = ShowFolderDialog();
  if (folder.empty()) {
    return flutter::EncodableValue();
  }
  return flutter::EncodableValue(WideToUtf8(folder));
}

}  // namespace pel_mora
