#include "plugin/duplicates/duplicate_finder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <ostream>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "plugin/file_handle.h"
#include "plugin/key_store/key_file_name.h"
#include "plugin/operations.h"
#include "plugin/string_conversion.h"
#include "tests/support/fixture_drive.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using test_support::FixtureDrive;

// 2021-01-01 00:00:00 UTC as a Windows file time, and the same instant in Unix seconds.
constexpr uint64_t kKnownFileTime = 132'539'328'000'000'000;
constexpr int64_t kKnownUnixSeconds = 1'609'459'200;

// Content of `size` bytes: the byte `head` over the first 4096 bytes, then `tail`; `marker`, when
// given, replaces the byte at `marker_offset` so two otherwise equal files differ there only.
std::string Content(size_t size, char head, char tail, size_t marker_offset = SIZE_MAX, char marker = '\0') {
  std::string content(size, head);
  if (size > 4096) {
    std::fill(content.begin() + 4096, content.end(), tail);
  }
  if (marker_offset < size) {
    content[marker_offset] = marker;
  }
  return content;
}

void WriteFixtureFile(const FixtureDrive& drive, std::wstring_view relative, const std::string& content) {
  const std::wstring path = drive.PathOf(relative);
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    throw std::runtime_error("CreateFileW failed for " + WideToUtf8(path));
  }
  DWORD written = 0;
  if (!WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
      written != content.size()) {
    throw std::runtime_error("WriteFile failed for " + WideToUtf8(path));
  }
}

std::string Hex(const std::string& content) {
  return DigestToHex(Sha256(content));
}

const EncodableValue& Field(const EncodableValue& group, const char* key) {
  return std::get<EncodableMap>(group).at(EncodableValue(key));
}

std::vector<std::string> Paths(const EncodableValue& group) {
  std::vector<std::string> paths;
  for (const EncodableValue& path : std::get<EncodableList>(Field(group, "paths"))) {
    paths.push_back(std::get<std::string>(path));
  }
  return paths;
}

// The paths the walk found, in its order, as the reply spells them.
std::vector<std::string> WalkOrder(const std::wstring& root) {
  std::vector<FileEntry> entries;
  CollectFiles(root, 0, entries);
  std::vector<std::string> paths;
  for (const FileEntry& entry : entries) {
    paths.push_back(WideToUtf8(entry.path));
  }
  return paths;
}

// `expected` in the order the walk found them.
std::vector<std::string> InWalkOrder(std::vector<std::string> expected, const std::vector<std::string>& walk) {
  std::sort(expected.begin(), expected.end(), [&](const std::string& left, const std::string& right) {
    return std::find(walk.begin(), walk.end(), left) < std::find(walk.begin(), walk.end(), right);
  });
  return expected;
}

// Counts the opens and reads of the hashing threads per path, and can make reads fail or come
// short. Called from every hashing thread, so its state is under a mutex.
class ReadRecorder final : public FileReadObserver {
 public:
  struct Counts {
    int opens = 0;
    int reads = 0;
    uint64_t bytes = 0;
  };

  // Reads of `path` at or beyond `offset` fail.
  void FailReadsFrom(const std::wstring& path, uint64_t offset) { failing_from_[path] = offset; }
  // The read of `path` at offset 0 returns at most `bytes`.
  void ShortenFirstRead(const std::wstring& path, uint32_t bytes) { first_read_limit_[path] = bytes; }

  void FileOpened(const std::wstring& path) override {
    std::lock_guard lock(mutex_);
    ++counts_[path].opens;
  }
  void ReadFinished(const std::wstring& path, uint64_t offset, uint32_t, uint32_t& bytes_read,
                    bool& succeeded) override {
    std::lock_guard lock(mutex_);
    if (const auto failing = failing_from_.find(path); failing != failing_from_.end() && offset >= failing->second) {
      succeeded = false;
      bytes_read = 0;
    }
    if (const auto limit = first_read_limit_.find(path); limit != first_read_limit_.end() && offset == 0) {
      bytes_read = std::min(bytes_read, limit->second);
    }
    Counts& counts = counts_[path];
    ++counts.reads;
    counts.bytes += bytes_read;
  }

  Counts CountsOf(const std::wstring& path) {
    std::lock_guard lock(mutex_);
    return counts_[path];
  }

 private:
  std::mutex mutex_;
  std::map<std::wstring, uint64_t> failing_from_;
  std::map<std::wstring, uint32_t> first_read_limit_;
  std::map<std::wstring, Counts> counts_;
};

// The files of the main fixture and what the reply must make of them.
class DuplicateFinderTest : public ::testing::Test {
 protected:
  void Add(std::wstring_view relative, const std::string& content) {
    WriteFixtureFile(drive_, relative, content);
    drive_.SetLastWriteTime(relative, kKnownFileTime);
  }
  std::string PathOf(std::wstring_view relative) const { return WideToUtf8(drive_.PathOf(relative)); }

  FixtureDrive drive_;
};

TEST_F(DuplicateFinderTest, ReportsEachSetOfCopiesOnceInSizeAndDigestOrder) {
  // Sizes around the smallest candidate.
  Add(L"511-a", Content(511, 'q', 'q'));
  Add(L"511-b", Content(511, 'q', 'q'));
  Add(L"512-a", Content(512, 'r', 'r'));
  drive_.AddFolder(L"nested");
  drive_.AddFolder(L"nested\\deeper");
  Add(L"nested\\deeper\\512-b", Content(512, 'r', 'r'));
  // Three copies, one of them hidden, and another pair of the same size.
  Add(L"three-1", Content(3000, 's', 's'));
  Add(L"nested\\.three-hidden", Content(3000, 's', 's'));
  Add(L"nested\\three-3", Content(3000, 's', 's'));
  Add(L"other-3000-1", Content(3000, 't', 't'));
  Add(L"nested\\other-3000-2", Content(3000, 't', 't'));
  // Large copies.
  Add(L"large-1", Content(300'000, 'u', 'v'));
  Add(L"nested\\deeper\\large-2", Content(300'000, 'u', 'v'));
  // Equal sizes that are not copies: the beginnings differ, or only the ends do.
  Add(L"start-1", Content(9000, 'w', 'x'));
  Add(L"start-2", Content(9000, 'y', 'x'));
  Add(L"end-1", Content(20'000, 'z', 'z'));
  Add(L"end-2", Content(20'000, 'z', 'z', 19'999, '!'));
  // A unique size.
  Add(L"unique", Content(777, 'a', 'a'));

  const EncodableList reply = FindDuplicates(drive_.Root());
  const std::vector<std::string> walk = WalkOrder(drive_.Root());

  struct ExpectedGroup {
    std::string content;
    std::vector<std::string> paths;
  };
  std::vector<ExpectedGroup> expected = {
      {Content(512, 'r', 'r'), {PathOf(L"512-a"), PathOf(L"nested\\deeper\\512-b")}},
      {Content(3000, 's', 's'), {PathOf(L"three-1"), PathOf(L"nested\\.three-hidden"), PathOf(L"nested\\three-3")}},
      {Content(3000, 't', 't'), {PathOf(L"other-3000-1"), PathOf(L"nested\\other-3000-2")}},
      {Content(300'000, 'u', 'v'), {PathOf(L"large-1"), PathOf(L"nested\\deeper\\large-2")}},
  };
  // The two groups of 3000 bytes come in the order of their digests (of the whole file, which is
  // also the prefix here).
  if (Hex(expected[2].content) < Hex(expected[1].content)) {
    std::swap(expected[1], expected[2]);
  }

  ASSERT_EQ(reply.size(), expected.size());
  for (size_t index = 0; index < expected.size(); ++index) {
    SCOPED_TRACE("group " + std::to_string(index));
    const EncodableValue& group = reply[index];
    const auto size = static_cast<int64_t>(expected[index].content.size());
    const auto count = static_cast<int64_t>(expected[index].paths.size());
    EXPECT_EQ(std::get<EncodableMap>(group).size(), 6u);
    EXPECT_EQ(Field(group, "hash"), EncodableValue(Hex(expected[index].content)));
    // Every number is a 64-bit integer on the wire, however small.
    EXPECT_EQ(Field(group, "fileSize"), EncodableValue(size));
    EXPECT_EQ(Field(group, "count"), EncodableValue(count));
    EXPECT_EQ(Field(group, "wastedBytes"), EncodableValue((count - 1) * size));
    EXPECT_EQ(Paths(group), InWalkOrder(expected[index].paths, walk));
    EXPECT_EQ(Field(group, "dates"), EncodableValue(EncodableList(expected[index].paths.size(), EncodableValue(kKnownUnixSeconds))));
  }
}

// Equal sizes whose beginnings differ are read once, 4096 bytes; small copies are read once
// in all; larger candidates are opened once per stage; files of unique size are never opened.
TEST_F(DuplicateFinderTest, ReadsOnlyWhatCanStillMatch) {
  Add(L"start-1", Content(9000, 'a', 'x'));
  Add(L"start-2", Content(9000, 'b', 'x'));
  Add(L"small-1", Content(4096, 'c', 'c'));
  Add(L"small-2", Content(4096, 'c', 'c'));
  Add(L"end-1", Content(70'000, 'd', 'e'));
  Add(L"end-2", Content(70'000, 'd', 'f'));
  Add(L"unique", Content(5555, 'g', 'g'));

  ReadRecorder recorder;
  const EncodableList reply = FindDuplicates(drive_.Root(), DuplicateScanOptions{&recorder, 2});
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(Field(reply[0], "fileSize"), EncodableValue(int64_t{4096}));

  struct Case {
    const wchar_t* relative;
    int opens;
    uint64_t bytes;
  };
  const Case cases[] = {
      {L"start-1", 1, 4096},
      {L"start-2", 1, 4096},
      {L"small-1", 1, 4096},
      {L"small-2", 1, 4096},
      {L"end-1", 2, 4096 + 70'000},
      {L"end-2", 2, 4096 + 70'000},
      {L"unique", 0, 0},
  };
  for (const Case& test_case : cases) {
    const ReadRecorder::Counts counts = recorder.CountsOf(drive_.PathOf(test_case.relative));
    EXPECT_EQ(counts.opens, test_case.opens) << "opens of " << WideToUtf8(test_case.relative);
    EXPECT_EQ(counts.bytes, test_case.bytes) << "bytes read of " << WideToUtf8(test_case.relative);
  }
  // The files whose beginnings differ got exactly one read of 4096 bytes each.
  EXPECT_EQ(recorder.CountsOf(drive_.PathOf(L"start-1")).reads, 1);
  EXPECT_EQ(recorder.CountsOf(drive_.PathOf(L"start-2")).reads, 1);
}

// Two different files whose reads fail at the same point would hash to the same digest of what
// was read; a third, true copy keeps its group with the healthy first file.
TEST_F(DuplicateFinderTest, DropsAFileWhoseReadFailedOrCameShort) {
  const std::string large = Content(600'000, 'h', 'i');
  Add(L"large-1", large);
  Add(L"large-2", Content(600'000, 'h', 'i', 599'000, '!'));
  Add(L"large-3", Content(600'000, 'h', 'i', 599'000, '?'));
  Add(L"small-1", Content(800, 'j', 'j'));
  Add(L"small-2", Content(800, 'j', 'j'));

  for (const bool healthy_copy : {false, true}) {
    SCOPED_TRACE(healthy_copy ? "with a healthy copy" : "without a healthy copy");
    if (healthy_copy) {
      Add(L"large-copy", large);
      Add(L"small-copy", Content(800, 'j', 'j'));
    }
    ReadRecorder recorder;
    // The different large files fail after their first block, at the same offset.
    recorder.FailReadsFrom(drive_.PathOf(L"large-2"), 4097);
    recorder.FailReadsFrom(drive_.PathOf(L"large-3"), 4097);
    // The healthy large file fails too, but only after its last byte: its digest stays whole.
    recorder.FailReadsFrom(drive_.PathOf(L"large-1"), 600'000);
    // One small copy's only read comes short.
    recorder.ShortenFirstRead(drive_.PathOf(L"small-2"), 700);

    const EncodableList reply = FindDuplicates(drive_.Root(), DuplicateScanOptions{&recorder, 2});
    if (!healthy_copy) {
      EXPECT_TRUE(reply.empty()) << "groups: " << reply.size();
      continue;
    }
    ASSERT_EQ(reply.size(), 2u);
    const std::vector<std::string> walk = WalkOrder(drive_.Root());
    EXPECT_EQ(Paths(reply[0]), InWalkOrder({PathOf(L"small-1"), PathOf(L"small-copy")}, walk));
    EXPECT_EQ(Paths(reply[1]), InWalkOrder({PathOf(L"large-1"), PathOf(L"large-copy")}, walk));
    EXPECT_EQ(Field(reply[1], "hash"), EncodableValue(Hex(large)));
  }
}

enum class LinkKind { kHardLink, kUnixSymlink };

struct Link {
  const wchar_t* name;
  const wchar_t* target;
  LinkKind kind;
};

struct NamesCase {
  const char* description;
  // Files of one content, each a file of its own.
  std::vector<const wchar_t*> copies;
  // More names of those files.
  std::vector<Link> links;
  // The names of each distinct file the group must hold; empty when there must be no group.
  std::vector<std::vector<const wchar_t*>> group_files;
};

void PrintTo(const NamesCase& test_case, std::ostream* stream) { *stream << test_case.description; }

class DuplicateNamesTest : public DuplicateFinderTest, public ::testing::WithParamInterface<NamesCase> {};

// Deleting one name of a file frees nothing, and deleting the target of a link breaks the link:
// names of one file are that one file. Each file is read once whatever its number of names, and
// a group lists one name of each distinct file, the first the walk found.
TEST_P(DuplicateNamesTest, NamesOfOneFileAreOneFile) {
  const NamesCase& test_case = GetParam();
  // Large enough for both stages: a prefix read, then a whole read of the group's files.
  const std::string content = Content(70'000, 'o', 'p');
  drive_.AddFolder(L"sub");
  for (const wchar_t* copy : test_case.copies) {
    Add(copy, content);
  }
  for (const Link& link : test_case.links) {
    if (link.kind == LinkKind::kHardLink) {
      ASSERT_TRUE(CreateHardLinkW(drive_.PathOf(link.name).c_str(), drive_.PathOf(link.target).c_str(), nullptr))
          << "CreateHardLinkW failed for " << WideToUtf8(link.name) << ": " << GetLastError();
    } else {
      drive_.AddUnixSymlink(link.name, link.target);
    }
  }
  const std::vector<std::string> walk = WalkOrder(drive_.Root());
  // Wine lists a link to a file as a plain file, so the walk sees every name.
  ASSERT_EQ(walk.size(), test_case.copies.size() + test_case.links.size());

  ReadRecorder recorder;
  const EncodableList reply = FindDuplicates(drive_.Root(), DuplicateScanOptions{&recorder, 2, {}});

  // The name that stands for each file in the group: the first of its names in walk order.
  std::vector<std::string> expected_paths;
  for (const std::vector<const wchar_t*>& names : test_case.group_files) {
    std::vector<std::string> paths;
    for (const wchar_t* name : names) {
      paths.push_back(PathOf(name));
    }
    expected_paths.push_back(InWalkOrder(paths, walk).front());
  }
  if (test_case.group_files.empty()) {
    EXPECT_TRUE(reply.empty()) << "groups: " << reply.size();
  } else {
    ASSERT_EQ(reply.size(), 1u);
    const auto count = static_cast<int64_t>(test_case.group_files.size());
    EXPECT_EQ(Paths(reply[0]), InWalkOrder(expected_paths, walk));
    EXPECT_EQ(Field(reply[0], "count"), EncodableValue(count));
    EXPECT_EQ(Field(reply[0], "wastedBytes"), EncodableValue((count - 1) * static_cast<int64_t>(content.size())));
    EXPECT_EQ(std::get<EncodableList>(Field(reply[0], "dates")).size(), test_case.group_files.size());
  }

  // Every file is read once, through one of its names: its first 4096 bytes, and its whole
  // content when it is in the group.
  std::map<std::wstring, std::vector<std::wstring>> names_of_file;
  for (const wchar_t* copy : test_case.copies) {
    names_of_file[copy].push_back(copy);
  }
  for (const Link& link : test_case.links) {
    std::wstring file = link.target;
    for (const Link& other : test_case.links) {
      if (file == other.name) {
        file = other.target;
      }
    }
    names_of_file[file].push_back(link.name);
  }
  for (const auto& [file, names] : names_of_file) {
    const bool in_group = std::any_of(test_case.group_files.begin(), test_case.group_files.end(),
                                      [&](const std::vector<const wchar_t*>& group_names) {
                                        return std::find(group_names.begin(), group_names.end(), file) !=
                                               group_names.end();
                                      });
    uint64_t bytes = 0;
    for (const std::wstring& name : names) {
      bytes += recorder.CountsOf(drive_.PathOf(name)).bytes;
    }
    EXPECT_EQ(bytes, 4096 + (in_group ? content.size() : 0)) << "bytes read of the file " << WideToUtf8(file);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Links,
    DuplicateNamesTest,
    ::testing::Values(
        NamesCase{"a file and its hard link", {L"file"}, {{L"sub\\hard-link", L"file", LinkKind::kHardLink}}, {}},
        NamesCase{"a file and a Unix symbolic link to it",
                  {L"file"},
                  {{L"sub\\symbolic-link", L"file", LinkKind::kUnixSymlink}},
                  {}},
        NamesCase{"three copies, two of them hard links of each other",
                  {L"file", L"copy"},
                  {{L"sub\\hard-link", L"file", LinkKind::kHardLink}},
                  {{L"file", L"sub\\hard-link"}, {L"copy"}}},
        NamesCase{"two copies with several names each",
                  {L"file", L"sub\\copy"},
                  {{L"hard-link", L"file", LinkKind::kHardLink},
                   {L"sub\\hard-link-2", L"hard-link", LinkKind::kHardLink},
                   {L"symbolic-link", L"file", LinkKind::kUnixSymlink},
                   {L"copy-link", L"sub\\copy", LinkKind::kHardLink}},
                  {{L"file", L"hard-link", L"sub\\hard-link-2", L"symbolic-link"}, {L"sub\\copy", L"copy-link"}}}));

// A file whose content is not on the disk (a cloud placeholder, an offline file) is never opened:
// that would download or recall it. Wine cannot set these attributes, so the walk's hook marks
// the file.
TEST_F(DuplicateFinderTest, NeverOpensAFileWhoseContentIsNotOnTheDisk) {
  struct Case {
    const char* description;
    uint32_t attribute;
  };
  const Case cases[] = {
      {"offline", 0x1000},
      {"recalled on open", 0x40000},
      {"recalled on data access", 0x400000},
  };
  const std::string content = Content(9000, 'q', 'r');
  Add(L"local", content);
  Add(L"placeholder", content);
  const std::wstring placeholder = drive_.PathOf(L"placeholder");
  for (const bool third_copy : {false, true}) {
    if (third_copy) {
      Add(L"second-local", content);
    }
    for (const Case& test_case : cases) {
      SCOPED_TRACE(std::string(test_case.description) + (third_copy ? ", with a third copy" : ""));
      ReadRecorder recorder;
      DuplicateScanOptions options{&recorder, 2, {}};
      options.listed_attributes = [&](const std::wstring& path, uint32_t& attributes) {
        if (path == placeholder) {
          attributes |= test_case.attribute;
        }
      };
      const EncodableList reply = FindDuplicates(drive_.Root(), options);
      EXPECT_EQ(recorder.CountsOf(placeholder).opens, 0);
      if (!third_copy) {
        EXPECT_TRUE(reply.empty()) << "groups: " << reply.size();
        continue;
      }
      ASSERT_EQ(reply.size(), 1u);
      EXPECT_EQ(Paths(reply[0]), InWalkOrder({PathOf(L"local"), PathOf(L"second-local")}, WalkOrder(drive_.Root())));
    }
  }
}

// Skipped names in any letter case, folders and plain files alike, and folder links, hide
// copies that would otherwise form groups with the visible file.
TEST_F(DuplicateFinderTest, SkipsRecycleBinsSystemVolumeInformationAndLinks) {
  const std::string content = Content(1500, 'k', 'k');
  Add(L"visible", content);
  const wchar_t* const hidden_folders[] = {L"$Recycle.Bin", L"one\\$RECYCLE.BIN", L"two\\$recycle.bin",
                                           L"System Volume Information", L"three\\SYSTEM volume information"};
  drive_.AddFolder(L"one");
  drive_.AddFolder(L"two");
  drive_.AddFolder(L"three");
  drive_.AddFolder(L"four");
  for (const wchar_t* folder : hidden_folders) {
    drive_.AddFolder(folder);
    Add(std::wstring(folder) + L"\\copy", content);
  }
  // Plain files with those names.
  Add(L"four\\$Recycle.Bin", content);
  Add(L"two\\System Volume Information", content);
  // A folder reached through a link: its file is unique unless the link is followed.
  drive_.AddFolder(L"real");
  Add(L"real\\only-here", Content(2500, 'l', 'l'));
  drive_.AddUnixSymlink(L"linked", L"real");

  EXPECT_TRUE(FindDuplicates(drive_.Root()).empty());

  Add(L"three\\second-visible", content);
  const EncodableList reply = FindDuplicates(drive_.Root());
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(Field(reply[0], "count"), EncodableValue(int64_t{2}));
}

// The root itself is never tested against the skipped names.
TEST_F(DuplicateFinderTest, WalksARootWithASkippedName) {
  drive_.AddFolder(L"System Volume Information");
  drive_.AddFolder(L"System Volume Information\\$Recycle.Bin");
  const std::string content = Content(2000, 'm', 'm');
  Add(L"System Volume Information\\first", content);
  Add(L"System Volume Information\\second", content);
  Add(L"System Volume Information\\$Recycle.Bin\\third", content);

  // Both spellings of the root: with and without a trailing separator.
  for (const std::wstring& root : {drive_.PathOf(L"System Volume Information"),
                                   drive_.PathOf(L"System Volume Information") + L"\\"}) {
    const EncodableList reply = FindDuplicates(root);
    ASSERT_EQ(reply.size(), 1u) << WideToUtf8(root);
    EXPECT_EQ(Field(reply[0], "count"), EncodableValue(int64_t{2}));
    for (const std::string& path : Paths(reply[0])) {
      EXPECT_EQ(path.find("\\\\"), std::string::npos) << path;
    }
  }
}

TEST_F(DuplicateFinderTest, ARootThatCannotBeListedGivesAnEmptyList) {
  Add(L"file", Content(1000, 'n', 'n'));
  for (const std::wstring& root : {drive_.PathOf(L"missing"), drive_.PathOf(L"file")}) {
    const WorkerReply reply = StartDuplicateScanOperation(root);
    ASSERT_TRUE(std::holds_alternative<EncodableValue>(reply)) << WideToUtf8(root);
    EXPECT_EQ(std::get<EncodableValue>(reply), EncodableValue(EncodableList{})) << WideToUtf8(root);
  }
}

}  // namespace
}  // namespace pel_mora
