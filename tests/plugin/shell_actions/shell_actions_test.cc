// The shell actions under Wine: opening a document through a file association registered in the
// test prefix, what Explorer would be asked to show, and the folder dialog driven by a second
// thread as a person would drive it.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "plugin/method_dispatcher.h"
#include "plugin/operations.h"
#include "plugin/shell_actions/shell_actions.h"
#include "plugin/string_conversion.h"
#include "tests/plugin/recording_method_result.h"
#include "tests/support/fixture_drive.h"

namespace pel_mora {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using test_support::FixtureDrive;
using testing::CompletionKind;
using testing::RecordingResult;

// Bounds on waiting for another process or window, so a fault fails the test instead of hanging.
constexpr auto kWaitBound = std::chrono::seconds(60);
constexpr auto kPollInterval = std::chrono::milliseconds(20);

constexpr wchar_t kAssociatedExtension[] = L".pelmorashelltest";
constexpr wchar_t kProgramId[] = L"PelmoraShellTest.Document";
constexpr wchar_t kFolderDialogTitle[] = L"Select Folder to Search";

template <typename Condition>
bool PollUntil(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + kWaitBound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

std::string FileText(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class RegistryKey {
 public:
  RegistryKey(HKEY parent, const std::wstring& path) {
    const LSTATUS status = RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                           nullptr, &key_, nullptr);
    if (status != ERROR_SUCCESS) {
      throw std::runtime_error("RegCreateKeyExW failed for " + WideToUtf8(path) + " (" + std::to_string(status) + ")");
    }
  }
  ~RegistryKey() { RegCloseKey(key_); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  void SetDefaultValue(const std::wstring& text) const {
    const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    const LSTATUS status =
        RegSetValueExW(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
    if (status != ERROR_SUCCESS) {
      throw std::runtime_error("RegSetValueExW failed (" + std::to_string(status) + ")");
    }
  }

 private:
  HKEY key_ = nullptr;
};

// The extension and its program id in HKLM\Software\Classes, which is where Wine looks up
// associations (it ignores HKCU\Software\Classes). The ctest entry holds the lock
// "file_associations", and the keys are removed again when the object goes.
class FileAssociation {
 public:
  explicit FileAssociation(const std::wstring& open_command) {
    Remove();
    RegistryKey(HKEY_LOCAL_MACHINE, Classes(kAssociatedExtension)).SetDefaultValue(kProgramId);
    RegistryKey(HKEY_LOCAL_MACHINE, Classes(kProgramId) + L"\\shell\\open\\command").SetDefaultValue(open_command);
  }
  ~FileAssociation() { Remove(); }
  FileAssociation(const FileAssociation&) = delete;
  FileAssociation& operator=(const FileAssociation&) = delete;

 private:
  static std::wstring Classes(const std::wstring& name) { return L"Software\\Classes\\" + name; }
  static void Remove() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, Classes(kAssociatedExtension).c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, Classes(kAssociatedExtension).c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, Classes(kProgramId).c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, Classes(kProgramId).c_str());
  }
};

std::wstring RecorderExecutable() {
  return test_support::WindowsPathOfUnixPath(Utf8ToWide(PELMORA_ARGUMENT_RECORDER));
}

// Runs a call through the product dispatcher, with the real operations, to its reply.
testing::RecordedReply CallThroughDispatcher(const std::string& method, const EncodableMap& arguments) {
  RecordingResult recording;
  const flutter::MethodCall<> call(method, std::make_unique<EncodableValue>(arguments));
  HandleMethodCall(call, std::move(recording.result), nullptr);
  if (!recording.record->WaitForCompletion()) {
    throw std::runtime_error(method + " was not answered");
  }
  return recording.record->reply();
}

EncodableMap PathArgument(const std::string& path) { return EncodableMap{{EncodableValue("path"), EncodableValue(path)}}; }

TEST(OpenFileTest, StartsTheAssociatedProgramWithTheNormalisedPath) {
  const FixtureDrive drive;
  drive.AddFolder(L"docs");
  drive.AddFile(L"docs\\a b.pelmorashelltest", 3);
  const std::wstring record = drive.PathOf(L"record.txt");
  const FileAssociation association(L"\"" + RecorderExecutable() + L"\" \"" + record + L"\" \"%1\"");

  const std::string letter(1, static_cast<char>(drive.Letter()));
  const testing::RecordedReply reply = CallThroughDispatcher("openFile", PathArgument(letter + ":/docs//a b.pelmorashelltest"));
  EXPECT_EQ(reply.kind, CompletionKind::kSuccess) << reply.error_code << " " << reply.error_message;
  EXPECT_EQ(reply.value, EncodableValue(true));

  ASSERT_TRUE(PollUntil([&] { return Exists(record); })) << "the associated program never recorded its command line";
  EXPECT_EQ(FileText(record), letter + ":\\docs\\a b.pelmorashelltest\n");
}

TEST(OpenFileTest, NothingToStartIsTheOpenError) {
  const FixtureDrive drive;
  drive.AddFile(L"plain.pelmoranoassociation", 3);
  for (const std::wstring& path : {drive.PathOf(L"plain.pelmoranoassociation"), drive.PathOf(L"missing.txt")}) {
    SCOPED_TRACE(WideToUtf8(path));
    const testing::RecordedReply reply = CallThroughDispatcher("openFile", PathArgument(WideToUtf8(path)));
    EXPECT_EQ(reply.kind, CompletionKind::kError);
    EXPECT_EQ(reply.error_code, "OPEN_ERROR");
    EXPECT_EQ(reply.error_message, "Failed to open file.");
    EXPECT_FALSE(reply.has_error_details);
  }
}

TEST(OpenInExplorerTest, SelectsAnExistingFileAndExploresFoldersAndMissingPaths) {
  const FixtureDrive drive;
  drive.AddFolder(L"Data");
  drive.AddFile(L"Data\\a b.txt", 1);
  struct Case {
    std::wstring path;
    ShellRequest expected;
  };
  const std::wstring file = drive.PathOf(L"Data\\a b.txt");
  const std::vector<Case> cases = {
      {file, {L"open", L"explorer.exe", L"/select,\"" + file + L"\"", ShowCommand::kDefault}},
      {drive.PathOf(L"Data"), {L"explore", drive.PathOf(L"Data"), L"", ShowCommand::kDefault}},
      {drive.PathOf(L"Data\\"), {L"explore", drive.PathOf(L"Data\\"), L"", ShowCommand::kDefault}},
      {drive.PathOf(L"gone.txt"), {L"explore", drive.PathOf(L"gone.txt"), L"", ShowCommand::kDefault}},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(WideToUtf8(test_case.path));
    std::vector<ShellRequest> launched;
    // A failing shell does not change the answer: Explorer's start is not checked.
    const WorkerReply reply = OpenInExplorerWith(test_case.path, [&](const ShellRequest& request) {
      launched.push_back(request);
      return intptr_t{2};
    });
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched.front(), test_case.expected);
    EXPECT_EQ(std::get<EncodableValue>(reply), EncodableValue(true));
  }
}

// Finds the folder dialog by its title, then lets `drive_dialog` act on it.
template <typename DriveDialog>
EncodableValue PickFolderDrivenBy(DriveDialog drive_dialog) {
  // The operation blocks its thread until the dialog closes. Should the dialog never appear,
  // the test fails and the process ends with that thread still waiting, so it is not joined.
  auto picked = std::make_shared<std::promise<WorkerReply>>();
  std::future<WorkerReply> reply = picked->get_future();
  std::thread([picked] { picked->set_value(PickFolderOperation()); }).detach();

  // The window has its title before its controls are filled in; it is shown once they are.
  HWND dialog = nullptr;
  if (!PollUntil([&] {
        dialog = FindWindowW(nullptr, kFolderDialogTitle);
        return dialog != nullptr && IsWindowVisible(dialog);
      })) {
    throw std::runtime_error("the folder dialog did not appear");
  }
  drive_dialog(dialog);
  if (reply.wait_for(kWaitBound) != std::future_status::ready) {
    throw std::runtime_error("the folder dialog did not close");
  }
  return std::get<EncodableValue>(reply.get());
}

TEST(PickFolderTest, CancelledDialogAnswersNull) {
  const EncodableValue reply =
      PickFolderDrivenBy([](HWND dialog) { PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); });
  EXPECT_TRUE(reply.IsNull());
}

BOOL CALLBACK CollectEditControl(HWND child, LPARAM found) {
  wchar_t class_name[32] = {};
  GetClassNameW(child, class_name, 32);
  if (lstrcmpiW(class_name, L"Edit") == 0 && IsWindowVisible(child)) {
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
  }
  return TRUE;
}

TEST(PickFolderTest, FolderTypedAndAcceptedAnswersItsPath) {
  const FixtureDrive drive;
  drive.AddFolder(L"Photos");
  const std::wstring folder = drive.PathOf(L"Photos");
  const EncodableValue reply = PickFolderDrivenBy([&](HWND dialog) {
    HWND name_box = nullptr;
    EnumChildWindows(dialog, CollectEditControl, reinterpret_cast<LPARAM>(&name_box));
    if (name_box == nullptr) {
      ADD_FAILURE() << "the dialog has no name box";
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return;
    }
    SendMessageW(name_box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  EXPECT_EQ(reply, EncodableValue(WideToUtf8(folder)));
}

}  // namespace
}  // namespace pel_mora
