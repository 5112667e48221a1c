#include "plugin/cleanup/content_folder_rules.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace pel_mora {
namespace {

// A small file system of named folders, each with a made-up identity, in which chains are built
// from paths such as "C:\Users\me\AppData\Local\Temp": the rules see only identities and names.
class Folders {
 public:
  // The chain of `path`, folder first, root last; every folder on the way gets an identity the
  // first time it is named.
  NamedIdentityChain Chain(const std::wstring& path) {
    std::vector<std::wstring> prefixes;
    std::vector<std::wstring> names;
    size_t start = 0;
    std::wstring prefix;
    while (start <= path.size()) {
      size_t end = path.find(L'\\', start);
      if (end == std::wstring::npos) end = path.size();
      const std::wstring name = path.substr(start, end - start);
      prefix += (prefix.empty() ? L"" : L"\\") + name;
      prefixes.push_back(prefix);
      // The root ("C:") has no name of its own in a final path.
      names.push_back(prefixes.size() == 1 ? L"" : name);
      start = end + 1;
    }
    NamedIdentityChain chain;
    for (size_t index = prefixes.size(); index-- > 0;) {
      chain.identities.push_back(Identity(prefixes[index]));
      chain.names.push_back(names[index]);
    }
    return chain;
  }

  FileIdentity Identity(const std::wstring& path) {
    const auto [found, inserted] = ids_.try_emplace(path, FileIdentity{1, 0, ids_.size() + 1});
    return found->second;
  }

 private:
  std::map<std::wstring, FileIdentity> ids_;
};

// The places of a Windows machine whose user "me" keeps TEMP in the usual folder.
CleanupPlaces PlacesOf(Folders& folders) {
  CleanupPlaces places;
  places.local_app_data = folders.Identity(L"C:\\Users\\me\\AppData\\Local");
  places.profile = folders.Identity(L"C:\\Users\\me");
  places.windows_directory = folders.Identity(L"C:\\Windows");
  places.user_profiles = folders.Identity(L"C:\\Users");
  for (const wchar_t* kept :
       {L"C:\\Windows", L"C:\\Program Files", L"C:\\ProgramData", L"C:\\Users", L"C:\\Users\\Public", L"C:\\Users\\me",
        L"C:\\Users\\me\\AppData\\Local", L"C:\\Users\\me\\AppData\\Roaming", L"C:\\Users\\me\\Documents",
        L"C:\\Users\\me\\OneDrive", L"D:\\Documents"}) {
    places.protected_folders.push_back(folders.Chain(kept).identities);
  }
  places.recycle_bins.push_back(folders.Identity(L"Z:\\home\\me\\.local\\share\\Trash"));
  places.drive_root_is_volume_root = true;
  return places;
}

struct SignCase {
  const wchar_t* folder;
  bool has_sign;
};

void PrintTo(const SignCase& sign_case, std::ostream* stream) {
  for (const wchar_t* unit = sign_case.folder; *unit != L'\0'; ++unit) {
    *stream << static_cast<char>(*unit < 128 ? *unit : '?');
  }
}

class TemporaryFolderSignTest : public ::testing::TestWithParam<SignCase> {};

TEST_P(TemporaryFolderSignTest, OnlyATemporaryFolderOfTheUserOrOutsideEveryProfileQualifies) {
  Folders folders;
  const CleanupPlaces places = PlacesOf(folders);
  const NamedIdentityChain folder = folders.Chain(GetParam().folder);
  EXPECT_EQ(HasTemporaryFolderSign(folder, places), GetParam().has_sign);
  EXPECT_EQ(MayWalkContentFolder(FolderBase::kUserTemp, Recursion::kRecursive, folder, places), GetParam().has_sign);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, TemporaryFolderSignTest,
    ::testing::Values(
        // The homes of a temporary folder, per-session folders inside them, either spelling.
        SignCase{L"C:\\Users\\me\\AppData\\Local\\Temp", true}, SignCase{L"C:\\Users\\me\\AppData\\Local\\Temp\\2", true},
        SignCase{L"C:\\Users\\me\\AppData\\Local\\tmp", true}, SignCase{L"C:\\Users\\me\\Temp", true},
        SignCase{L"C:\\Windows\\TEMP", true}, SignCase{L"D:\\Temp", true}, SignCase{L"D:\\Work\\tmp\\build", true},
        // Folders of the user's data, whatever they are called.
        SignCase{L"C:\\Users\\me\\AppData\\Roaming", false}, SignCase{L"C:\\Users\\me\\AppData\\Local", false},
        SignCase{L"C:\\Users\\me\\OneDrive", false}, SignCase{L"C:\\Users\\me", false},
        SignCase{L"C:\\Users\\Public", false}, SignCase{L"D:\\Documents", false}, SignCase{L"D:\\Photos", false},
        // Named so, but inside a profile or a protected folder.
        SignCase{L"C:\\Users\\Public\\Temp", false}, SignCase{L"C:\\Users\\other\\AppData\\Local\\Temp", false},
        SignCase{L"C:\\Users\\other\\Temp", false}, SignCase{L"C:\\Users\\me\\Documents\\Temp", false},
        SignCase{L"C:\\Users\\me\\AppData\\Roaming\\Temp", false}, SignCase{L"D:\\Documents\\Temp", false},
        SignCase{L"C:\\Program Files\\Temp", false}, SignCase{L"C:\\Windows\\System32\\Temp", false},
        // Recycle Bins, by name and by identity, and a volume's root.
        SignCase{L"D:\\$Recycle.Bin\\Temp", false}, SignCase{L"D:\\Temp\\$RECYCLE.BIN", false},
        SignCase{L"E:\\RECYCLER\\tmp", false}, SignCase{L"Z:\\home\\me\\.local\\share\\Trash\\files\\Temp", false},
        SignCase{L"D:", false},
        // Names that only resemble one.
        SignCase{L"D:\\Temporary", false}, SignCase{L"D:\\Temp2", false}, SignCase{L"D:\\tmpfiles", false}));

TEST(TemporaryFolderSignTest, AChainWithoutAPlaceOrWithMismatchedNamesHasNoSign) {
  Folders folders;
  CleanupPlaces places = PlacesOf(folders);
  NamedIdentityChain folder = folders.Chain(L"C:\\Users\\me\\AppData\\Local\\Temp");
  folder.names.pop_back();
  EXPECT_FALSE(HasTemporaryFolderSign(folder, places));
  // Without the folder of profiles known, a folder named Temp inside someone's profile has no
  // sign through being outside it; the own-profile homes still do.
  places.user_profiles.reset();
  places.protected_folders.clear();
  EXPECT_TRUE(HasTemporaryFolderSign(folders.Chain(L"C:\\Users\\me\\Temp"), places));
  EXPECT_FALSE(HasTemporaryFolderSign(NamedIdentityChain{}, places));
}

struct ContentCase {
  FolderBase base;
  Recursion recursion;
  const wchar_t* folder;
  bool volume_root;
  bool allowed;
};

class ContentFolderTest : public ::testing::TestWithParam<ContentCase> {};

TEST_P(ContentFolderTest, IsWalkedOnlyWhereItsBaseGivesASign) {
  Folders folders;
  CleanupPlaces places = PlacesOf(folders);
  places.drive_root_is_volume_root = GetParam().volume_root;
  EXPECT_EQ(MayWalkContentFolder(GetParam().base, GetParam().recursion, folders.Chain(GetParam().folder), places),
            GetParam().allowed);
}

constexpr Recursion R = Recursion::kRecursive;
constexpr Recursion N = Recursion::kThisFolderOnly;

INSTANTIATE_TEST_SUITE_P(
    Folders, ContentFolderTest,
    ::testing::Values(
        // A drive's own folders on a volume's root.
        ContentCase{FolderBase::kDriveRoot, N, L"E:", true, true},
        ContentCase{FolderBase::kDriveRoot, R, L"E:\\Temp", true, true},
        ContentCase{FolderBase::kDriveRoot, R, L"E:\\found.000", true, true},
        // The same letter when it only shows a folder (subst, a letter lent to a folder).
        ContentCase{FolderBase::kDriveRoot, N, L"E:", false, false},
        ContentCase{FolderBase::kDriveRoot, R, L"E:\\Temp", false, false},
        // A letter that shows the user's documents: its "root" and folders lie in them.
        ContentCase{FolderBase::kDriveRoot, N, L"C:\\Users\\me\\Documents", true, false},
        ContentCase{FolderBase::kDriveRoot, R, L"C:\\Users\\me\\Documents\\Temp", true, false},
        ContentCase{FolderBase::kDriveRoot, R, L"C:\\Users\\me\\Documents\\found.000", true, false},
        ContentCase{FolderBase::kDriveRoot, N, L"D:\\Documents", true, false},
        // The system drive's root holds protected folders; only its own files are touched.
        ContentCase{FolderBase::kDriveRoot, N, L"C:", true, true},
        ContentCase{FolderBase::kDriveRoot, R, L"C:", true, false},
        ContentCase{FolderBase::kDriveRoot, R, L"E:\\$Recycle.Bin", true, false},
        // Caches must lie inside the local application data, the update cache inside Windows.
        ContentCase{FolderBase::kLocalAppData, R, L"C:\\Users\\me\\AppData\\Local\\CrashDumps", true, true},
        ContentCase{FolderBase::kLocalAppData, R, L"C:\\Users\\me\\Documents\\CrashDumps", true, false},
        ContentCase{FolderBase::kLocalAppData, R, L"C:\\Users\\me\\AppData\\Local", true, false},
        ContentCase{FolderBase::kWindowsDirectory, R, L"C:\\Windows\\SoftwareDistribution\\Download", true, true},
        ContentCase{FolderBase::kWindowsDirectory, R, L"D:\\SoftwareDistribution\\Download", true, false},
        ContentCase{FolderBase::kWindowsTemp, R, L"C:\\Windows\\Temp", true, true},
        ContentCase{FolderBase::kWindowsTemp, R, L"C:\\Windows", true, false}));

}  // namespace
}  // namespace pel_mora
