#include "plugin/drives/drive_list.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "plugin/string_conversion.h"
#include "tests/support/fixture_drive.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// Answers from a table; a drive without labels or capacity fails that query.
class FakeVolumeQueries : public VolumeQueries {
 public:
  uint32_t mask = 0;
  std::map<wchar_t, uint32_t> types;
  std::map<wchar_t, VolumeLabels> labels;
  std::map<wchar_t, VolumeCapacity> capacities;
  mutable std::vector<std::wstring> volume_queries;

  uint32_t LogicalDriveMask() const override { return mask; }
  uint32_t DriveType(const std::wstring& root) const override {
    const auto found = types.find(root.at(0));
    return found == types.end() ? 1 : found->second;
  }
  std::optional<VolumeLabels> Labels(const std::wstring& root) const override {
    volume_queries.push_back(root);
    const auto found = labels.find(root.at(0));
    return found == labels.end() ? std::nullopt : std::optional(found->second);
  }
  std::optional<VolumeCapacity> Capacity(const std::wstring& root) const override {
    volume_queries.push_back(root);
    const auto found = capacities.find(root.at(0));
    return found == capacities.end() ? std::nullopt : std::optional(found->second);
  }
};

uint32_t Bit(wchar_t letter) { return uint32_t{1} << (letter - L'A'); }

// A drive record as plain values, after checking that it has exactly the eight keys with their
// value types.
struct DriveRecord {
  std::string letter;
  int32_t type = 0;
  bool is_ready = false;
  std::string volume_name;
  std::string file_system;
  int64_t total_bytes = 0;
  int64_t free_bytes = 0;
  int64_t used_bytes = 0;

  bool operator==(const DriveRecord&) const = default;
};

void PrintTo(const DriveRecord& record, std::ostream* out) {
  *out << "{" << record.letter << " type " << record.type << " ready " << record.is_ready << " '"
       << record.volume_name << "' '" << record.file_system << "' " << record.total_bytes << "/"
       << record.free_bytes << "/" << record.used_bytes << "}";
}

template <typename T>
T Field(const EncodableMap& record, const char* key) {
  const auto found = record.find(EncodableValue(key));
  if (found == record.end()) {
    ADD_FAILURE() << "missing key " << key;
    return T();
  }
  const T* value = std::get_if<T>(&found->second);
  if (value == nullptr) {
    ADD_FAILURE() << "key " << key << " holds variant index " << found->second.index();
    return T();
  }
  return *value;
}

DriveRecord Parse(const EncodableMap& record) {
  EXPECT_EQ(record.size(), 8u);
  return DriveRecord{Field<std::string>(record, "driveLetter"), Field<int32_t>(record, "driveType"),
                     Field<bool>(record, "isReady"),           Field<std::string>(record, "volumeName"),
                     Field<std::string>(record, "fileSystem"), Field<int64_t>(record, "totalBytes"),
                     Field<int64_t>(record, "freeBytes"),      Field<int64_t>(record, "usedBytes")};
}

DriveRecord Parse(const EncodableValue& value) {
  const auto* record = std::get_if<EncodableMap>(&value);
  if (record == nullptr) {
    ADD_FAILURE() << "not a map";
    return {};
  }
  return Parse(*record);
}

TEST(DriveListTest, NoDrivesGiveAnEmptyList) {
  FakeVolumeQueries queries;
  EXPECT_TRUE(GetDrives(queries).empty());
}

TEST(DriveListTest, ListsLettersInOrderWithoutMissingRootsAndIgnoresHighBits) {
  FakeVolumeQueries queries;
  queries.mask = Bit(L'A') | Bit(L'C') | Bit(L'M') | Bit(L'Q') | Bit(L'Z') | (uint32_t{1} << 27);
  queries.types = {{L'A', 1}, {L'C', 3}, {L'M', 4}, {L'Q', 0}, {L'Z', 5}};

  std::vector<std::string> letters;
  for (const EncodableValue& drive : GetDrives(queries)) {
    letters.push_back(Parse(drive).letter);
  }
  EXPECT_EQ(letters, (std::vector<std::string>{"C", "M", "Q", "Z"}));
}

TEST(DriveListTest, UnknownDriveTypeKeepsEveryDefaultAndAsksNothingMore) {
  FakeVolumeQueries queries;
  queries.types = {{L'Q', 0}};
  queries.labels = {{L'Q', {L"Label", L"NTFS"}}};
  queries.capacities = {{L'Q', {100, 40}}};

  EXPECT_EQ(Parse(GetDriveInfo(L'Q', queries)), (DriveRecord{"Q", 0, false, "", "", 0, 0, 0}));
  EXPECT_TRUE(queries.volume_queries.empty());
}

TEST(DriveListTest, EachFailingQueryLeavesOnlyItsOwnDefaults) {
  const VolumeLabels labels{L"Donn\u00e9es", L"NTFS"};
  const char* const kLabel = "Donn\xc3\xa9" "es";  // The label in UTF-8.
  const VolumeCapacity capacity{1'000'000'000'000, 250'000'000'000};
  struct Case {
    const char* name;
    bool labels_answer;
    bool capacity_answers;
    DriveRecord expected;
  };
  const Case cases[] = {
      {"both answer", true, true, {"D", 3, true, kLabel, "NTFS", 1'000'000'000'000, 250'000'000'000, 750'000'000'000}},
      {"labels fail", false, true, {"D", 3, true, "", "", 1'000'000'000'000, 250'000'000'000, 750'000'000'000}},
      {"capacity fails", true, false, {"D", 3, false, kLabel, "NTFS", 0, 0, 0}},
      {"both fail", false, false, {"D", 3, false, "", "", 0, 0, 0}},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.name);
    FakeVolumeQueries queries;
    queries.types = {{L'D', 3}};
    if (test_case.labels_answer) {
      queries.labels = {{L'D', labels}};
    }
    if (test_case.capacity_answers) {
      queries.capacities = {{L'D', capacity}};
    }
    EXPECT_EQ(Parse(GetDriveInfo(L'D', queries)), test_case.expected);
    // The capacity is asked for even after the labels failed.
    EXPECT_EQ(queries.volume_queries, (std::vector<std::wstring>{L"D:\\", L"D:\\"}));
  }
}

TEST(DriveListTest, FixtureDriveIsAReadyFixedDriveWithTheSystemsSizes) {
  const test_support::FixtureDrive drive;
  const DriveRecord record = Parse(GetDriveInfo(drive.Letter()));

  ULARGE_INTEGER available{};
  ULARGE_INTEGER total{};
  ULARGE_INTEGER free{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(drive.Root().c_str(), &available, &total, &free));
  EXPECT_EQ(record.letter, std::string(1, static_cast<char>(drive.Letter())));
  EXPECT_EQ(record.type, DRIVE_FIXED);
  EXPECT_TRUE(record.is_ready);
  EXPECT_EQ(record.total_bytes, static_cast<int64_t>(total.QuadPart));
  // Other processes write to the same disk between the two queries.
  EXPECT_NEAR(static_cast<double>(record.free_bytes), static_cast<double>(free.QuadPart), 1e9);
  EXPECT_EQ(record.used_bytes, record.total_bytes - record.free_bytes);
  // Wine answers the label query for some mappings and not for others; whatever it answers is
  // what the record holds.
  wchar_t volume_name[MAX_PATH + 1] = {};
  wchar_t file_system[MAX_PATH + 1] = {};
  if (GetVolumeInformationW(drive.Root().c_str(), volume_name, MAX_PATH + 1, nullptr, nullptr, nullptr, file_system,
                            MAX_PATH + 1)) {
    EXPECT_EQ(record.volume_name, WideToUtf8(volume_name));
    EXPECT_EQ(record.file_system, WideToUtf8(file_system));
  } else {
    EXPECT_EQ(record.volume_name, "");
    EXPECT_EQ(record.file_system, "");
  }
}

TEST(DriveListTest, SystemListHoldsTheWineDrivesInOrder) {
  std::vector<std::string> letters;
  for (const EncodableValue& drive : GetDrives()) {
    const DriveRecord record = Parse(drive);
    EXPECT_NE(record.type, DRIVE_NO_ROOT_DIR);
    letters.push_back(record.letter);
  }
  ASSERT_FALSE(letters.empty());
  EXPECT_TRUE(std::is_sorted(letters.begin(), letters.end()));
  EXPECT_EQ(letters.front(), "C");
  EXPECT_EQ(letters.back(), "Z");
}

}  // namespace
}  // namespace pel_mora
