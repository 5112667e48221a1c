#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "plugin/cleanup/path_recycling.h"
#include "plugin/file_handle.h"
#include "plugin/operations.h"
#include "plugin/string_conversion.h"
#include "plugin/cleanup/known_folders_win32.h"
#include "tests/plugin/cleanup/system_canary.h"
#include "tests/plugin/cleanup/trash_fixture.h"
#include "tests/support/fixture_drive.h"
#include "tests/support/scoped_process_state.h"

namespace pel_mora {
namespace {

using test_support::DriveLetterMapping;
using test_support::ScopedCurrentFolder;
using test_support::FixtureDrive;
using test_support::SystemCanary;
using test_support::PathExists;
using test_support::TestTrash;
using test_support::UniqueName;

void ExpectTally(const RecycleTally& tally, uint64_t success, uint64_t failed, uint64_t freed) {
  EXPECT_EQ(tally.success_count, success);
  EXPECT_EQ(tally.failed_count, failed);
  EXPECT_EQ(tally.freed_bytes, freed);
}

std::string Utf8(const std::wstring& text) { return WideToUtf8(text); }

// A fixture drive that stands in for the drive holding Windows, with a file in its System32, a
// file in its "System Volume Information" and two ordinary files.
class RecyclingTest : public ::testing::Test {
 protected:
  RecyclingTest()
      : first_(UniqueName(L"first", L"txt")),
        second_(UniqueName(L"second", L"txt")),
        system_file_(L"Windows\\System32\\" + UniqueName(L"kernel", L"dll")) {
    drive_.AddFolder(L"Keep");
    drive_.AddFile(L"Keep\\" + first_, 1000);
    drive_.AddFile(L"Keep\\" + second_, 234);
    drive_.AddFolder(L"Windows");
    drive_.AddFolder(L"Windows\\System32");
    drive_.AddFile(system_file_, 50);
    drive_.AddFolder(L"System Volume Information");
    drive_.AddFile(L"System Volume Information\\index.dat", 70);
  }

  wchar_t WindowsDrive() const { return drive_.Letter(); }
  std::wstring First() const { return drive_.PathOf(L"Keep\\" + first_); }
  std::wstring Second() const { return drive_.PathOf(L"Keep\\" + second_); }
  std::wstring SystemFile() const { return drive_.PathOf(system_file_); }

  void ExpectFixtureUntouched() const {
    EXPECT_TRUE(PathExists(First()));
    EXPECT_TRUE(PathExists(Second()));
    EXPECT_TRUE(PathExists(SystemFile()));
    EXPECT_TRUE(PathExists(drive_.PathOf(L"System Volume Information\\index.dat")));
  }

  TestTrash trash_;
  FixtureDrive drive_;
  std::wstring first_;
  std::wstring second_;
  std::wstring system_file_;
};

TEST_F(RecyclingTest, RecyclesEachPathOnItsOwnAndCountsThem) {
  const RecycleTally tally =
      RecyclePaths({Utf8(First()), Utf8(SystemFile()), Utf8(Second())}, WindowsDrive());

  ExpectTally(tally, 2, 1, 1234);
  EXPECT_FALSE(PathExists(First()));
  EXPECT_FALSE(PathExists(Second()));
  EXPECT_TRUE(trash_.Holds(first_));
  EXPECT_TRUE(trash_.Holds(second_));
  EXPECT_TRUE(PathExists(SystemFile()));
}

TEST_F(RecyclingTest, EmptyMissingAndEmptyListsCountWithoutTouchingAnything) {
  ExpectTally(RecyclePaths({}, WindowsDrive()), 0, 0, 0);
  ExpectTally(RecyclePaths({"", Utf8(drive_.PathOf(L"Keep\\missing.txt"))}, WindowsDrive()), 0, 2, 0);
  // Not UTF-8: the conversion gives an empty path.
  ExpectTally(RecyclePaths({"\xC3"}, WindowsDrive()), 0, 1, 0);
  ExpectFixtureUntouched();
}

TEST_F(RecyclingTest, AFolderFreesOnlyTheSizeOfItsOwnEntry) {
  const std::wstring folder_name = UniqueName(L"folder", L"d");
  drive_.AddFolder(folder_name);
  drive_.AddFile(folder_name + L"\\content.bin", 5000);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(drive_.PathOf(folder_name).c_str(), GetFileExInfoStandard, &data));
  const uint64_t entry_size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  ASSERT_NE(entry_size, 5000u);

  ExpectTally(RecyclePaths({Utf8(drive_.PathOf(folder_name))}, WindowsDrive()), 1, 0, entry_size);
  EXPECT_FALSE(PathExists(drive_.PathOf(folder_name)));
  EXPECT_TRUE(PathExists(trash_.FilesFolder() + L'\\' + folder_name + L"\\content.bin"));
}

TEST_F(RecyclingTest, SystemLocationsOfAnotherDriveAreOrdinaryFoldersWhenWindowsIsOnC) {
  ExpectTally(RecyclePaths({Utf8(SystemFile())}, L'C'), 1, 0, 50);
  EXPECT_FALSE(PathExists(SystemFile()));
}

TEST_F(RecyclingTest, AFileHeldWithoutDeleteSharingStaysAndCountsAsFailed) {
  FileHandle held(CreateFileW(First().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.IsValid());
  ExpectTally(RecyclePaths({Utf8(First()), Utf8(Second())}, WindowsDrive()), 1, 1, 234);
  EXPECT_TRUE(PathExists(First()));
}

TEST_F(RecyclingTest, AShortNameIsJudgedByItsLongName) {
  const std::wstring long_path = drive_.PathOf(L"System Volume Information\\index.dat");
  wchar_t short_path[MAX_PATH] = {};
  ASSERT_NE(GetShortPathNameW(long_path.c_str(), short_path, MAX_PATH), 0u);
  ASSERT_EQ(std::wstring(short_path).find(L"System Volume"), std::wstring::npos)
      << "no short name to test with: " << Utf8(short_path);

  ExpectTally(RecyclePaths({Utf8(short_path)}, WindowsDrive()), 0, 1, 0);
  ExpectFixtureUntouched();
}

// A request as a template: "{R}" stands for the fixture's root ("T:\"), "{L}" for its letter,
// "{F}" and "{S}" for the names of the two ordinary files, "{K}" for the System32 file's name.
struct RequestCase {
  const wchar_t* name;
  std::wstring request;
};

void PrintTo(const RequestCase& request_case, std::ostream* stream) {
  *stream << WideToUtf8(request_case.name);
}

std::wstring Expand(std::wstring text, const std::vector<std::pair<std::wstring, std::wstring>>& replacements) {
  for (const auto& [placeholder, value] : replacements) {
    for (size_t at = text.find(placeholder); at != std::wstring::npos; at = text.find(placeholder, at + value.size())) {
      text.replace(at, placeholder.size(), value);
    }
  }
  return text;
}

class RefusedRequestTest : public RecyclingTest, public ::testing::WithParamInterface<RequestCase> {
 protected:
  std::string Request() const {
    const std::wstring kernel = system_file_.substr(system_file_.find_last_of(L'\\') + 1);
    return Utf8(Expand(GetParam().request, {{L"{R}", drive_.Root()},
                                            {L"{L}", std::wstring(1, drive_.Letter())},
                                            {L"{F}", first_},
                                            {L"{S}", second_},
                                            {L"{K}", kernel}}));
  }
};

TEST_P(RefusedRequestTest, CountsAFailureAndTouchesNothing) {
  const size_t entries_before = trash_.EntryCount();
  ExpectTally(RecyclePaths({Request()}, WindowsDrive()), 0, 1, 0);
  ExpectFixtureUntouched();
  EXPECT_EQ(trash_.EntryCount(), entries_before);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RefusedRequestTest,
    ::testing::Values(
        RequestCase{L"Plain", L"{R}Windows\\System32\\{K}"},
        RequestCase{L"LowerCaseForwardSlashes", L"{L}:/windows/system32/{K}"},
        RequestCase{L"TheFolderItself", L"{R}Windows\\System32"},
        RequestCase{L"DotDotBackIntoSystem32", L"{R}Windows\\..\\Windows\\System32\\{K}"},
        RequestCase{L"DotDotFromAnOrdinaryFolder", L"{R}Keep\\..\\Windows\\System32"},
        RequestCase{L"SingleDot", L"{R}Windows\\System32\\.\\{K}"},
        RequestCase{L"TrailingDot", L"{R}Windows\\System32\\{K}."},
        RequestCase{L"TrailingSpaces", L"{R}Windows\\System32  \\{K}"},
        RequestCase{L"ExtendedLength", L"\\\\?\\{R}Windows\\System32\\{K}"},
        RequestCase{L"DeviceFormWithDotDot", L"\\\\.\\{R}Windows\\..\\Windows\\System32\\{K}"},
        RequestCase{L"DeviceFormWithForwardSlashes", L"//?/{L}:/windows/system32/{K}"},
        RequestCase{L"Root", L"{R}"},
        RequestCase{L"RootThroughDotDot", L"{R}Keep\\.."},
        RequestCase{L"BareDrive", L"{L}:"},
        RequestCase{L"DriveRelativeDot", L"{L}:."},
        RequestCase{L"DriveRelativeDotDot", L"{L}:Keep\\.."},
        RequestCase{L"ExtendedLengthRoot", L"\\\\?\\{R}"},
        RequestCase{L"Wildcard", L"{R}Keep\\*"},
        RequestCase{L"SingleCharacterWildcard", L"{R}Keep\\{F}?"},
        RequestCase{L"DosWildcard", L"{R}Keep\\<"},
        RequestCase{L"WildcardIntoSystem32", L"{R}Windows\\Sys*"},
        RequestCase{L"TwoNamesInOne", L"{R}Keep\\{F}" + std::wstring(1, L'\0') + L"{R}Keep\\{S}"},
        RequestCase{L"Stream", L"{R}Keep\\{F}:stream"},
        RequestCase{L"FolderStream", L"{R}Windows::$INDEX_ALLOCATION\\System32\\{K}"},
        // Under "\\?\" the trailing dot is part of the name: the file asked for does not exist,
        // and the shell must not be handed the existing file without the dot instead.
        RequestCase{L"ExtendedLengthNameWithTrailingDot", L"\\\\?\\{R}Keep\\{F}."},
        // The name asked for ends in a dot: the path parser would hand the shell {F} instead.
        RequestCase{L"NameWithTrailingDot", L"{R}Keep\\{F}."},
        RequestCase{L"FolderNameWithTrailingSpace", L"{R}Keep \\{F}"},
        RequestCase{L"ExtendedLengthDotDot", L"\\\\?\\{R}Keep\\..\\Keep\\{F}"},
        RequestCase{L"Missing", L"{R}Keep\\missing.txt"}),
    [](const ::testing::TestParamInfo<RequestCase>& info) { return WideToUtf8(info.param.name); });

class CanonicalRequestTest : public RefusedRequestTest {};

TEST_P(CanonicalRequestTest, RecyclesTheFileTheRequestNames) {
  ExpectTally(RecyclePaths({Request()}, WindowsDrive()), 1, 0, 1000);
  EXPECT_FALSE(PathExists(First()));
  EXPECT_TRUE(trash_.Holds(first_));
  EXPECT_TRUE(PathExists(Second()));
  EXPECT_TRUE(PathExists(SystemFile()));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, CanonicalRequestTest,
    ::testing::Values(RequestCase{L"Plain", L"{R}Keep\\{F}"},
                      RequestCase{L"DotDot", L"{R}Windows\\..\\Keep\\{F}"},
                      RequestCase{L"ExtendedLength", L"\\\\?\\{R}Keep\\{F}"},
                      RequestCase{L"DeviceForm", L"\\\\.\\{R}Keep\\.\\{F}"},
                      RequestCase{L"DoubledAndForwardSlashes", L"{L}://Keep//{F}"}),
    [](const ::testing::TestParamInfo<RequestCase>& info) { return WideToUtf8(info.param.name); });

TEST(RecyclePathsOperationTest, RepliesTheThreeCountersAs64BitIntegers) {
  TestTrash trash;
  FixtureDrive drive;
  const std::wstring name = UniqueName(L"report", L"txt");
  drive.AddFile(name, 4321);

  const WorkerReply reply = RecyclePathsOperation({Utf8(drive.PathOf(name)), Utf8(drive.Root())});

  const auto* value = std::get_if<flutter::EncodableValue>(&reply);
  ASSERT_NE(value, nullptr);
  const auto* map = std::get_if<flutter::EncodableMap>(value);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(*map, (flutter::EncodableMap{
                      {flutter::EncodableValue("successCount"), flutter::EncodableValue(int64_t{1})},
                      {flutter::EncodableValue("failedCount"), flutter::EncodableValue(int64_t{1})},
                      {flutter::EncodableValue("freedBytes"), flutter::EncodableValue(int64_t{4321})},
                  }));
  EXPECT_TRUE(trash.Holds(name));
}

TEST(WindowsDriveLetterTest, NamesTheDriveOfTheWindowsDirectory) {
  wchar_t directory[MAX_PATH + 1] = {};
  ASSERT_GT(GetWindowsDirectoryW(directory, MAX_PATH + 1), 2u);
  EXPECT_EQ(WindowsDriveLetter(), static_cast<wchar_t>(std::towupper(directory[0])));
}

// Other names for System32 and what lies in it: a second drive letter for the prefix's drive C,
// a link in the middle of a path, and links to a folder and to a file below System32. Each is
// refused, and the canaries stay where they are, links included.
TEST(RecyclingByIdentityTest, OtherNamesForSystemLocationsAreRefused) {
  TestTrash trash;
  FixtureDrive drive;
  const DriveLetterMapping& second_c = test_support::LastingDriveLetterMapping(test_support::PrefixDriveCUnixFolder());
  const SystemCanary file(L"C:\\windows\\system32", SystemCanary::Kind::kFile);
  const SystemCanary folder(L"C:\\windows\\system32", SystemCanary::Kind::kFolderWithFile);
  drive.AddFolder(L"Users");
  drive.AddFolder(L"Users\\user");
  drive.AddFolder(L"Users\\user\\Documents");
  drive.AddFolder(L"Desktop");
  drive.AddUnixSymlinkTo(L"Users\\user\\Documents\\link-to-system32",
                         test_support::PrefixDriveCUnixFolder() + L"/windows/system32");
  drive.AddUnixSymlinkTo(L"Desktop\\s32link", folder.UnixPath());
  drive.AddUnixSymlinkTo(L"Desktop\\filelink.dll", file.UnixPath());
  const std::wstring through_link = drive.PathOf(L"Users\\user\\Documents\\link-to-system32\\");
  const std::vector<std::wstring> requests = {
      second_c.Root() + L"windows\\system32\\" + file.Name(),
      second_c.Root() + L"WINDOWS\\System32\\" + folder.Name(),
      through_link + file.Name(),
      through_link + folder.Name(),
      drive.PathOf(L"Desktop\\s32link"),
      drive.PathOf(L"Desktop\\filelink.dll"),
  };
  const size_t entries_before = trash.EntryCount();
  for (const std::wstring& request : requests) {
    SCOPED_TRACE(Utf8(request));
    ExpectTally(RecyclePaths({Utf8(request)}, WindowsDriveLetter()), 0, 1, 0);
    EXPECT_TRUE(file.Intact());
    EXPECT_TRUE(folder.Intact());
  }
  EXPECT_TRUE(PathExists(drive.PathOf(L"Desktop\\s32link")));
  EXPECT_TRUE(PathExists(drive.PathOf(L"Desktop\\filelink.dll")));
  EXPECT_EQ(trash.EntryCount(), entries_before);
}

// The folders that hold the system, and the program, program-data and profile folders
// themselves, by any name; their contents stay recyclable. Judged without recycling: were the
// guard missing, the shell would take the test prefix's Windows folder with it.
TEST(RecyclingByIdentityTest, FoldersHoldingTheSystemAndProfileFoldersThemselvesAreRefused) {
  FixtureDrive drive;
  drive.AddFile(L"ordinary.txt", 10);
  const DriveLetterMapping& second_c = test_support::LastingDriveLetterMapping(test_support::PrefixDriveCUnixFolder());
  const std::wstring profile = KnownFolder(FOLDERID_Profile);
  ASSERT_FALSE(profile.empty());
  const std::wstring profile_name = profile.substr(profile.find_last_of(L'\\') + 1);
  const SystemCanary in_program_data(L"C:\\ProgramData", SystemCanary::Kind::kFile);
  const SystemCanary in_profile(profile, SystemCanary::Kind::kFile);
  const ProtectedObjects protected_objects = ResolveProtectedObjects(WindowsDriveLetter());
  const std::vector<std::wstring> refused = {
      L"C:\\windows",         second_c.Root() + L"windows",      L"C:\\",
      second_c.Root(),         L"C:\\ProgramData",                L"C:\\Program Files",
      L"C:\\Program Files (x86)", L"C:\\users",                second_c.Root() + L"users",
      profile,                 second_c.Root() + L"users\\" + profile_name,
      drive.Root(),            test_support::WindowsPathOfUnixPath(drive.UnixFolder()),
  };
  for (const std::wstring& path : refused) {
    EXPECT_FALSE(AllowedObject(path, protected_objects).has_value()) << Utf8(path);
  }
  for (const std::wstring& path : {drive.PathOf(L"ordinary.txt"), in_program_data.Path(), in_profile.Path()}) {
    EXPECT_TRUE(AllowedObject(path, protected_objects).has_value()) << Utf8(path);
  }
}

// The Recycle Bins and what holds them: a drive's $Recycle.Bin and what is in it, and Wine's trash,
// its items and the folders above it (recycling a folder that holds the trash would delete every
// recycled item for good). Judged without recycling.
TEST(RecyclingByIdentityTest, RecycleBinsAndTheFoldersHoldingWinesTrashAreRefused) {
  TestTrash trash;
  FixtureDrive drive;
  drive.AddFolder(L"$Recycle.Bin");
  drive.AddFile(L"$Recycle.Bin\\recycled.txt", 5);
  drive.AddFile(L"ordinary.txt", 5);
  const std::wstring trash_folder = trash.FilesFolder().substr(0, trash.FilesFolder().find_last_of(L'\\'));
  const std::wstring in_trash = trash.FilesFolder() + L"\\" + UniqueName(L"in-trash", L"txt");
  {
    const FileHandle created(CreateFileW(in_trash.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(created.IsValid());
  }
  const ProtectedObjects protected_objects = ResolveProtectedObjects(WindowsDriveLetter());
  for (const std::wstring& path :
       {drive.PathOf(L"$Recycle.Bin"), drive.PathOf(L"$Recycle.Bin\\recycled.txt"), trash_folder, trash.FilesFolder(),
        in_trash, trash_folder.substr(0, trash_folder.find_last_of(L'\\'))}) {
    EXPECT_FALSE(AllowedObject(path, protected_objects).has_value()) << Utf8(path);
  }
  EXPECT_TRUE(AllowedObject(drive.PathOf(L"ordinary.txt"), protected_objects).has_value());
  DeleteFileW(in_trash.c_str());
}

// Names that end in a dot or a space exist on NTFS and in every Linux folder, beside the sibling
// the Windows path parser would shorten them to. Asking for the dotted name must never move the
// sibling: each request is refused, and both names of every pair stay where they are.
TEST(RecyclingByNameTest, ANameEndingInADotOrSpaceNeverMovesItsSibling) {
  TestTrash trash;
  FixtureDrive drive;
  const std::wstring file = UniqueName(L"keep", L"txt");
  const std::wstring folder = UniqueName(L"Album", L"d");
  drive.AddFile(file, 11);
  drive.AddFolder(folder);
  drive.AddFile(folder + L"\\photo.jpg", 12);
  // The extended-length form keeps the final dot or space as part of the name.
  const auto add_literal_file = [&](const std::wstring& name) {
    const FileHandle created(CreateFileW((L"\\\\?\\" + drive.PathOf(name)).c_str(), GENERIC_WRITE, 0, nullptr,
                                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(created.IsValid()) << "CreateFileW failed for " << Utf8(name);
  };
  add_literal_file(file + L".");
  add_literal_file(file + L" ");
  ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + drive.PathOf(folder + L".")).c_str(), nullptr));
  const std::vector<std::wstring> literal_names = {file + L".", file + L" ", folder + L"."};
  for (const std::wstring& name : literal_names) {
    ASSERT_NE(GetFileAttributesW((L"\\\\?\\" + drive.PathOf(name)).c_str()), INVALID_FILE_ATTRIBUTES)
        << "the fixture has no literal " << Utf8(name);
  }
  const size_t entries_before = trash.EntryCount();

  for (const std::wstring& name : literal_names) {
    SCOPED_TRACE(Utf8(name));
    ExpectTally(RecyclePaths({Utf8(drive.PathOf(name))}, L'C'), 0, 1, 0);
  }

  EXPECT_TRUE(PathExists(drive.PathOf(file)));
  EXPECT_TRUE(PathExists(drive.PathOf(folder + L"\\photo.jpg")));
  for (const std::wstring& name : literal_names) {
    EXPECT_NE(GetFileAttributesW((L"\\\\?\\" + drive.PathOf(name)).c_str()), INVALID_FILE_ATTRIBUTES) << Utf8(name);
  }
  EXPECT_EQ(trash.EntryCount(), entries_before);
}

// Relative and drive-relative names would be resolved against the host's current folder, which
// is the program's own (its "data" folder beside it).
TEST_F(RecyclingTest, RelativeAndDriveRelativePathsAreRefused) {
  const ScopedCurrentFolder current(drive_.PathOf(L"Keep"));
  const std::wstring letter(1, drive_.Letter());
  ExpectTally(RecyclePaths({Utf8(first_), Utf8(letter + L":" + first_), Utf8(L"\\Keep\\" + first_), "."},
                           WindowsDrive()),
              0, 4, 0);
  ExpectFixtureUntouched();
}

// A success is only counted for what left its place: a folder named with a trailing separator is
// really moved, and an administrative share that leads nowhere fails.
TEST_F(RecyclingTest, ASuccessMeansThePathLeftItsPlace) {
  const std::wstring folder_name = UniqueName(L"dirslash", L"d");
  drive_.AddFolder(folder_name);
  drive_.AddFile(folder_name + L"\\content.bin", 5);
  const RecycleTally tally = RecyclePaths({Utf8(drive_.PathOf(folder_name) + L"\\")}, WindowsDrive());
  EXPECT_EQ(tally.success_count, 1u);
  EXPECT_FALSE(PathExists(drive_.PathOf(folder_name)));
  EXPECT_TRUE(trash_.Holds(folder_name));

  const std::wstring share = L"\\\\localhost\\" + std::wstring(1, drive_.Letter()) + L"$\\Keep\\" + first_;
  ExpectTally(RecyclePaths({Utf8(share)}, WindowsDrive()), 0, 1, 0);
  ExpectFixtureUntouched();
}

// Wine shows a Unix link to a file as a plain file and opens its target even for the entry
// itself, so the shell would move the target and leave the link. A link beside its target is
// caught by its name, one to another folder by the folder; neither canary moves.
TEST(RecyclingByIdentityTest, ALinkToAnOrdinaryFileIsRefusedAndNothingMoves) {
  TestTrash trash;
  FixtureDrive drive;
  const std::wstring target = UniqueName(L"target", L"txt");
  const std::wstring elsewhere = UniqueName(L"elsewhere", L"txt");
  drive.AddFile(target, 30);
  drive.AddFolder(L"Other");
  drive.AddFile(L"Other\\" + elsewhere, 20);
  drive.AddUnixSymlink(L"beside.txt", target);
  drive.AddUnixSymlink(L"across.txt", L"Other\\" + elsewhere);
  const size_t entries_before = trash.EntryCount();

  for (const wchar_t* link : {L"beside.txt", L"across.txt"}) {
    SCOPED_TRACE(Utf8(link));
    ExpectTally(RecyclePaths({Utf8(drive.PathOf(link))}, L'C'), 0, 1, 0);
    EXPECT_TRUE(PathExists(drive.PathOf(link)));
  }
  EXPECT_TRUE(PathExists(drive.PathOf(target)));
  EXPECT_TRUE(PathExists(drive.PathOf(L"Other\\" + elsewhere)));
  EXPECT_EQ(trash.EntryCount(), entries_before);
}

// The other names of an ordinary file that lead to its own entry: a short name, a second drive
// letter, and a spelling in other case. Each is recycled.
TEST(RecyclingByIdentityTest, OtherNamesOfAnOrdinaryFileStillRecycle) {
  TestTrash trash;
  FixtureDrive drive;
  const DriveLetterMapping second_letter(drive.UnixFolder());
  const std::wstring plain = UniqueName(L"plain", L"txt");
  const std::wstring long_name = UniqueName(L"a rather long name", L"text");
  const std::wstring through_letter = UniqueName(L"letter", L"txt");
  const std::wstring in_other_case = UniqueName(L"cased", L"txt");
  for (const std::wstring& name : {plain, long_name, through_letter, in_other_case}) {
    drive.AddFile(name, 10);
  }
  wchar_t short_path[MAX_PATH] = {};
  ASSERT_NE(GetShortPathNameW(drive.PathOf(long_name).c_str(), short_path, MAX_PATH), 0u);
  ASSERT_EQ(std::wstring(short_path).find(long_name), std::wstring::npos) << "no short name: " << Utf8(short_path);
  std::wstring upper_case = in_other_case;
  for (wchar_t& character : upper_case) {
    if (character >= L'a' && character <= L'z') character = static_cast<wchar_t>(character - L'a' + L'A');
  }

  const std::vector<std::wstring> requests = {drive.PathOf(plain), short_path, second_letter.Root() + through_letter,
                                              drive.PathOf(upper_case)};
  for (const std::wstring& request : requests) {
    SCOPED_TRACE(Utf8(request));
    ExpectTally(RecyclePaths({Utf8(request)}, L'C'), 1, 0, 10);
  }
  for (const std::wstring& name : {plain, long_name, through_letter, in_other_case}) {
    EXPECT_FALSE(PathExists(drive.PathOf(name))) << Utf8(name);
    EXPECT_TRUE(trash.Holds(name)) << Utf8(name);
  }
}

// A volume without a Recycle Bin would take the shell's recycling as a permanent delete; a
// fixed drive defined the same way shows that the refusal comes from the type alone.
struct DriveTypeCase {
  const char* name;
  test_support::FixtureDriveType type;
  bool recyclable;
};

void PrintTo(const DriveTypeCase& drive_type_case, std::ostream* stream) { *stream << drive_type_case.name; }

class DriveTypeTest : public ::testing::TestWithParam<DriveTypeCase> {};

TEST_P(DriveTypeTest, OnlyAFixedDriveIsRecycledOn) {
  TestTrash trash;
  FixtureDrive drive;
  const std::wstring canary = UniqueName(L"canary", L"txt");
  drive.AddFile(canary, 40);
  drive.SetType(GetParam().type);
  const size_t entries_before = trash.EntryCount();

  const RecycleTally tally = RecyclePaths({Utf8(drive.PathOf(canary))}, L'C');

  if (GetParam().recyclable) {
    ExpectTally(tally, 1, 0, 40);
    EXPECT_TRUE(trash.Holds(canary));
  } else {
    ExpectTally(tally, 0, 1, 0);
    EXPECT_TRUE(PathExists(drive.PathOf(canary)));
    EXPECT_EQ(trash.EntryCount(), entries_before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Types, DriveTypeTest,
    ::testing::Values(DriveTypeCase{"fixed", test_support::FixtureDriveType::kFixed, true},
                      DriveTypeCase{"network", test_support::FixtureDriveType::kNetwork, false},
                      DriveTypeCase{"cd_rom", test_support::FixtureDriveType::kCdRom, false},
                      DriveTypeCase{"ram_disk", test_support::FixtureDriveType::kRamDisk, false},
                      DriveTypeCase{"removable", test_support::FixtureDriveType::kRemovable, false}),
    [](const ::testing::TestParamInfo<DriveTypeCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pel_mora
