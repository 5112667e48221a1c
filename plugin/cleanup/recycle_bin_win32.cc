#include "plugin/cleanup/recycle_bin.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "plugin/com_ownership.h"
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

// Owns an item id list the shell allocated with CoTaskMemAlloc.
template <typename IdList>
class OwnedIdList {
 public:
  OwnedIdList() = default;
  ~OwnedIdList() { CoTaskMemFree(list_); }
  OwnedIdList(const OwnedIdList&) = delete;
  OwnedIdList& operator=(const OwnedIdList&) = delete;
  OwnedIdList(OwnedIdList&& other) noexcept : list_(std::exchange(other.list_, nullptr)) {}
  OwnedIdList& operator=(OwnedIdList&&) = delete;
  IdList** Receive() { return &list_; }
  IdList* Get() const { return list_; }

 private:
  IdList* list_ = nullptr;
};


// The text of column `column` of a Recycle Bin item; nothing when it cannot be read.
std::optional<std::wstring> ItemColumn(IShellFolder2& bin, PCUITEMID_CHILD item, UINT column) {
  SHELLDETAILS details{};
  if (FAILED(bin.GetDetailsOf(item, column, &details))) {
    return std::nullopt;
  }
  OwnedIdList<wchar_t> text;
  if (FAILED(StrRetToStrW(&details.str, item, text.Receive())) || text.Get() == nullptr) {
    return std::nullopt;
  }
  return std::wstring(text.Get());
}

bool IsSameTextFolded(std::wstring_view first, std::wstring_view second) {
  const auto fold = [](wchar_t unit) {
    return (unit >= L'a' && unit <= L'z') ? static_cast<wchar_t>(unit - L'a' + L'A') : unit;
  };
  return first.size() == second.size() &&
         std::equal(first.begin(), first.end(), second.begin(),
                    [&](wchar_t left, wchar_t right) { return fold(left) == fold(right); });
}

std::wstring_view WithoutTrailingSeparator(std::wstring_view folder) {
  while (folder.size() > 3 && folder.back() == L'\\') {
    folder.remove_suffix(1);
  }
  return folder;
}

// Runs the "restore" command of one Recycle Bin item: the shell's "undelete" verb where it names
// its commands, else the command its menu calls "Restore" (Wine names none).
bool InvokeRestore(IShellFolder2& bin, PCUITEMID_CHILD item) {
  ComPointer<IContextMenu> menu;
  if (FAILED(bin.GetUIObjectOf(nullptr, 1, &item, IID_IContextMenu, nullptr, reinterpret_cast<void**>(menu.Receive())))) {
    return false;
  }
  const HMENU popup = CreatePopupMenu();
  if (popup == nullptr) {
    return false;
  }
  constexpr UINT kFirstCommand = 1;
  std::optional<UINT> restore;
  if (SUCCEEDED(menu->QueryContextMenu(popup, 0, kFirstCommand, 0x7FFF, CMF_NORMAL))) {
    const int count = GetMenuItemCount(popup);
    for (int position = 0; position < count && !restore; ++position) {
      const UINT command = GetMenuItemID(popup, position);
      if (command == static_cast<UINT>(-1) || command < kFirstCommand) {
        continue;
      }
      char verb[64] = {};
      const bool has_verb = SUCCEEDED(menu->GetCommandString(command - kFirstCommand, GCS_VERBA, nullptr, verb,
                                                             static_cast<UINT>(sizeof(verb)))) &&
                            verb[0] != '\0';
      wchar_t text[64] = {};
      GetMenuStringW(popup, position, text, 64, MF_BYPOSITION);
      if ((has_verb && std::string_view(verb) == "undelete") || (!has_verb && std::wstring_view(text) == L"&Restore")) {
        restore = command - kFirstCommand;
      }
    }
  }
  DestroyMenu(popup);
  if (!restore) {
    return false;
  }
  CMINVOKECOMMANDINFO invocation{};
  invocation.cbSize = sizeof(invocation);
  invocation.fMask = CMIC_MASK_FLAG_NO_UI;
  invocation.lpVerb = MAKEINTRESOURCEA(*restore);
  invocation.nShow = SW_HIDE;
  return SUCCEEDED(menu->InvokeCommand(&invocation));
}

// Whether the whole Recycle Bin, every drive's, holds nothing.
bool WholeBinIsEmpty() {
  SHQUERYRBINFO info{};
  info.cbSize = sizeof(info);
  return SUCCEEDED(SHQueryRecycleBinW(nullptr, &info)) && info.i64NumItems == 0;
}

// Whether the shell's call for `root` touches that drive's items only: always for every drive,
// and for one drive where the shell restricts itself to it. Where it does not (Wine), telling a
// drive's items from the others' would mean reading the bin's items through Wine's Recycle Bin
// folder, which has been seen to leave the process unable to look up the user's folders
// afterwards; so there the call is made only when the bin holds nothing at all.
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

namespace {

bool RestoreRecycledItemOnThisThread(const std::wstring& original_folder, const std::wstring& name) {
  const ComApartment apartment;
  ComPointer<IShellFolder> desktop;
  OwnedIdList<ITEMIDLIST> bin_list;
  ComPointer<IShellFolder2> bin;
  if (FAILED(SHGetDesktopFolder(desktop.Receive())) ||
      FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_BITBUCKET, bin_list.Receive())) ||
      FAILED(desktop->BindToObject(bin_list.Get(), nullptr, IID_IShellFolder2, reinterpret_cast<void**>(bin.Receive())))) {
    return false;
  }
  ComPointer<IEnumIDList> items;
  if (bin->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, items.Receive()) != S_OK ||
      items.Get() == nullptr) {
    return false;
  }
  constexpr UINT kNameColumn = 0;
  constexpr UINT kOriginalLocationColumn = 1;
  // Items of that name; those whose original location reads as the folder come first. Wine names
  // the location through whatever path it finds back to the folder, which need not be the one
  // asked about (a folder reached through a link reads as the link's Unix path), so an item of
  // that name alone in the bin is taken too.
  std::vector<OwnedIdList<ITEMID_CHILD>> in_folder;
  std::vector<OwnedIdList<ITEMID_CHILD>> of_name;
  for (;;) {
    OwnedIdList<ITEMID_CHILD> item;
    if (items->Next(1, item.Receive(), nullptr) != S_OK) {
      break;
    }
    const std::optional<std::wstring> item_name = ItemColumn(*bin.Get(), item.Get(), kNameColumn);
    if (!item_name || *item_name != name) {
      continue;
    }
    const std::optional<std::wstring> location = ItemColumn(*bin.Get(), item.Get(), kOriginalLocationColumn);
    auto& group = location && IsSameTextFolded(WithoutTrailingSeparator(*location),
                                               WithoutTrailingSeparator(original_folder))
                      ? in_folder
                      : of_name;
    group.emplace_back();
    std::swap(*group.back().Receive(), *item.Receive());
  }
  // Two candidates: which one just arrived cannot be told apart, so neither is moved.
  const OwnedIdList<ITEMID_CHILD>* match = nullptr;
  if (in_folder.size() == 1) {
    match = &in_folder.front();
  } else if (in_folder.empty() && of_name.size() == 1) {
    match = &of_name.front();
  }
  return match != nullptr && InvokeRestore(*bin.Get(), match->Get());
}

// Closes every window of a thread, as Escape would: a question the shell put up there is
// answered "no".
BOOL CALLBACK CloseThreadWindow(HWND window, LPARAM /*unused*/) {
  PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

}  // namespace

bool RestoreRecycledItem(const std::wstring& original_folder, const std::wstring& name) {
  // The shell asks before it restores over an item that took the name meanwhile (Wine does so in
  // a message box even when told not to show any), and nobody sees that question here. The
  // restore runs on a thread of its own; a question still open after a moment is closed, which
  // declines it, so a worker never waits on a dialog nobody answers.
  auto outcome = std::make_shared<std::promise<bool>>();
  std::future<bool> restored = outcome->get_future();
  auto thread_id = std::make_shared<std::atomic<DWORD>>(0);
  std::thread restorer([outcome, thread_id, original_folder, name] {
    thread_id->store(GetCurrentThreadId());
    try {
      outcome->set_value(RestoreRecycledItemOnThisThread(original_folder, name));
    } catch (...) {
      outcome->set_value(false);
    }
  });
  for (int attempt = 0; restored.wait_for(std::chrono::seconds(2)) != std::future_status::ready; ++attempt) {
    if (attempt == 10) {
      // A question that will not close: the thread is given up rather than the reply.
      restorer.detach();
      return false;
    }
    EnumThreadWindows(thread_id->load(), CloseThreadWindow, 0);
  }
  restorer.join();
  return restored.get();
}

WorkerReply GetRecycleBinInfoOperation() {
  return flutter::EncodableValue(QueryRecycleBin(std::wstring()));
}

WorkerReply EmptyRecycleBinOperation() {
  return flutter::EncodableValue(EmptyRecycleBin(std::wstring()));
}

}  // namespace pel_mora
