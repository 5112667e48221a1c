#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/cleanup/category_cleanup.h"
#include "plugin/cleanup/category_scan.h"
#include "plugin/cleanup/cleanup_folders.h"
#include "plugin/cleanup/cleanup_traversal.h"
#include "plugin/cleanup/file_identity_win32.h"
#include "plugin/cleanup/known_folders_win32.h"
#include "plugin/file_handle.h"
#include "plugin/operations.h"
#include "plugin/string_conversion.h"
#include "tests/plugin/cleanup/system_canary.h"
#include "tests/plugin/cleanup/trash_fixture.h"
#include "tests/support/fixture_drive.h"
#include "tests/support/scoped_process_state.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using test_support::DriveLetterMapping;
using test_support::FixtureDrive;
using test_support::ScopedCurrentFolder;
using test_support::ScopedEnvironmentVariable;
using test_support::SystemCanary;
using test_support::TestTrash;

const EncodableValue& Field(const EncodableMap& map, const char* key) {
  static const EncodableValue kMissing;
  const auto found = map.find(EncodableValue(key));
  return found == map.end() ? kMissing : found->second;
}

int64_t IntegerField(const EncodableMap& map, const char* key) {
  return Field(map, key).LongValue();
}

std::string StringField(const EncodableMap& map, const char* key) {
  return std::get<std::string>(Field(map, key));
}

// The record of `id` in a scan reply; fails the test when it is missing.
EncodableMap RecordOf(const EncodableList& records, const std::string& id) {
  for (const EncodableValue& record : records) {
    const auto& map = std::get<EncodableMap>(record);
    if (StringField(map, "id") == id) {
      return map;
    }
  }
  ADD_FAILURE() << "no record for " << id;
  return {};
}

struct Totals {
  int64_t bytes;
  int64_t items;
};

Totals ScanTotals(const EncodableList& records, const std::string& id) {
  const EncodableMap record = RecordOf(records, id);
  return {IntegerField(record, "totalBytes"), IntegerField(record, "itemCount")};
}

// A folder of the fixture with every missing folder above it.
void AddTreeFolder(const FixtureDrive& drive, std::wstring_view relative) {
  for (size_t end = relative.find(L'\\'); ; end = relative.find(L'\\', end + 1)) {
    const std::wstring path = drive.PathOf(relative.substr(0, end));
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      throw std::runtime_error("CreateDirectoryW failed for " + WideToUtf8(path));
    }
    if (end == std::wstring_view::npos) {
      return;
    }
  }
}

// A file of the fixture, with the folders above it.
void AddTreeFile(const FixtureDrive& drive, std::wstring_view relative, uint64_t size_bytes) {
  const size_t parent_end = relative.rfind(L'\\');
  if (parent_end != std::wstring_view::npos) {
    AddTreeFolder(drive, relative.substr(0, parent_end));
  }
  drive.AddFile(relative, size_bytes);
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

EncodableValue ValueOf(WorkerReply reply) {
  auto* value = std::get_if<EncodableValue>(&reply);
  if (value == nullptr) {
    ADD_FAILURE() << "the operation did not answer with a value";
    return EncodableValue();
  }
  return *value;
}

// Folders of a fixture drive standing in for the user's and the system's: every base folder of
// the catalogue lies on the fixture, so a scan or a clean-up reaches nothing else.
// The fixture's "Documents" stands for the user's documents: a protected folder no category may
// reach, and its letter for a volume's root.
CleanupFolders FixtureFolders(const FixtureDrive& drive, bool system_drive) {
  for (const wchar_t* folder : {L"Windows", L"Windows\\Temp", L"Local", L"Local\\Temp", L"Documents"}) {
    AddTreeFolder(drive, folder);
  }
  CleanupFolders folders;
  folders.windows_directory = drive.PathOf(L"Windows");
  folders.system_letter = drive.Letter();
  folders.drive_letter = drive.Letter();
  folders.is_system_drive = system_drive;
  folders.drive_root = drive.Root();
  folders.local_app_data = drive.PathOf(L"Local");
  folders.user_temp = drive.PathOf(L"Local\\Temp");
  folders.windows_temp = drive.PathOf(L"Windows\\Temp");
  folders.places.local_app_data = IdentityOfPath(folders.local_app_data, LinkHandling::kFollow);
  folders.places.windows_directory = IdentityOfPath(folders.windows_directory, LinkHandling::kFollow);
  for (const wchar_t* kept : {L"Windows", L"Local", L"Documents"}) {
    folders.places.protected_folders.push_back(
        IdentityChainOfPath(drive.PathOf(kept), LinkHandling::kFollow).value_or(IdentityChain()));
  }
  folders.places.drive_root_is_volume_root = true;
  return folders;
}

// Checks a scan reply against the catalogue's rows for the drive kind, in order: the texts are
// pinned once, in the portable catalogue test; here each record must carry its row's texts and
// the reply's shape.
void ExpectRecords(const EncodableList& records, ListedFor drive_kind) {
  std::vector<const CatalogueRow*> rows;
  for (const CatalogueRow& row : CleanupCatalogue()) {
    if (row.listed_for == drive_kind) {
      rows.push_back(&row);
    }
  }
  ASSERT_EQ(records.size(), rows.size());
  for (size_t index = 0; index < rows.size(); ++index) {
    const auto& record = std::get<EncodableMap>(records[index]);
    SCOPED_TRACE(std::string(rows[index]->id));
    EXPECT_EQ(StringField(record, "id"), rows[index]->id);
    EXPECT_EQ(StringField(record, "name"), rows[index]->name);
    EXPECT_EQ(StringField(record, "description"), rows[index]->description);
    EXPECT_EQ(StringField(record, "group"), rows[index]->group);
    EXPECT_EQ(Field(record, "isSafe"), EncodableValue(true));
    EXPECT_TRUE(std::holds_alternative<int64_t>(Field(record, "totalBytes")));
    EXPECT_TRUE(std::holds_alternative<int64_t>(Field(record, "itemCount")));
    EXPECT_EQ(record.size(), 7u);
  }
}

TEST(CategoryScanTest, SystemDriveGivesElevenRecordsWithTheirExactTexts) {
  const EncodableValue reply = ValueOf(ScanCleanableCategoriesOperation(""));
  ExpectRecords(std::get<EncodableList>(reply), ListedFor::kSystemDrive);
  EXPECT_EQ(std::get<EncodableList>(reply).size(), 11u);
}

TEST(CategoryScanTest, OtherDriveMeasuresItsRootFoldersAndRootOnlySuffixes) {
  FixtureDrive drive;
  AddTreeFile(drive, L"Temp\\a.bin", 10);
  AddTreeFile(drive, L"Temp\\sub\\b.bin", 20);
  AddTreeFile(drive, L"$GetCurrent\\c.bin", 30);
  AddTreeFile(drive, L"$SysReset\\deep\\d.bin", 40);
  AddTreeFile(drive, L"setup.tmp", 5);
  AddTreeFile(drive, L"upper.TMP", 7);          // Case does not matter for A to Z.
  AddTreeFile(drive, L"setuptmp", 8);           // The letters without the dot are not the suffix.
  AddTreeFile(drive, L"folder\\nested.tmp", 9);  // Only files directly in the root count.
  AddTreeFile(drive, L"found.000\\file0000.chk", 11);
  AddTreeFile(drive, L"found.001\\other", 12);
  AddTreeFile(drive, L"file0001.chk", 13);
  AddTreeFile(drive, L"FILE0002.CHK", 16);
  AddTreeFile(drive, L"folder\\nested.chk", 14);
  AddTreeFile(drive, L"keep.txt", 15);

  const std::string letter(1, static_cast<char>(drive.Letter()));
  for (const std::string& argument : {letter, letter + ":", letter + ":\\"}) {
    SCOPED_TRACE(argument);
    const auto records = std::get<EncodableList>(ValueOf(ScanCleanableCategoriesOperation(argument)));
    ExpectRecords(records, ListedFor::kOtherDrive);
    EXPECT_EQ(ScanTotals(records, "drive_temp").bytes, 10 + 20 + 30 + 40 + 5 + 7);
    EXPECT_EQ(ScanTotals(records, "drive_temp").items, 6);
    EXPECT_EQ(ScanTotals(records, "chkdsk_fragments").bytes, 11 + 12 + 13 + 16);
    EXPECT_EQ(ScanTotals(records, "chkdsk_fragments").items, 4);
  }

  // The clean-up deletes what was counted, keeps every category root, and nothing else.
  const auto reply = std::get<EncodableMap>(
      ValueOf(PerformCleanupOperation({"drive_temp", "chkdsk_fragments"}, letter + ":")));
  EXPECT_EQ(IntegerField(reply, "bytesCleaned"), 112 + 52);
  EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 10);
  EXPECT_EQ(IntegerField(reply, "errorsCount"), 0);
  for (const wchar_t* kept : {L"Temp", L"$GetCurrent", L"$SysReset", L"found.000", L"found.001", L"setuptmp",
                              L"folder\\nested.tmp", L"folder\\nested.chk", L"keep.txt"}) {
    EXPECT_TRUE(Exists(drive.PathOf(kept))) << WideToUtf8(kept);
  }
  for (const wchar_t* gone : {L"Temp\\a.bin", L"Temp\\sub", L"$SysReset\\deep", L"setup.tmp", L"upper.TMP",
                              L"file0001.chk", L"FILE0002.CHK", L"found.000\\file0000.chk"}) {
    EXPECT_FALSE(Exists(drive.PathOf(gone))) << WideToUtf8(gone);
  }
}

TEST(CategoryScanTest, NonexistentDriveStillListsItsThreeRowsWithEmptyFolders) {
  // A letter past the ones the fixtures claim; no drive is mapped there in the test prefix.
  const auto records = std::get<EncodableList>(ValueOf(ScanCleanableCategoriesOperation("B")));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(ScanTotals(records, "drive_temp").items, 0);
  EXPECT_EQ(ScanTotals(records, "chkdsk_fragments").items, 0);
}

// Each category of the user's local application data, measured and cleaned on a fixture that
// also holds a decoy beside the category folders.
TEST(CategoryScanTest, LocalAppDataCategoriesMeasureAndCleanTheSameFiles) {
  struct CategoryCase {
    const char* id;
    std::vector<std::pair<const wchar_t*, uint64_t>> files;
    int64_t counted_bytes;
    int64_t counted_items;
  };
  const std::vector<CategoryCase> cases = {
      {"crash_dumps", {{L"Local\\CrashDumps\\app.dmp", 100}, {L"Local\\Microsoft\\Windows\\WER\\ReportQueue\\r.wer", 7}}, 107, 2},
      {"thumbnail_cache",
       {{L"Local\\Microsoft\\Windows\\Explorer\\thumbcache_32.db", 3},
        {L"Local\\Microsoft\\Windows\\Explorer\\thumbcache_96.DB", 50},
        {L"Local\\Microsoft\\Windows\\Explorer\\sub\\nested.db", 60},
        {L"Local\\Microsoft\\Windows\\Explorer\\iconcache.dat", 70}},
       53,
       2},
      {"chrome_cache",
       {{L"Local\\Google\\Chrome\\User Data\\Default\\Cache\\Cache_Data\\f_0001", 8},
        {L"Local\\Google\\Chrome\\User Data\\Default\\Code Cache\\js\\index", 9},
        {L"Local\\Google\\Chrome\\User Data\\Default\\Bookmarks", 500}},
       17,
       2},
      {"edge_cache",
       {{L"Local\\Microsoft\\Edge\\User Data\\Default\\Cache\\data_1", 4},
        {L"Local\\Microsoft\\Edge\\User Data\\Default\\Code Cache\\wasm\\x", 5},
        {L"Local\\Microsoft\\Edge\\User Data\\Default\\History", 600}},
       9,
       2},
      {"firefox_cache", {{L"Local\\Mozilla\\Firefox\\Profiles\\abc.default\\cache2\\entries\\E1", 6}}, 6, 1},
      {"app_cache",
       {{L"Local\\Discord\\Cache\\a", 1},
        {L"Local\\Discord\\Code Cache\\b", 2},
        {L"Local\\Spotify\\Storage\\c", 3},
        {L"Local\\Slack\\Cache\\d", 4},
        {L"Local\\Discord\\settings.json", 700}},
       10,
       4},
      {"directx_cache",
       {{L"Local\\D3DSCache\\x\\y.idx", 1}, {L"Local\\NVIDIA\\GLCache\\z", 2}, {L"Local\\AMD\\DxCache\\w", 3}},
       6,
       3},
      {"windows_update_cache",
       {{L"Windows\\SoftwareDistribution\\Download\\kb\\update.cab", 40},
        {L"Windows\\SoftwareDistribution\\DataStore\\DataStore.edb", 800}},
       40,
       1},
      {"user_temp", {{L"Local\\Temp\\t1", 11}, {L"Local\\Temp\\dir\\t2", 12}}, 23, 2},
      {"system_temp", {{L"Windows\\Temp\\s1", 13}}, 13, 1},
  };
  for (const CategoryCase& test_case : cases) {
    SCOPED_TRACE(test_case.id);
    FixtureDrive drive;
    const CleanupFolders folders = FixtureFolders(drive, true);
    AddTreeFile(drive, L"Local\\decoy.txt", 1000);
    for (const auto& [path, size] : test_case.files) {
      AddTreeFile(drive, path, size);
    }
    const EncodableList records = ScanCleanableCategories(folders);
    ASSERT_EQ(records.size(), 11u);
    EXPECT_EQ(ScanTotals(records, test_case.id).bytes, test_case.counted_bytes);
    EXPECT_EQ(ScanTotals(records, test_case.id).items, test_case.counted_items);

    const EncodableMap reply = PerformCleanup({test_case.id}, folders);
    EXPECT_EQ(IntegerField(reply, "bytesCleaned"), test_case.counted_bytes);
    EXPECT_EQ(IntegerField(reply, "itemsDeleted"), test_case.counted_items);
    EXPECT_EQ(IntegerField(reply, "errorsCount"), 0);
    // What was counted is gone and nothing else was touched.
    const EncodableList after = ScanCleanableCategories(folders);
    EXPECT_EQ(ScanTotals(after, test_case.id).items, 0);
    EXPECT_TRUE(Exists(drive.PathOf(L"Local\\decoy.txt")));
    int64_t remaining = 0;
    for (const auto& [path, size] : test_case.files) {
      remaining += Exists(drive.PathOf(path)) ? 1 : 0;
    }
    EXPECT_EQ(remaining, static_cast<int64_t>(test_case.files.size()) - test_case.counted_items);
  }
}

TEST(CategoryScanTest, WithoutLocalAppDataItsRowsStayListedWithZeros) {
  FixtureDrive drive;
  CleanupFolders folders = FixtureFolders(drive, true);
  AddTreeFile(drive, L"Local\\CrashDumps\\app.dmp", 100);
  folders.local_app_data.clear();
  const EncodableList records = ScanCleanableCategories(folders);
  ASSERT_EQ(records.size(), 11u);
  EXPECT_EQ(ScanTotals(records, "crash_dumps").items, 0);
  const EncodableMap reply = PerformCleanup({"crash_dumps"}, folders);
  EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 0);
  const auto& entry = std::get<EncodableMap>(std::get<EncodableList>(Field(reply, "breakdown"))[0]);
  EXPECT_EQ(StringField(entry, "name"), "Crash Dumps & Error Reports");
  EXPECT_TRUE(Exists(drive.PathOf(L"Local\\CrashDumps\\app.dmp")));
}

TEST(CategoryTraversalTest, DepthIsBoundedTwentyLevelsBelowTheCategoryFolder) {
  FixtureDrive drive;
  std::wstring relative = L"Temp";
  AddTreeFile(drive, relative + L"\\level0", 1);
  for (int level = 1; level <= 21; ++level) {
    relative += L"\\l" + std::to_wstring(level);
    AddTreeFile(drive, relative + L"\\level" + std::to_wstring(level), 1);
  }
  const CleanupFolders folders = FixtureFolders(drive, false);
  EXPECT_EQ(ScanTotals(ScanCleanableCategories(folders), "drive_temp").items, 21);
  const EncodableMap reply = PerformCleanup({"drive_temp"}, folders);
  EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 21);
  // The file 21 levels down was out of reach and stays, with the folders above it.
  EXPECT_TRUE(Exists(drive.PathOf(relative + L"\\level21")));
  EXPECT_FALSE(Exists(drive.PathOf(L"Temp\\l1\\l2\\level2")));
}

// A chain of empty folders reaching below the depth limit goes with the rest of the emptied tree;
// a folder below the limit that still holds a file stays, with that file.
TEST(CategoryTraversalTest, EmptyFoldersBelowTheDepthLimitAreRemoved) {
  FixtureDrive drive;
  std::wstring empty_chain = L"Temp\\empty";
  for (int level = 2; level <= 25; ++level) {
    empty_chain += L"\\e" + std::to_wstring(level);
  }
  AddTreeFolder(drive, empty_chain);
  std::wstring kept_chain = L"Temp\\kept";
  for (int level = 2; level <= 22; ++level) {
    kept_chain += L"\\k" + std::to_wstring(level);
  }
  AddTreeFile(drive, kept_chain + L"\\deep.bin", 5);
  const CleanupFolders folders = FixtureFolders(drive, false);

  const EncodableMap reply = PerformCleanup({"drive_temp"}, folders);

  EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 0);
  EXPECT_EQ(IntegerField(reply, "errorsCount"), 0);
  EXPECT_FALSE(Exists(drive.PathOf(L"Temp\\empty")));
  EXPECT_TRUE(Exists(drive.PathOf(kept_chain + L"\\deep.bin")));
  EXPECT_TRUE(Exists(drive.PathOf(L"Temp")));
}

// Two clean-ups of one folder at once: a file the other one removed first is neither an error nor
// freed by this one. The second clean-up runs inside the first, once the first has listed the
// folder and before it deletes anything.
// The second clean-up runs inside the first, once the first has listed the folder and before it
// deletes anything.
TEST(CategoryCleanupTest, FilesAnotherCleanupRemovedAreNeitherErrorsNorFreed) {
  FixtureDrive drive;
  for (int index = 0; index < 5; ++index) {
    AddTreeFile(drive, L"Temp\\sub\\f" + std::to_wstring(index) + L".bin", 100);
  }
  const CleanupFolders folders = FixtureFolders(drive, false);
  std::optional<EncodableMap> inner;
  const WalkHook run_another = [&](WalkMoment moment, const std::wstring& folder) {
    if (moment == WalkMoment::kFolderListed && folder == drive.PathOf(L"Temp\\sub") && !inner) {
      inner = PerformCleanup({"drive_temp"}, folders);
    }
  };

  const EncodableMap outer = PerformCleanup({"drive_temp"}, folders, run_another);

  ASSERT_TRUE(inner.has_value());
  EXPECT_EQ(IntegerField(*inner, "itemsDeleted"), 5);
  EXPECT_EQ(IntegerField(*inner, "bytesCleaned"), 500);
  EXPECT_EQ(IntegerField(*inner, "errorsCount"), 0);
  EXPECT_EQ(IntegerField(outer, "itemsDeleted"), 0);
  EXPECT_EQ(IntegerField(outer, "bytesCleaned"), 0);
  EXPECT_EQ(IntegerField(outer, "errorsCount"), 0);
  EXPECT_FALSE(Exists(drive.PathOf(L"Temp\\sub")));
}

TEST(CategoryTraversalTest, LinksInsideACategoryAreNeitherCountedNorEntered) {
  FixtureDrive drive;
  AddTreeFile(drive, L"Precious\\thesis.docx", 1000);
  AddTreeFile(drive, L"Temp\\junk", 10);
  AddTreeFolder(drive, L"Temp\\sub");
  drive.AddUnixSymlink(L"Temp\\link", L"Precious");
  drive.AddUnixSymlink(L"Temp\\sub\\deeper", L"Precious");
  const CleanupFolders folders = FixtureFolders(drive, false);
  EXPECT_EQ(ScanTotals(ScanCleanableCategories(folders), "drive_temp").bytes, 10);
  const EncodableMap reply = PerformCleanup({"drive_temp"}, folders);
  EXPECT_EQ(IntegerField(reply, "bytesCleaned"), 10);
  EXPECT_EQ(IntegerField(reply, "errorsCount"), 0);
  EXPECT_TRUE(Exists(drive.PathOf(L"Precious\\thesis.docx")));
  EXPECT_TRUE(Exists(drive.PathOf(L"Temp\\link")));
  // The folder holding a link is not empty, so it stays.
  EXPECT_TRUE(Exists(drive.PathOf(L"Temp\\sub")));
}

TEST(CategoryTraversalTest, HiddenSystemAndReadOnlyFilesAreCountedAndDeleted) {
  FixtureDrive drive;
  struct AttributeCase {
    const wchar_t* name;
    DWORD attributes;
  };
  const AttributeCase cases[] = {
      {L"Temp\\hidden.bin", FILE_ATTRIBUTE_HIDDEN},
      {L"Temp\\system.bin", FILE_ATTRIBUTE_SYSTEM},
      {L"Temp\\readonly.bin", FILE_ATTRIBUTE_READONLY},
      {L"Temp\\sub\\all.bin", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY},
  };
  for (const AttributeCase& test_case : cases) {
    AddTreeFile(drive, test_case.name, 100);
    const std::wstring path = drive.PathOf(test_case.name);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), test_case.attributes)) << GetLastError();
    ASSERT_EQ(GetFileAttributesW(path.c_str()) & test_case.attributes, test_case.attributes)
        << WideToUtf8(test_case.name);
  }
  const CleanupFolders folders = FixtureFolders(drive, false);
  EXPECT_EQ(ScanTotals(ScanCleanableCategories(folders), "drive_temp").items, 4);
  const EncodableMap reply = PerformCleanup({"drive_temp"}, folders);
  EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 4);
  EXPECT_EQ(IntegerField(reply, "bytesCleaned"), 400);
  EXPECT_EQ(IntegerField(reply, "errorsCount"), 0);
  for (const AttributeCase& test_case : cases) {
    EXPECT_FALSE(Exists(drive.PathOf(test_case.name))) << WideToUtf8(test_case.name);
  }
  EXPECT_TRUE(Exists(drive.PathOf(L"Temp")));
}

TEST(CategoryCleanupTest, AFileHeldOpenWithoutDeleteSharingCountsOneError) {
  FixtureDrive drive;
  AddTreeFile(drive, L"Temp\\busy\\held.log", 50);
  AddTreeFile(drive, L"Temp\\free.log", 20);
  const CleanupFolders folders = FixtureFolders(drive, false);
  const std::wstring held_path = drive.PathOf(L"Temp\\busy\\held.log");
  const FileHandle held(CreateFileW(held_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held.IsValid()) << GetLastError();
  const EncodableMap reply = PerformCleanup({"drive_temp"}, folders);
  EXPECT_EQ(IntegerField(reply, "errorsCount"), 1);
  EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 1);
  EXPECT_EQ(IntegerField(reply, "bytesCleaned"), 20);
  EXPECT_TRUE(Exists(held_path));
  EXPECT_FALSE(Exists(drive.PathOf(L"Temp\\free.log")));
}

TEST(CategoryCleanupTest, RepeatedAndUnknownIdsEachGetAnEntryInRequestOrder) {
  FixtureDrive drive;
  AddTreeFile(drive, L"Temp\\a", 30);
  const CleanupFolders folders = FixtureFolders(drive, false);
  const EncodableMap reply = PerformCleanup({"drive_temp", "no_such_category", "drive_temp", "Drive_Temp"}, folders);
  EXPECT_EQ(IntegerField(reply, "bytesCleaned"), 30);
  EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 1);
  EXPECT_EQ(IntegerField(reply, "errorsCount"), 0);
  const auto& breakdown = std::get<EncodableList>(Field(reply, "breakdown"));
  ASSERT_EQ(breakdown.size(), 4u);
  struct EntryCase {
    const char* id;
    const char* name;
    int64_t bytes;
    int64_t items;
  };
  const EntryCase expected[] = {
      {"drive_temp", "Drive Temporary Files", 30, 1},
      {"no_such_category", "", 0, 0},
      {"drive_temp", "Drive Temporary Files", 0, 0},
      {"Drive_Temp", "", 0, 0},
  };
  for (size_t index = 0; index < breakdown.size(); ++index) {
    const auto& entry = std::get<EncodableMap>(breakdown[index]);
    EXPECT_EQ(entry.size(), 4u);
    EXPECT_EQ(StringField(entry, "id"), expected[index].id);
    EXPECT_EQ(StringField(entry, "name"), expected[index].name);
    EXPECT_EQ(IntegerField(entry, "bytes"), expected[index].bytes);
    EXPECT_EQ(IntegerField(entry, "itemCount"), expected[index].items);
  }

  const EncodableMap empty = PerformCleanup({}, folders);
  EXPECT_EQ(IntegerField(empty, "bytesCleaned"), 0);
  EXPECT_EQ(IntegerField(empty, "itemsDeleted"), 0);
  EXPECT_EQ(IntegerField(empty, "errorsCount"), 0);
  EXPECT_TRUE(std::get<EncodableList>(Field(empty, "breakdown")).empty());
}

TEST(CategoryCleanupTest, RecycleBinEntryIsNamedForTheDriveKind) {
  FixtureDrive drive;
  const std::string letter(1, static_cast<char>(drive.Letter()));
  struct BinCase {
    std::string drive_letter;
    const char* name;
  };
  for (const BinCase& test_case : {BinCase{letter, "Drive Recycle Bin"}, BinCase{"", "Windows Recycle Bin"}}) {
    const auto reply = std::get<EncodableMap>(ValueOf(PerformCleanupOperation({"recycle_bin"}, test_case.drive_letter)));
    const auto& entry = std::get<EncodableMap>(std::get<EncodableList>(Field(reply, "breakdown"))[0]);
    EXPECT_EQ(StringField(entry, "name"), test_case.name);
  }
}

// A category folder that is itself a link (a cache folder junctioned to the user's documents)
// is neither measured nor emptied.
TEST(CategoryLinkTest, ACategoryFolderThatIsALinkIsLeftAlone) {
  FixtureDrive drive;
  const CleanupFolders folders = FixtureFolders(drive, true);
  AddTreeFile(drive, L"Documents\\thesis.docx", 1000);
  AddTreeFile(drive, L"Documents\\drafts\\draft1.docx", 500);
  AddTreeFolder(drive, L"Local\\Google\\Chrome\\User Data\\Default");
  drive.AddUnixSymlink(L"Local\\Google\\Chrome\\User Data\\Default\\Cache", L"Documents");
  drive.AddUnixSymlink(L"Local\\CrashDumps", L"Documents");
  const EncodableList records = ScanCleanableCategories(folders);
  EXPECT_EQ(ScanTotals(records, "chrome_cache").items, 0);
  EXPECT_EQ(ScanTotals(records, "crash_dumps").items, 0);
  const EncodableMap reply = PerformCleanup({"chrome_cache", "crash_dumps"}, folders);
  EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 0);
  EXPECT_TRUE(Exists(drive.PathOf(L"Documents\\thesis.docx")));
  EXPECT_TRUE(Exists(drive.PathOf(L"Documents\\drafts\\draft1.docx")));
}

// Swaps the walked subfolder for a link to the user's documents just before the walk opens it.
class SwapForLink {
 public:
  SwapForLink(const FixtureDrive& drive, std::wstring subfolder_relative)
      : drive_(drive), subfolder_relative_(std::move(subfolder_relative)) {}

  WalkHook Hook() {
    return [this](WalkMoment moment, const std::wstring& subfolder) {
      if (moment != WalkMoment::kBeforeDescending || subfolder != drive_.PathOf(subfolder_relative_) || swapped_) {
        return;
      }
      swapped_ = true;
      const std::wstring moved = drive_.PathOf(L"Moved");
      ASSERT_TRUE(MoveFileW(subfolder.c_str(), moved.c_str())) << GetLastError();
      drive_.AddUnixSymlink(subfolder_relative_, L"Documents");
    };
  }
  bool swapped() const { return swapped_; }

 private:
  const FixtureDrive& drive_;
  std::wstring subfolder_relative_;
  bool swapped_ = false;
};

TEST(CategoryLinkTest, ASubfolderSwappedForALinkBeforeDescendingIsNotEntered) {
  enum class Action { kMeasure, kClean };
  for (Action action : {Action::kMeasure, Action::kClean}) {
    SCOPED_TRACE(action == Action::kMeasure ? "measure" : "clean");
    FixtureDrive drive;
    const CleanupFolders folders = FixtureFolders(drive, false);
    AddTreeFile(drive, L"Documents\\thesis.docx", 1000);
    AddTreeFile(drive, L"Documents\\notes\\n.txt", 100);
    AddTreeFile(drive, L"Temp\\cache\\c.bin", 10);
    AddTreeFile(drive, L"Temp\\top.bin", 1);
    SwapForLink swap(drive, L"Temp\\cache");
    if (action == Action::kMeasure) {
      const Totals totals = ScanTotals(ScanCleanableCategories(folders, swap.Hook()), "drive_temp");
      EXPECT_EQ(totals.bytes, 1);
      EXPECT_EQ(totals.items, 1);
    } else {
      const EncodableMap reply = PerformCleanup({"drive_temp"}, folders, swap.Hook());
      EXPECT_EQ(IntegerField(reply, "bytesCleaned"), 1);
      EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 1);
    }
    EXPECT_TRUE(swap.swapped());
    EXPECT_TRUE(Exists(drive.PathOf(L"Documents\\thesis.docx")));
    EXPECT_TRUE(Exists(drive.PathOf(L"Documents\\notes\\n.txt")));
    EXPECT_TRUE(Exists(drive.PathOf(L"Moved\\c.bin")));
    EXPECT_TRUE(Exists(drive.PathOf(L"Temp\\cache")));
  }
}

// While a folder's contents are walked, the folder cannot be renamed away (and a link put in
// its place).
TEST(CategoryLinkTest, AFolderCannotBeRenamedWhileItIsWalked) {
  FixtureDrive drive;
  AddTreeFile(drive, L"Cache\\sub\\f.bin", 1);
  class RenamingVisitor : public TraversalVisitor {
   public:
    explicit RenamingVisitor(const FixtureDrive& drive) : drive_(drive) {}
    void VisitFile(const std::wstring& /*path*/, const WIN32_FIND_DATAW& /*entry*/, FileOutcome /*outcome*/) override {
      ++files_;
      const std::wstring walked = drive_.PathOf(L"Cache\\sub");
      const std::wstring elsewhere = drive_.PathOf(L"Elsewhere");
      renamed_ = MoveFileW(walked.c_str(), elsewhere.c_str()) != 0;
    }
    int files_ = 0;
    bool renamed_ = true;

   private:
    const FixtureDrive& drive_;
  } visitor(drive);
  const FolderJudge any_folder = [](const NamedIdentityChain&) { return true; };
  WalkContentItem(drive.PathOf(L"Cache"), any_folder, Recursion::kRecursive, L"", WalkPurpose::kMeasure, visitor);
  EXPECT_EQ(visitor.files_, 1);
  EXPECT_FALSE(visitor.renamed_);
  EXPECT_TRUE(Exists(drive.PathOf(L"Cache\\sub\\f.bin")));
}

std::wstring ParentOf(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L'\\'));
}

TEST(CleanupFoldersTest, SystemDriveIsChosenByAnEmptyArgumentOrItsOwnLetter) {
  const CleanupFolders system = ResolveCleanupFolders("");
  ASSERT_FALSE(system.windows_directory.empty());
  EXPECT_TRUE(system.is_system_drive);
  EXPECT_EQ(system.drive_letter, system.windows_directory[0]);
  EXPECT_FALSE(system.local_app_data.empty());
  EXPECT_EQ(system.windows_temp, system.windows_directory + L"\\Temp");
  const char lower_system = static_cast<char>(system.windows_directory[0] - L'A' + L'a');
  for (const std::string& argument : {std::string(1, lower_system), std::string(1, lower_system) + ":\\"}) {
    EXPECT_TRUE(ResolveCleanupFolders(argument).is_system_drive) << argument;
  }
  const CleanupFolders other = ResolveCleanupFolders("e:");
  EXPECT_FALSE(other.is_system_drive);
  EXPECT_EQ(other.drive_letter, L'E');
  EXPECT_EQ(other.drive_root, L"E:\\");
}

// A TMP naming a drive root, the profile or a folder above the user's own folders leaves the
// user's temporary folder empty, so nothing is measured or deleted for it.
TEST(CleanupFoldersTest, TemporaryFoldersThatHoldOtherFoldersAreNotUsed) {
  FixtureDrive drive;
  AddTreeFolder(drive, L"Temp");
  const CleanupFolders system = ResolveCleanupFolders("");
  const std::wstring local = system.local_app_data;
  CreateDirectoryW((local + L"\\Temp").c_str(), nullptr);
  struct TempCase {
    std::wstring tmp;
    std::wstring expected;  // Empty when the folder must not be used.
  };
  const std::vector<TempCase> cases = {
      {drive.Root(), L""},
      {drive.PathOf(L"Temp\\..\\"), L""},
      {drive.PathOf(L"Temp\\.\\..\\.."), L""},
      {std::wstring(1, drive.Letter()) + L":", L""},
      {L"\\\\?\\" + drive.PathOf(L"Temp\\.."), L""},
      {local, L""},
      {local + L"\\..", L""},
      {ParentOf(ParentOf(local)), L""},  // The profile.
      {system.windows_directory, L""},
      {drive.PathOf(L"Temp\\.\\x\\..\\"), drive.PathOf(L"Temp")},
      {drive.PathOf(L"Temp."), drive.PathOf(L"Temp")},
      {local + L"\\Temp\\", local + L"\\Temp"},
  };
  for (const TempCase& test_case : cases) {
    SCOPED_TRACE(WideToUtf8(test_case.tmp));
    const ScopedEnvironmentVariable tmp(L"TMP", test_case.tmp);
    const CleanupFolders folders = ResolveCleanupFolders("");
    EXPECT_EQ(folders.user_temp, test_case.expected);
  }
}

// The fixture a TMP of a drive root would have emptied: everything on the drive survives.
TEST(CleanupFoldersTest, ATemporaryFolderAtADriveRootDeletesNothing) {
  FixtureDrive drive;
  AddTreeFile(drive, L"Documents\\thesis.docx", 1000);
  AddTreeFile(drive, L"photo.jpg", 2000);
  const ScopedEnvironmentVariable tmp(L"TMP", drive.Root());
  const auto records = std::get<EncodableList>(ValueOf(ScanCleanableCategoriesOperation("")));
  const Totals totals = ScanTotals(records, "user_temp");
  EXPECT_EQ(totals.bytes, 0);
  EXPECT_EQ(totals.items, 0);
  const auto reply = std::get<EncodableMap>(ValueOf(PerformCleanupOperation({"user_temp"}, "")));
  EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 0);
  EXPECT_TRUE(Exists(drive.PathOf(L"Documents\\thesis.docx")));
  EXPECT_TRUE(Exists(drive.PathOf(L"photo.jpg")));
}

// The user's temporary folder and crash dumps of the test prefix itself, through the
// operations the dispatcher calls.
TEST(CategoryOperationTest, UserTempAndCrashDumpsOfThePrefixAreMeasuredAndCleaned) {
  FixtureDrive drive;
  AddTreeFile(drive, L"Temp\\one.tmp", 300);
  AddTreeFile(drive, L"Temp\\nested\\two.tmp", 200);
  const ScopedEnvironmentVariable tmp(L"TMP", drive.PathOf(L"Temp"));

  const CleanupFolders system = ResolveCleanupFolders("");
  const std::wstring crash_dumps = system.local_app_data + L"\\CrashDumps";
  const Totals before = ScanTotals(std::get<EncodableList>(ValueOf(ScanCleanableCategoriesOperation(""))), "crash_dumps");
  CreateDirectoryW(crash_dumps.c_str(), nullptr);
  const std::wstring dump = crash_dumps + L"\\fixture-category-test.dmp";
  {
    const FileHandle file(CreateFileW(dump.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    ASSERT_TRUE(file.IsValid()) << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), "0123456789", 10, &written, nullptr));
  }
  const auto records = std::get<EncodableList>(ValueOf(ScanCleanableCategoriesOperation("")));
  EXPECT_EQ(ScanTotals(records, "user_temp").bytes, 500);
  EXPECT_EQ(ScanTotals(records, "user_temp").items, 2);
  EXPECT_EQ(ScanTotals(records, "crash_dumps").bytes, before.bytes + 10);
  EXPECT_EQ(ScanTotals(records, "crash_dumps").items, before.items + 1);

  const auto reply = std::get<EncodableMap>(ValueOf(PerformCleanupOperation({"user_temp", "crash_dumps"}, "")));
  EXPECT_EQ(IntegerField(reply, "bytesCleaned"), 500 + before.bytes + 10);
  EXPECT_EQ(IntegerField(reply, "errorsCount"), 0);
  EXPECT_FALSE(Exists(dump));
  EXPECT_TRUE(Exists(crash_dumps));
  EXPECT_TRUE(Exists(drive.PathOf(L"Temp")));
  EXPECT_FALSE(Exists(drive.PathOf(L"Temp\\nested")));
}

// A temporary folder set to, or inside, the system's and the user's own folders is never used,
// whatever name reaches it: the prefix's System32, Program Files and ProgramData, folders inside
// them and inside Documents, and the Windows folder through a second drive letter for drive C.
// Where emptying the folder would only take a canary, the clean-up runs too; the whole system
// folders are only measured, so a missing guard shows as counted files instead of a wrecked
// prefix.
TEST(CleanupFoldersTest, TemporaryFoldersInsideSystemAndUserFoldersAreNotUsed) {
  const DriveLetterMapping& second_c = test_support::LastingDriveLetterMapping(test_support::PrefixDriveCUnixFolder());
  const std::wstring second_windows = second_c.Root() + L"windows";
  const std::wstring documents = KnownFolder(FOLDERID_Documents);
  ASSERT_FALSE(documents.empty());
  struct TempCase {
    std::wstring folder;        // Where the canary lies.
    std::wstring tmp_in_place;  // The TMP naming that folder, or empty for a canary folder below it.
    bool clean;
  };
  const std::vector<TempCase> cases = {
      {L"C:\\windows\\system32", L"C:\\windows\\system32", false},
      {L"C:\\Program Files", L"C:\\Program Files", false},
      {L"C:\\ProgramData", L"C:\\ProgramData", false},
      {L"C:\\windows", L"", true},
      {L"C:\\windows\\system32", L"", true},
      {L"C:\\Program Files", L"", true},
      {L"C:\\ProgramData", L"", true},
      {documents, L"", true},
  };
  for (const TempCase& test_case : cases) {
    for (const bool second_letter : {false, true}) {
      const SystemCanary canary(test_case.folder, SystemCanary::Kind::kFolderWithFile);
      std::wstring tmp = test_case.tmp_in_place.empty() ? canary.Path() : test_case.tmp_in_place;
      if (second_letter) {
        if (tmp.rfind(L"C:\\", 0) != 0) {
          continue;
        }
        tmp = second_c.Root() + tmp.substr(3);
      }
      SCOPED_TRACE(WideToUtf8(tmp));
      const ScopedEnvironmentVariable tmp_variable(L"TMP", tmp);
      EXPECT_EQ(ResolveCleanupFolders("").user_temp, L"");
      const auto records = std::get<EncodableList>(ValueOf(ScanCleanableCategoriesOperation("")));
      EXPECT_EQ(ScanTotals(records, "user_temp").items, 0);
      if (test_case.clean) {
        const auto reply = std::get<EncodableMap>(ValueOf(PerformCleanupOperation({"user_temp"}, "")));
        EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 0);
      }
      EXPECT_TRUE(canary.Intact());
    }
  }
  EXPECT_TRUE(Exists(second_windows));
}

// A TMP naming the profile through a second drive letter (a letter for the folder of user
// profiles, as subst gives one) is seen as the profile: nothing of it is measured.
TEST(CleanupFoldersTest, TheProfileThroughASecondDriveLetterIsNotATemporaryFolder) {
  const std::wstring profile = KnownFolder(FOLDERID_Profile);
  ASSERT_FALSE(profile.empty());
  const SystemCanary canary(profile, SystemCanary::Kind::kFile);
  const DriveLetterMapping& users =
      test_support::LastingDriveLetterMapping(test_support::PrefixDriveCUnixFolder() + L"/users");
  const std::wstring profile_name = profile.substr(profile.find_last_of(L'\\') + 1);
  for (const std::wstring& tmp : {users.Root() + profile_name, users.Root() + profile_name + L"\\AppData\\..",
                                  users.Root()}) {
    SCOPED_TRACE(WideToUtf8(tmp));
    const ScopedEnvironmentVariable tmp_variable(L"TMP", tmp);
    EXPECT_EQ(ResolveCleanupFolders("").user_temp, L"");
    const auto records = std::get<EncodableList>(ValueOf(ScanCleanableCategoriesOperation("")));
    EXPECT_EQ(ScanTotals(records, "user_temp").items, 0);
  }
  // The Windows folder's own Temp stays a temporary folder.
  const CleanupFolders folders = ResolveCleanupFolders("");
  EXPECT_FALSE(folders.windows_temp.empty());
  EXPECT_TRUE(canary.Intact());
}

// Removes a folder tree made by a test at the end of its scope.
class ScopedFolderTree {
 public:
  explicit ScopedFolderTree(std::wstring top) : top_(std::move(top)) {}
  ~ScopedFolderTree() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(top_), ignored);
  }
  ScopedFolderTree(const ScopedFolderTree&) = delete;
  ScopedFolderTree& operator=(const ScopedFolderTree&) = delete;

 private:
  std::wstring top_;
};

void CreateFolderChain(const std::wstring& folder) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(folder), error);
  if (error) {
    throw std::runtime_error("create_directories failed for " + WideToUtf8(folder) + ": " + error.message());
  }
}

// A TMP naming a folder of the user's data empties nothing, however the folder is called: only a
// folder with the sign of a temporary folder (the user's own Temp, or one named so outside every
// profile and protected place) is a temporary folder. Each case puts a canary in the folder TMP
// names; scanning finds nothing there and a clean-up deletes nothing.
TEST(CleanupFoldersTest, ATemporaryFolderWithoutTheSignOfOneIsNeverUsed) {
  TestTrash trash;
  FixtureDrive drive;
  const std::wstring profile = KnownFolder(FOLDERID_Profile);
  const std::wstring roaming = KnownFolder(FOLDERID_RoamingAppData);
  const std::wstring public_folder = KnownFolder(FOLDERID_Public);
  ASSERT_FALSE(profile.empty());
  ASSERT_FALSE(roaming.empty());
  ASSERT_FALSE(public_folder.empty());
  const std::wstring users = profile.substr(0, profile.find_last_of(L'\\'));
  const std::wstring other_user = users + L"\\" + test_support::UniqueName(L"other", L"user");
  const ScopedFolderTree other_profile(other_user);
  const std::wstring one_drive = profile + L"\\" + test_support::UniqueName(L"OneDrive", L"d");
  const ScopedFolderTree one_drive_tree(one_drive);
  const std::wstring in_trash = trash.FilesFolder() + L"\\" + test_support::UniqueName(L"recycled", L"d") + L"\\Temp";
  const ScopedFolderTree trash_tree(in_trash.substr(0, in_trash.size() - 5));
  struct TempCase {
    std::wstring tmp;     // What TMP is set to.
    std::wstring folder;  // Where the canary lies: the folder TMP leads to.
  };
  const std::vector<TempCase> cases = {
      {roaming, roaming},
      {one_drive, one_drive},
      {public_folder, public_folder},
      {public_folder + L"\\Temp", public_folder + L"\\Temp"},
      {other_user, other_user},
      {other_user + L"\\AppData\\Local\\Temp", other_user + L"\\AppData\\Local\\Temp"},
      {drive.PathOf(L"Documents"), drive.PathOf(L"Documents")},
      {drive.PathOf(L"$Recycle.Bin\\S-1-5-21-1000"), drive.PathOf(L"$Recycle.Bin\\S-1-5-21-1000")},
      {drive.PathOf(L"$Recycle.Bin\\Temp"), drive.PathOf(L"$Recycle.Bin\\Temp")},
      {in_trash, in_trash},
      {trash.FilesFolder(), trash.FilesFolder()},
      // Resolved against the current folder, which in the host is the program's own.
      {L"data", drive.PathOf(L"Current\\data")},
      {L"Temp", drive.PathOf(L"Current\\Temp")},
  };
  for (const TempCase& test_case : cases) {
    CreateFolderChain(test_case.folder);
  }
  const ScopedCurrentFolder current(drive.PathOf(L"Current"));
  for (const TempCase& test_case : cases) {
    SCOPED_TRACE(WideToUtf8(test_case.tmp));
    const SystemCanary canary(test_case.folder, SystemCanary::Kind::kFile);
    const ScopedEnvironmentVariable tmp_variable(L"TMP", test_case.tmp);
    EXPECT_EQ(ResolveCleanupFolders("").user_temp, L"");
    const auto records = std::get<EncodableList>(ValueOf(ScanCleanableCategoriesOperation("")));
    EXPECT_EQ(ScanTotals(records, "user_temp").items, 0);
    const auto reply = std::get<EncodableMap>(ValueOf(PerformCleanupOperation({"user_temp"}, "")));
    EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 0);
    EXPECT_TRUE(canary.Intact());
  }
}

// The signs a temporary folder can carry: the user's own Temp in the local application data or
// the profile, a per-session folder inside it, and a folder named so on a data drive.
TEST(CleanupFoldersTest, AFolderWithTheSignOfATemporaryFolderIsUsed) {
  FixtureDrive drive;
  const std::wstring local = KnownFolder(FOLDERID_LocalAppData);
  const std::wstring profile = KnownFolder(FOLDERID_Profile);
  ASSERT_FALSE(local.empty());
  ASSERT_FALSE(profile.empty());
  for (const std::wstring& folder : {local + L"\\Temp\\2", profile + L"\\Temp", drive.PathOf(L"Tmp"),
                                     drive.PathOf(L"Work\\temp\\build")}) {
    SCOPED_TRACE(WideToUtf8(folder));
    CreateFolderChain(folder);
    const ScopedEnvironmentVariable tmp_variable(L"TMP", folder);
    EXPECT_EQ(ResolveCleanupFolders("").user_temp, folder);
  }
}

// A letter that shows a folder of the user's documents (as a lent letter or subst gives one) is
// no drive to clean: its "Temp", its ".tmp" and ".chk" files and its "found.000" are the user's
// documents, and neither the scan nor the clean-up touches them.
TEST(CleanupFoldersTest, DriveRowsOfALetterShowingTheDocumentsTouchNothing) {
  const std::wstring documents = KnownFolder(FOLDERID_Documents);
  ASSERT_FALSE(documents.empty());
  const std::wstring documents_unix = test_support::PrefixDriveCUnixFolder() + [&] {
    std::wstring below = documents.substr(2);
    std::replace(below.begin(), below.end(), L'\\', L'/');
    return below;
  }();
  const std::wstring stem = test_support::UniqueName(L"budget", L"");
  const std::wstring temp_folder = documents + L"\\Temp";
  const std::wstring found_folder = documents + L"\\found.000";
  const bool had_temp = Exists(temp_folder);
  const bool had_found = Exists(found_folder);
  CreateFolderChain(temp_folder);
  CreateFolderChain(found_folder);
  const SystemCanary in_temp(temp_folder, SystemCanary::Kind::kFolderWithFile);
  const SystemCanary in_found(found_folder, SystemCanary::Kind::kFile);
  const std::vector<std::wstring> root_files = {documents + L"\\" + stem + L"tmp.tmp",
                                                documents + L"\\" + stem + L"chk.CHK"};
  for (const std::wstring& file : root_files) {
    const FileHandle created(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(created.IsValid()) << WideToUtf8(file);
  }
  const DriveLetterMapping letter(documents_unix);
  const std::string argument(1, static_cast<char>(letter.Letter()));

  const auto records = std::get<EncodableList>(ValueOf(ScanCleanableCategoriesOperation(argument)));
  EXPECT_EQ(ScanTotals(records, "drive_temp").items, 0);
  EXPECT_EQ(ScanTotals(records, "chkdsk_fragments").items, 0);
  const auto reply =
      std::get<EncodableMap>(ValueOf(PerformCleanupOperation({"drive_temp", "chkdsk_fragments"}, argument)));
  EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 0);

  EXPECT_TRUE(in_temp.Intact());
  EXPECT_TRUE(in_found.Intact());
  for (const std::wstring& file : root_files) {
    EXPECT_TRUE(Exists(file)) << WideToUtf8(file);
    DeleteFileW(file.c_str());
  }
  if (!had_temp) RemoveDirectoryW(temp_folder.c_str());
  if (!had_found) RemoveDirectoryW(found_folder.c_str());
}

// Wine lists a Unix link to a file as a plain file. One inside a temporary folder is another name
// for a file elsewhere: neither counted nor deleted, and neither is what it points to.
TEST(CategoryLinkTest, AFileLinkInsideACategoryLeavesItsTargetAlone) {
  FixtureDrive drive;
  const CleanupFolders folders = FixtureFolders(drive, false);
  const SystemCanary system_file(L"C:\\windows\\system32", SystemCanary::Kind::kFile);
  AddTreeFile(drive, L"Documents\\thesis.docx", 1000);
  AddTreeFile(drive, L"Temp\\junk.tmp", 10);
  AddTreeFolder(drive, L"Temp\\sub");
  drive.AddUnixSymlink(L"Temp\\thesis-link.docx", L"Documents\\thesis.docx");
  drive.AddUnixSymlinkTo(L"Temp\\sub\\system-link.dll", system_file.UnixPath());
  // A link at the root, named like the root's temporary files, to a file beside it that is not
  // one: the folder is the same, the file is not the one listed.
  AddTreeFile(drive, L"keep.dat", 30);
  drive.AddUnixSymlink(L"sibling-link.tmp", L"keep.dat");
  const Totals scanned = ScanTotals(ScanCleanableCategories(folders), "drive_temp");
  EXPECT_EQ(scanned.bytes, 10);
  EXPECT_EQ(scanned.items, 1);
  const EncodableMap reply = PerformCleanup({"drive_temp"}, folders);
  EXPECT_EQ(IntegerField(reply, "bytesCleaned"), 10);
  EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 1);
  EXPECT_TRUE(Exists(drive.PathOf(L"Documents\\thesis.docx")));
  EXPECT_TRUE(system_file.Intact());
  EXPECT_TRUE(Exists(drive.PathOf(L"Temp\\thesis-link.docx")));
  EXPECT_TRUE(Exists(drive.PathOf(L"keep.dat")));
  EXPECT_TRUE(Exists(drive.PathOf(L"sibling-link.tmp")));
  EXPECT_FALSE(Exists(drive.PathOf(L"Temp\\junk.tmp")));
}

// A Linux process swaps a folder for a link to the user's documents while the walk holds it: the
// Windows sharing rules do not stop it, and under Wine every open through the held folder now
// reaches the documents. Nothing behind the link is counted or deleted.
TEST(CategoryLinkTest, AFolderSwappedByALinuxProcessWhileHeldLeadsNowhere) {
  enum class Action { kMeasure, kClean };
  for (const wchar_t* swapped : {L"Temp\\cache", L"Temp"}) {
    for (const Action action : {Action::kMeasure, Action::kClean}) {
      SCOPED_TRACE(WideToUtf8(swapped) + (action == Action::kMeasure ? " measured" : " cleaned"));
      FixtureDrive drive;
      const CleanupFolders folders = FixtureFolders(drive, false);
      AddTreeFile(drive, L"Documents\\thesis.docx", 1000);
      AddTreeFile(drive, L"Documents\\notes\\n.txt", 100);
      // Same names as the category's own entries, so an open that goes through the folder's name
      // finds something behind the link.
      AddTreeFile(drive, L"Documents\\c.bin", 500);
      AddTreeFile(drive, L"Documents\\cache\\c.bin", 500);
      AddTreeFile(drive, L"Temp\\cache\\c.bin", 10);
      bool swap_done = false;
      const WalkHook hook = [&](WalkMoment moment, const std::wstring& folder) {
        if (moment != WalkMoment::kFolderHeld || folder != drive.PathOf(swapped) || swap_done) {
          return;
        }
        swap_done = true;
        test_support::StartUnixProgram(L"/bin/sh", {L"-c", L"mv \"$0\" \"$1\" && ln -s \"$2\" \"$0\"",
                                                    drive.UnixPathOf(swapped), drive.UnixPathOf(L"Moved"),
                                                    drive.UnixPathOf(L"Documents")});
        const std::wstring link = drive.PathOf(swapped);
        ASSERT_TRUE(test_support::PollUntil([&] {
          const DWORD attributes = GetFileAttributesW(link.c_str());
          return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        }));
      };
      if (action == Action::kMeasure) {
        const Totals totals = ScanTotals(ScanCleanableCategories(folders, hook), "drive_temp");
        EXPECT_EQ(totals.items, 0);
      } else {
        const EncodableMap reply = PerformCleanup({"drive_temp"}, folders, hook);
        EXPECT_EQ(IntegerField(reply, "itemsDeleted"), 0);
      }
      EXPECT_TRUE(swap_done);
      EXPECT_TRUE(Exists(drive.PathOf(L"Documents\\thesis.docx")));
      EXPECT_TRUE(Exists(drive.PathOf(L"Documents\\notes\\n.txt")));
      EXPECT_TRUE(Exists(drive.PathOf(L"Documents\\c.bin")));
      EXPECT_TRUE(Exists(drive.PathOf(L"Documents\\cache\\c.bin")));
    }
  }
}

}  // namespace
}  // namespace pel_mora
