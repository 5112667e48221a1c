#include "plugin/drives/folder_lister_win32.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "plugin/drives/scan_records.h"
#include "plugin/find_handle.h"
#include "plugin/string_conversion.h"
#include "tests/support/fixture_drive.h"

namespace pel_mora {
namespace {

using test_support::FixtureDrive;

// One item as a line of text, so two listings compare as lists of lines.
std::string Describe(const FolderItem& item) {
  const char* kinds[] = {"file", "folder", "link"};
  return std::string(kinds[static_cast<int>(item.kind)]) + " " + item.name_utf8 + " [" + WideToUtf8(item.name) +
         "] ." + item.extension + " " + std::to_string(item.size_bytes) + " " + std::to_string(item.modified_time);
}

std::vector<std::string> ListedItems(const std::wstring& path) {
  std::vector<std::string> lines;
  std::unique_ptr<FolderEnumeration> enumeration = ListFolder(path);
  EXPECT_NE(enumeration, nullptr) << WideToUtf8(path);
  FolderItem item;
  while (enumeration != nullptr && enumeration->Next(item)) {
    lines.push_back(Describe(item));
  }
  return lines;
}

// The same folder through FindFirstFileExW at the basic information level with the large fetch,
// the calls the scan's listing replaces, described by the same rules.
std::vector<std::string> FoundItems(const std::wstring& path) {
  std::vector<std::string> lines;
  WIN32_FIND_DATAW found;
  const std::wstring pattern = path.back() == L'\\' ? path + L'*' : path + L"\\*";
  const FindHandle listing(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                            nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!listing.IsValid()) {
    return lines;
  }
  do {
    if (IsDotOrDotDot(found.cFileName)) {
      continue;
    }
    FolderItem item;
    const std::wstring name = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      item.kind = FolderItemKind::kLink;
    } else {
      item.name_utf8 = WideToUtf8(name);
      item.modified_time = LastWriteUnixSeconds(found);
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        item.kind = FolderItemKind::kFolder;
        item.name = name;
      } else {
        item.extension = FileExtension(name);
        item.size_bytes = FoundFileSize(found);
      }
    }
    lines.push_back(Describe(item));
  } while (FindNextFileW(listing.Get(), &found));
  return lines;
}

// Compares line by line, so a difference in a long listing shows as the one line that differs.
void ExpectSameLines(const std::vector<std::string>& listed, const std::vector<std::string>& found) {
  EXPECT_EQ(listed.size(), found.size());
  for (size_t index = 0; index < std::min(listed.size(), found.size()); ++index) {
    ASSERT_EQ(listed[index], found[index]) << "item " << index;
  }
}

TEST(FolderListerTest, ListsWhatFindFirstFileExWFindsInTheSameOrder) {
  const FixtureDrive drive;
  drive.AddFolder(L"many");
  // More items than one read of the listing's buffer holds.
  for (int index = 0; index < 1500; ++index) {
    drive.AddFile(L"many\\file with a long name number " + std::to_wstring(index) + L".Dat",
                  static_cast<uint64_t>(index) * 4099);
  }
  drive.AddFolder(L"many\\sub");
  drive.AddFile(L"many\\\u00e9t\u00e9 \U0001F600.TXT", 5'000'000'000);
  drive.AddFile(L"many\\.profile", 1);
  drive.AddUnixSymlink(L"many\\link", L"many\\sub");
  drive.AddFolder(L"empty");

  for (const wchar_t* folder : {L"many", L"empty"}) {
    SCOPED_TRACE(WideToUtf8(folder));
    ExpectSameLines(ListedItems(drive.PathOf(folder)), FoundItems(drive.PathOf(folder)));
  }
  EXPECT_EQ(FoundItems(drive.PathOf(L"many")).size(), 1504u);
  // The root: its items, without "." and "..", which a drive root does not have.
  ExpectSameLines(ListedItems(drive.Root()), FoundItems(drive.Root()));
}

TEST(FolderListerTest, EmptyRootListsAsEmptyAndAMissingFolderCannotBeListed) {
  const FixtureDrive drive;
  EXPECT_EQ(ListedItems(drive.Root()), std::vector<std::string>());
  EXPECT_EQ(ListFolder(drive.PathOf(L"not there")), nullptr);
  drive.AddFile(L"plain.txt", 3);
  EXPECT_EQ(ListFolder(drive.PathOf(L"plain.txt")), nullptr);
}

}  // namespace
}  // namespace pel_mora
