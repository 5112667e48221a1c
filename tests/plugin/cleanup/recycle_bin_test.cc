#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "plugin/cleanup/path_recycling.h"
#include "plugin/cleanup/recycle_bin.h"
#include "plugin/operations.h"
#include "plugin/string_conversion.h"
#include "tests/plugin/cleanup/trash_fixture.h"
#include "tests/support/fixture_drive.h"

namespace pel_mora {
namespace {

using test_support::FixtureDrive;
using test_support::TestTrash;
using test_support::UniqueName;

struct BinContents {
  int64_t total_bytes = -1;
  int64_t item_count = -1;
};

// Reads a reply of the Recycle Bin query: a map of exactly "totalBytes" and "itemCount", both
// 64-bit integers.
BinContents ContentsOf(const flutter::EncodableValue& value) {
  const auto* map = std::get_if<flutter::EncodableMap>(&value);
  EXPECT_NE(map, nullptr) << "the reply is not a map";
  if (map == nullptr) return {};
  EXPECT_EQ(map->size(), 2u);
  BinContents contents;
  const auto total = map->find(flutter::EncodableValue("totalBytes"));
  const auto count = map->find(flutter::EncodableValue("itemCount"));
  EXPECT_TRUE(total != map->end() && std::holds_alternative<int64_t>(total->second));
  EXPECT_TRUE(count != map->end() && std::holds_alternative<int64_t>(count->second));
  if (total != map->end() && std::holds_alternative<int64_t>(total->second)) {
    contents.total_bytes = std::get<int64_t>(total->second);
  }
  if (count != map->end() && std::holds_alternative<int64_t>(count->second)) {
    contents.item_count = std::get<int64_t>(count->second);
  }
  return contents;
}

const flutter::EncodableValue& ValueOf(const WorkerReply& reply) {
  static const flutter::EncodableValue kNoValue;
  const auto* value = std::get_if<flutter::EncodableValue>(&reply);
  EXPECT_NE(value, nullptr) << "the reply is not a value";
  return value != nullptr ? *value : kNoValue;
}

// Both methods on the test run's own trash: the query sees what was recycled, the empty removes
// it. Wine's empty leaves folders that still hold files (and reports success all the same), and
// other tests of this executable recycle folders, so the checks are relative to what the bin
// held before and to the trash folder itself rather than to an empty bin.
TEST(RecycleBinMethodsTest, QuerySeesRecycledFilesAndEmptyRemovesThem) {
  TestTrash trash;
  FixtureDrive drive;
  const std::wstring first = UniqueName(L"bin-first", L"bin");
  const std::wstring second = UniqueName(L"bin-second", L"bin");
  drive.AddFile(first, 1000);
  drive.AddFile(second, 2000);
  const BinContents before = ContentsOf(ValueOf(GetRecycleBinInfoOperation()));

  const RecycleTally tally =
      RecyclePaths({WideToUtf8(drive.PathOf(first)), WideToUtf8(drive.PathOf(second))}, drive.Letter());
  ASSERT_EQ(tally.success_count, 2u);
  ASSERT_TRUE(trash.Holds(first));

  const BinContents filled = ContentsOf(ValueOf(GetRecycleBinInfoOperation()));
  EXPECT_EQ(filled.total_bytes, before.total_bytes + 3000);
  EXPECT_EQ(filled.item_count, before.item_count + 2);

  EXPECT_EQ(ValueOf(EmptyRecycleBinOperation()), flutter::EncodableValue(true));
  EXPECT_FALSE(trash.Holds(first));
  EXPECT_FALSE(trash.Holds(second));
  const BinContents emptied = ContentsOf(ValueOf(GetRecycleBinInfoOperation()));
  EXPECT_EQ(emptied.total_bytes, 0);
  EXPECT_EQ(emptied.item_count, static_cast<int64_t>(trash.EntryCount()));
}

// The clean-up's Recycle Bin figures are what left the bin, in the sizes the test put there.
// Wine's empty leaves a folder that still holds files and reports success all the same; that
// folder is not counted, the file that went is.
TEST(RecycleBinMethodsTest, CleanupFiguresAreWhatLeftTheBin) {
  TestTrash trash;
  FixtureDrive drive;
  const std::wstring folder = UniqueName(L"bin-folder", L"d");
  const std::wstring file = UniqueName(L"bin-file", L"bin");
  drive.AddFolder(folder);
  drive.AddFile(folder + L"\\inside.bin", 700);
  drive.AddFile(file, 300);
  trash.RemoveEverything();
  ASSERT_EQ(RecyclePaths({WideToUtf8(drive.PathOf(folder)), WideToUtf8(drive.PathOf(file))}, drive.Letter())
                .success_count,
            2u);
  const WorkerReply reply = PerformCleanupOperation({"recycle_bin"}, "");
  const auto& map = std::get<flutter::EncodableMap>(ValueOf(reply));
  const auto& breakdown = std::get<flutter::EncodableList>(map.at(flutter::EncodableValue("breakdown")));
  ASSERT_EQ(breakdown.size(), 1u);
  const auto& entry = std::get<flutter::EncodableMap>(breakdown[0]);
  EXPECT_FALSE(trash.Holds(file));
  ASSERT_TRUE(trash.Holds(folder)) << "Wine's empty removed a folder holding a file: the expected figures change";
  EXPECT_EQ(entry.at(flutter::EncodableValue("itemCount")).LongValue(), 1);
  EXPECT_EQ(entry.at(flutter::EncodableValue("bytes")).LongValue(), 300);
  EXPECT_EQ(map.at(flutter::EncodableValue("itemsDeleted")).LongValue(), 1);
  EXPECT_EQ(map.at(flutter::EncodableValue("bytesCleaned")).LongValue(), 300);
}

// The Recycle Bin row of one drive never counts or empties another drive's items. Wine keeps one
// trash for every drive and ignores the root it is given: while anything is in the bin, the row
// reports nothing and its clean-up deletes nothing (one error), so what was recycled from the
// other drive survives, and so does the drive's own item, which cannot be told apart safely.
TEST(RecycleBinMethodsTest, ADrivesRowNeverCountsOrEmptiesAnotherDrivesItems) {
  TestTrash trash;
  FixtureDrive system_stand_in;
  FixtureDrive data_drive;
  const std::wstring other = UniqueName(L"other-drive", L"bin");
  const std::wstring own = UniqueName(L"own-drive", L"bin");
  system_stand_in.AddFile(other, 400);
  data_drive.AddFile(own, 600);
  const std::string letter(1, static_cast<char>(data_drive.Letter()));
  const auto row_of = [](const flutter::EncodableList& records) {
    for (const flutter::EncodableValue& record : records) {
      const auto& map = std::get<flutter::EncodableMap>(record);
      if (map.at(flutter::EncodableValue("id")) == flutter::EncodableValue("recycle_bin")) {
        return BinContents{map.at(flutter::EncodableValue("totalBytes")).LongValue(),
                           map.at(flutter::EncodableValue("itemCount")).LongValue()};
      }
    }
    ADD_FAILURE() << "no recycle_bin row";
    return BinContents{};
  };
  const auto cleanup_figures = [](const WorkerReply& reply) {
    const auto& map = std::get<flutter::EncodableMap>(ValueOf(reply));
    return std::make_pair(map.at(flutter::EncodableValue("itemsDeleted")).LongValue(),
                          map.at(flutter::EncodableValue("errorsCount")).LongValue());
  };
  // An empty bin: nothing to count, and emptying it is no error.
  trash.RemoveEverything();
  const BinContents empty = row_of(std::get<flutter::EncodableList>(ValueOf(ScanCleanableCategoriesOperation(letter))));
  EXPECT_EQ(empty.item_count, 0);
  EXPECT_EQ(cleanup_figures(PerformCleanupOperation({"recycle_bin"}, letter)), std::make_pair(int64_t{0}, int64_t{0}));

  ASSERT_EQ(RecyclePaths({WideToUtf8(system_stand_in.PathOf(other)), WideToUtf8(data_drive.PathOf(own))}, L'C')
                .success_count,
            2u);

  const BinContents mixed = row_of(std::get<flutter::EncodableList>(ValueOf(ScanCleanableCategoriesOperation(letter))));
  EXPECT_EQ(mixed.item_count, 0);
  EXPECT_EQ(mixed.total_bytes, 0);
  EXPECT_EQ(cleanup_figures(PerformCleanupOperation({"recycle_bin"}, letter)), std::make_pair(int64_t{0}, int64_t{1}));
  EXPECT_TRUE(trash.Holds(other));
  EXPECT_TRUE(trash.Holds(own));
}

}  // namespace
}  // namespace pel_mora
