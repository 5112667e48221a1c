#pragma once

// The one table of cleanable categories. Measuring and cleaning both read it, so what a scan
// counts is exactly what a clean-up of the same category deletes.

#include <span>
#include <string>
#include <string_view>

#include "plugin/cleanup/cleanup_places.h"

namespace pel_mora {

// The folders a scan or a clean-up works on, resolved once per request. Every path is a full
// path without a trailing separator, except driveRoot ("E:\"). An empty path means the folder
// could not be obtained (or, for the temporary folders, that it is not safe to touch).
struct CleanupFolders {
  std::wstring windows_directory;
  wchar_t system_letter = L'C';
  wchar_t drive_letter = L'C';
  bool is_system_drive = true;
  std::wstring drive_root;
  std::wstring local_app_data;
  std::wstring user_temp;
  std::wstring windows_temp;
  // What each folder is judged against when a walk has opened it.
  CleanupPlaces places;
};

enum class FolderBase { kUserTemp, kWindowsTemp, kLocalAppData, kWindowsDirectory, kDriveRoot };

enum class Recursion { kRecursive, kThisFolderOnly };

// One folder a category covers: base + literal, walked recursively or not, counting every file
// or only those whose names end with `suffix` (A to Z compared without case).
struct ContentItem {
  FolderBase base;
  std::wstring_view literal;
  Recursion recursion;
  std::wstring_view suffix;
};

// For which drive a row is listed in a scan.
enum class ListedFor { kSystemDrive, kOtherDrive };

// How a row is measured and cleaned: by walking its content items, or through the Recycle Bin.
enum class CategoryKind { kFolders, kRecycleBin };

struct CatalogueRow {
  std::string_view id;
  std::string_view name;
  std::string_view description;
  std::string_view group;
  ListedFor listed_for;
  CategoryKind kind;
  std::span<const ContentItem> content;
};

// Every row, in the order a scan lists them: the system drive's rows first, then the other
// drive's ("recycle_bin" appears once for each kind).
std::span<const CatalogueRow> CleanupCatalogue();

// The row a clean-up acts on for `id` (an exact, case-sensitive match). Only "recycle_bin"
// depends on the drive kind (its name and what it empties); every other id acts whatever the
// drive. Null for an unknown id.
const CatalogueRow* FindCleanupCategory(std::string_view id, ListedFor drive_kind);

// The folder a content item names for these folders, or an empty path when its base is empty:
// a literal such as "\CrashDumps" must never be walked on its own, where it would name a folder
// of the current drive.
std::wstring ContentFolderPath(const CleanupFolders& folders, const ContentItem& item);

// Whether a file name passes a content item's suffix test: an empty suffix passes every name;
// otherwise the name must end with the suffix, unit for unit, folding only A to Z ("X.TMP" ends in
// ".tmp"; "xtmp" does not).
bool NameMatchesSuffix(std::wstring_view name, std::wstring_view suffix);

}  // namespace pel_mora
