// Uninstall entries written to the test prefix's registry under names of this test's own
// ("PelmoraAppsTest ..."), read back through the operations, and removed afterwards; and
// uninstall commands started for real, with a recorder program standing in for the uninstaller.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "channel/encodable_value.h"
#include "plugin/installed_apps/command_starter_win32.h"
#include "plugin/installed_apps/uninstall_command.h"
#include "plugin/operations.h"
#include "plugin/registry_key.h"
#include "plugin/string_conversion.h"
#include "tests/support/fixture_drive.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

constexpr wchar_t kMachineUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kUserUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr char kNamePrefix[] = "PelmoraAppsTest ";

struct Source {
  HKEY root;
  const wchar_t* path;
  REGSAM view;
};

const Source kMachine64{HKEY_LOCAL_MACHINE, kMachineUninstall, KEY_WOW64_64KEY};
const Source kMachine32{HKEY_LOCAL_MACHINE, kMachineUninstall, KEY_WOW64_32KEY};
const Source kUser{HKEY_CURRENT_USER, kUserUninstall, 0};

// One uninstall entry being written; removed with its source's view when the test ends.
class EntryWriter {
 public:
  EntryWriter(const Source& source, const std::wstring& key_name) {
    const std::wstring path = std::wstring(source.path) + L"\\" + key_name;
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyExW(source.root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | source.view, nullptr,
                              &created, nullptr),
              ERROR_SUCCESS)
        << "RegCreateKeyExW " << WideToUtf8(path);
    key_ = created;
  }
  ~EntryWriter() {
    if (key_ != nullptr) {
      RegCloseKey(key_);
    }
  }
  EntryWriter(const EntryWriter&) = delete;
  EntryWriter& operator=(const EntryWriter&) = delete;

  EntryWriter& Text(const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ) {
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(RegSetValueExW(key_, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()), bytes),
              ERROR_SUCCESS);
    return *this;
  }
  EntryWriter& Number(const wchar_t* name, DWORD value) {
    EXPECT_EQ(RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
              ERROR_SUCCESS);
    return *this;
  }
  // The two values every listed entry needs.
  EntryWriter& Named(const std::string& display_name) {
    return Text(L"DisplayName", Utf8ToWide(kNamePrefix + display_name)).Text(L"UninstallString", L"uninst.exe");
  }

 private:
  HKEY key_ = nullptr;
};

void RemoveEntries(const Source& source, const std::vector<std::wstring>& key_names) {
  RegistryKey uninstall;
  if (!uninstall.Open(source.root, source.path, KEY_ALL_ACCESS | source.view)) {
    return;
  }
  for (const std::wstring& name : key_names) {
    RegDeleteTreeW(uninstall.Get(), name.c_str());
  }
}

std::string StringField(const EncodableMap& entry, const char* key) {
  const auto found = entry.find(EncodableValue(key));
  if (found == entry.end()) {
    ADD_FAILURE() << "entry without " << key;
    return {};
  }
  const auto* text = std::get_if<std::string>(&found->second);
  EXPECT_NE(text, nullptr) << key << " is not a string";
  return text != nullptr ? *text : std::string();
}

// This test's entries from the operation's reply, in reply order, without the name prefix.
std::vector<EncodableMap> OwnEntries() {
  const WorkerReply reply = GetInstalledAppsOperation();
  const auto* value = std::get_if<EncodableValue>(&reply);
  EXPECT_NE(value, nullptr);
  const auto* list = value != nullptr ? std::get_if<EncodableList>(value) : nullptr;
  EXPECT_NE(list, nullptr) << "the reply is not a list";
  std::vector<EncodableMap> own;
  if (list == nullptr) {
    return own;
  }
  for (const EncodableValue& item : *list) {
    const auto* entry = std::get_if<EncodableMap>(&item);
    EXPECT_NE(entry, nullptr) << "an entry is not a map";
    if (entry != nullptr && StringField(*entry, "displayName").rfind(kNamePrefix, 0) == 0) {
      own.push_back(*entry);
    }
  }
  return own;
}

std::vector<std::string> Names(const std::vector<EncodableMap>& entries) {
  std::vector<std::string> names;
  for (const EncodableMap& entry : entries) {
    names.push_back(StringField(entry, "displayName").substr(sizeof(kNamePrefix) - 1));
  }
  return names;
}

class InstalledAppsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    RemoveEntries(kMachine64, {L"PelmoraAppsTest.Both", L"PelmoraAppsTest.Machine64"});
    RemoveEntries(kMachine32, {L"PelmoraAppsTest.Both", L"PelmoraAppsTest.Machine32"});
    RemoveEntries(kUser, user_keys_);
  }

  EntryWriter& User(const wchar_t* key_name) {
    user_keys_.push_back(key_name);
    writers_.push_back(std::make_unique<EntryWriter>(kUser, key_name));
    return *writers_.back();
  }

  std::vector<std::wstring> user_keys_;
  std::vector<std::unique_ptr<EntryWriter>> writers_;
};

TEST_F(InstalledAppsTest, EntryCarriesEveryValueAsStored) {
  User(L"PelmoraAppsTest.Full")
      .Text(L"DisplayName", L"PelmoraAppsTest Full \u00e9dition")
      .Text(L"DisplayVersion", L"2.5.1")
      .Text(L"Publisher", L"Pelmora Test Publisher")
      .Text(L"InstallLocation", L"C:\\Program Files\\Full")
      .Text(L"UninstallString", L"%ProgramFiles%\\Full\\uninst.exe /S", REG_EXPAND_SZ)
      .Text(L"InstallDate", L"20240131")
      .Text(L"DisplayIcon", L"C:\\Program Files\\Full\\full.exe,0")
      .Number(L"EstimatedSize", 2048);
  writers_.clear();

  const std::vector<EncodableMap> entries = OwnEntries();
  ASSERT_EQ(entries.size(), 1u);
  const EncodableMap expected = {
      {EncodableValue("displayName"), EncodableValue("PelmoraAppsTest Full \xC3\xA9" "dition")},
      {EncodableValue("displayVersion"), EncodableValue("2.5.1")},
      {EncodableValue("publisher"), EncodableValue("Pelmora Test Publisher")},
      {EncodableValue("installLocation"), EncodableValue("C:\\Program Files\\Full")},
      // Expandable text is passed on unexpanded.
      {EncodableValue("uninstallString"), EncodableValue("%ProgramFiles%\\Full\\uninst.exe /S")},
      {EncodableValue("installDate"), EncodableValue("20240131")},
      {EncodableValue("displayIcon"), EncodableValue("C:\\Program Files\\Full\\full.exe,0")},
      {EncodableValue("estimatedSizeBytes"), EncodableValue(int64_t{2097152})},
  };
  EXPECT_EQ(entries[0], expected);
}

TEST_F(InstalledAppsTest, FilterHidesComponentsUpdatesAndIncompleteEntries) {
  User(L"PelmoraAppsTest.Listed").Named("listed");
  User(L"PelmoraAppsTest.SystemComponent").Named("system component").Number(L"SystemComponent", 1);
  User(L"PelmoraAppsTest.SystemComponentZero").Named("system component zero").Number(L"SystemComponent", 0);
  User(L"PelmoraAppsTest.SystemComponentText").Named("system component text").Text(L"SystemComponent", L"1");
  User(L"PelmoraAppsTest.NoName").Text(L"UninstallString", L"uninst.exe").Text(L"Publisher", L"PelmoraAppsTest");
  User(L"PelmoraAppsTest.NoUninstall").Text(L"DisplayName", L"PelmoraAppsTest no uninstall");
  User(L"PelmoraAppsTest.ParentDword").Named("parent dword").Number(L"ParentKeyName", 1);
  User(L"PelmoraAppsTest.ParentDwordZero").Named("parent dword zero").Number(L"ParentKeyName", 0);
  User(L"PelmoraAppsTest.ParentShort").Named("parent short").Text(L"ParentKeyName", L"X");
  User(L"PelmoraAppsTest.ParentLong").Named("parent long").Text(L"ParentKeyName", L"OfficeProduct16");
  User(L"PelmoraAppsTest.ParentEmpty").Named("parent empty").Text(L"ParentKeyName", L"");
  User(L"PelmoraAppsTest.SizeText").Named("size text").Text(L"EstimatedSize", L"2048");
  // 1023 characters and the terminator fill the 2048-byte read exactly; one more does not fit.
  User(L"PelmoraAppsTest.Fits")
      .Text(L"DisplayName", Utf8ToWide(kNamePrefix) + std::wstring(1023 - 16, L'f'))
      .Text(L"UninstallString", L"uninst.exe");
  User(L"PelmoraAppsTest.TooLong")
      .Text(L"DisplayName", Utf8ToWide(kNamePrefix) + std::wstring(1024 - 16, L'l'))
      .Text(L"UninstallString", L"uninst.exe");
  writers_.clear();

  std::vector<std::string> names = Names(OwnEntries());
  std::sort(names.begin(), names.end());
  std::vector<std::string> expected = {"listed", "parent dword zero", "parent empty", "size text",
                                       "system component text", "system component zero",
                                       std::string(1023 - 16, 'f')};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
  for (const EncodableMap& entry : OwnEntries()) {
    if (StringField(entry, "displayName") == std::string(kNamePrefix) + "size text") {
      EXPECT_EQ(entry.at(EncodableValue("estimatedSizeBytes")), EncodableValue(int64_t{0}));
    }
  }
}

TEST_F(InstalledAppsTest, SourcesInOrderAndBothMachineViewsListed) {
  {
    EntryWriter(kUser, L"PelmoraAppsTest.User").Named("user");
    EntryWriter(kMachine64, L"PelmoraAppsTest.Machine64").Named("machine 64");
    EntryWriter(kMachine32, L"PelmoraAppsTest.Machine32").Named("machine 32");
    EntryWriter(kMachine64, L"PelmoraAppsTest.Both").Named("both");
    EntryWriter(kMachine32, L"PelmoraAppsTest.Both").Named("both");
  }
  user_keys_.push_back(L"PelmoraAppsTest.User");
  // Keys within one source come in their enumeration order, which sorts these names.
  EXPECT_EQ(Names(OwnEntries()), (std::vector<std::string>{"both", "machine 64", "both", "machine 32", "user"}));
}

std::string FileText(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// What the recorder was started with: its whole command line and its arguments after the program.
struct Recorded {
  std::string command_line;
  std::vector<std::string> arguments;
};

// Waits for the recorder to write `path` (it renames a finished file into place).
Recorded WaitForRecord(const std::wstring& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the recorder never wrote " << WideToUtf8(path);
      return {};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::istringstream lines(FileText(path));
  Recorded recorded;
  std::getline(lines, recorded.command_line);
  for (std::string argument; std::getline(lines, argument);) {
    recorded.arguments.push_back(argument);
  }
  return recorded;
}

bool LaunchReply(const std::string& command) {
  const WorkerReply reply = LaunchUninstallerOperation(command);
  const auto* value = std::get_if<EncodableValue>(&reply);
  EXPECT_NE(value, nullptr);
  const auto* launched = value != nullptr ? std::get_if<bool>(value) : nullptr;
  EXPECT_NE(launched, nullptr) << "the reply is not a bool";
  return launched != nullptr && *launched;
}

// One fixture drive for the whole suite, holding the recorder in a folder whose path has spaces.
// Under Wine, once a program started from a fixture drive has run, releasing that drive letter
// leaves this process unable to open HKEY_LOCAL_MACHINE (RegOpenKeyExW answers
// ERROR_INVALID_HANDLE), so the letter is kept until every launch test is done.
class LaunchUninstallerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    drive_ = new test_support::FixtureDrive();
    drive_->AddFolder(L"Program Files");
    drive_->AddFolder(L"Program Files\\Test App");
    recorder_ = new std::wstring(drive_->PathOf(L"Program Files\\Test App\\un install.exe"));
    const std::wstring built = test_support::WindowsPathOfUnixPath(Utf8ToWide(PELMORA_COMMAND_LINE_RECORDER));
    ASSERT_TRUE(CopyFileW(built.c_str(), recorder_->c_str(), FALSE)) << "CopyFileW " << GetLastError();
  }
  static void TearDownTestSuite() {
    delete recorder_;
    recorder_ = nullptr;
    delete drive_;
    drive_ = nullptr;
  }

  static test_support::FixtureDrive* drive_;
  static std::wstring* recorder_;
};

test_support::FixtureDrive* LaunchUninstallerTest::drive_ = nullptr;
std::wstring* LaunchUninstallerTest::recorder_ = nullptr;

TEST_F(LaunchUninstallerTest, QuotedProgramWithArgumentsStartsUnchanged) {
  const std::wstring record = drive_->PathOf(L"record one.txt");
  const std::string command =
      "\"" + WideToUtf8(*recorder_) + "\" \"" + WideToUtf8(record) + "\" /S --log=\"a b\" \xC3\xA9t\xC3\xA9";
  EXPECT_TRUE(LaunchReply(command));
  const Recorded recorded = WaitForRecord(record);
  EXPECT_EQ(recorded.command_line, command);
  EXPECT_EQ(recorded.arguments, (std::vector<std::string>{WideToUtf8(record), "/S", "--log=a b", "\xC3\xA9t\xC3\xA9"}));
}

// Copies of the recorder where process creation would look first for the program of an unquoted
// "T:\Program Files\Test App\un install.exe ..." (each blank-separated prefix plus ".exe");
// removed when the test ends.
class PlantedPrograms {
 public:
  PlantedPrograms(const test_support::FixtureDrive& drive, const std::wstring& recorder) {
    for (const wchar_t* name : {L"Program.exe", L"Program Files\\Test.exe", L"Program Files\\Test App\\un.exe"}) {
      paths_.push_back(drive.PathOf(name));
      EXPECT_TRUE(CopyFileW(recorder.c_str(), paths_.back().c_str(), FALSE)) << "CopyFileW " << GetLastError();
    }
  }
  ~PlantedPrograms() {
    for (const std::wstring& path : paths_) {
      DeleteFileW(path.c_str());
      DeleteFileW((path + L".ran").c_str());
    }
  }
  PlantedPrograms(const PlantedPrograms&) = delete;
  PlantedPrograms& operator=(const PlantedPrograms&) = delete;

  // The planted copies that have been started.
  std::vector<std::string> Started() const {
    std::vector<std::string> started;
    for (const std::wstring& path : paths_) {
      if (GetFileAttributesW((path + L".ran").c_str()) != INVALID_FILE_ATTRIBUTES) {
        started.push_back(WideToUtf8(path));
      }
    }
    return started;
  }

 private:
  std::vector<std::wstring> paths_;
};

TEST_F(LaunchUninstallerTest, UnquotedProgramWithSpacesStartsTheUninstallerNotAPlantedPrefix) {
  const PlantedPrograms planted(*drive_, *recorder_);
  const std::wstring record = drive_->PathOf(L"record two.txt");
  const std::string arguments = "\"" + WideToUtf8(record) + "\" /S --log=\"a b\"";
  EXPECT_TRUE(LaunchReply(WideToUtf8(*recorder_) + " " + arguments));
  const Recorded recorded = WaitForRecord(record);
  EXPECT_EQ(recorded.command_line, "\"" + WideToUtf8(*recorder_) + "\" " + arguments);
  EXPECT_EQ(recorded.arguments, (std::vector<std::string>{WideToUtf8(record), "/S", "--log=a b"}));
  // One launch starts one process, and the recorder was it.
  EXPECT_EQ(planted.Started(), std::vector<std::string>{});
}

// An environment variable of this process for the object's lifetime.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    EXPECT_TRUE(SetEnvironmentVariableW(name, value.c_str()));
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_, nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const wchar_t* name_;
};

TEST_F(LaunchUninstallerTest, ExpandableCommandStartsWithVariablesExpanded) {
  const ScopedVariable variable(L"PELMORA_TEST_APPS", drive_->PathOf(L"Program Files"));
  const PlantedPrograms planted(*drive_, *recorder_);
  // As a REG_EXPAND_SZ uninstall string holds it: unquoted, with variables in the program and an
  // argument.
  EXPECT_TRUE(LaunchReply("%PELMORA_TEST_APPS%\\Test App\\un install.exe \"%PELMORA_TEST_APPS%\\record three.txt\" "
                          "/S %PELMORA_NOT_SET%"));
  const std::wstring record = drive_->PathOf(L"Program Files\\record three.txt");
  const Recorded recorded = WaitForRecord(record);
  EXPECT_EQ(recorded.arguments, (std::vector<std::string>{WideToUtf8(record), "/S", "%PELMORA_NOT_SET%"}));
  EXPECT_EQ(planted.Started(), std::vector<std::string>{});
}

// ERROR_ELEVATION_REQUIRED, which some SDK headers (MinGW's among them) do not declare.
constexpr DWORD kElevationRequired = 740;

// The real launch calls, except that process creation fails as it does for an uninstaller that
// needs elevation, so the shell has to start it.
class ElevationRequiredStarter : public Win32CommandStarter {
 public:
  bool StartProcess(const std::wstring& command_line) override {
    process_attempts.push_back(WideToUtf8(command_line));
    SetLastError(kElevationRequired);
    return false;
  }
  std::vector<std::string> process_attempts;
};

TEST_F(LaunchUninstallerTest, ElevationRequiredHandsProgramAndParametersToTheShell) {
  const PlantedPrograms planted(*drive_, *recorder_);
  struct ElevationCase {
    const char* situation;
    std::string program_text;
  };
  const std::vector<ElevationCase> cases = {
      {"quoted", "\"" + WideToUtf8(*recorder_) + "\""},
      {"unquoted", WideToUtf8(*recorder_)},
  };
  int number = 0;
  for (const ElevationCase& elevation : cases) {
    SCOPED_TRACE(elevation.situation);
    const std::wstring record = drive_->PathOf(L"record elevated " + std::to_wstring(++number) + L".txt");
    const std::string arguments = "\"" + WideToUtf8(record) + "\" /S --log=\"a b\"";
    ElevationRequiredStarter starter;
    EXPECT_TRUE(LaunchUninstallCommand(Utf8ToWide(elevation.program_text + " " + arguments), starter));
    EXPECT_EQ(starter.process_attempts, std::vector<std::string>{"\"" + WideToUtf8(*recorder_) + "\" " + arguments});
    const Recorded recorded = WaitForRecord(record);
    EXPECT_EQ(recorded.arguments, (std::vector<std::string>{WideToUtf8(record), "/S", "--log=a b"}));
  }
  EXPECT_EQ(planted.Started(), std::vector<std::string>{});
}

TEST_F(LaunchUninstallerTest, MissingProgramAnswersFalse) {
  EXPECT_FALSE(LaunchReply("\"" + WideToUtf8(drive_->PathOf(L"Program Files\\Gone\\uninst.exe")) + "\" /S"));
  EXPECT_FALSE(LaunchReply(WideToUtf8(drive_->PathOf(L"no such uninstaller.exe"))));
}

// A document type of this test's own, opened by the recorder. The prefix's shell reads
// associations from the machine's classes only, so that is where it goes (and is removed).
class DocumentAssociation {
 public:
  DocumentAssociation(const std::wstring& program, const std::wstring& record) {
    Set(L"Software\\Classes\\.pelmoraappstest", L"PelmoraAppsTest.Document");
    Set(L"Software\\Classes\\PelmoraAppsTest.Document\\shell\\open\\command",
        L"\"" + program + L"\" \"" + record + L"\" \"%1\"");
  }
  ~DocumentAssociation() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.pelmoraappstest");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\PelmoraAppsTest.Document");
  }
  DocumentAssociation(const DocumentAssociation&) = delete;
  DocumentAssociation& operator=(const DocumentAssociation&) = delete;

 private:
  static void Set(const wchar_t* path, const std::wstring& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
};

TEST_F(LaunchUninstallerTest, DocumentPathIsOpenedByTheShell) {
  const std::wstring record = drive_->PathOf(L"record document.txt");
  const DocumentAssociation association(*recorder_, record);
  drive_->AddFile(L"read me.pelmoraappstest", 10);
  const std::wstring document = drive_->PathOf(L"read me.pelmoraappstest");
  EXPECT_TRUE(LaunchReply(WideToUtf8(document)));
  const Recorded recorded = WaitForRecord(record);
  EXPECT_EQ(recorded.arguments, (std::vector<std::string>{WideToUtf8(record), WideToUtf8(document)}));
}

}  // namespace
}  // namespace pel_mora
