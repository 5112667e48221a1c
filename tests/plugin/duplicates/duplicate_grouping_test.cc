#include "plugin/duplicates/duplicate_grouping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "plugin/key_store/key_file_name.h"

namespace pel_mora {
namespace {

enum class Stage { kPrefix, kContent };

// Files held in memory, hashed with a real SHA-256 so digests order as the product's do. Each
// name leads to a file with an identity of its own, or to the file of another name (a hard
// link). It records every call and every read, can script the outcome of a chosen name at a
// chosen stage (a read that came short, a file that could not be opened), can hide the identity
// of a name, make a name lead to another file by the time of the whole-file read, and throw for
// a chosen name. Shared by all hashing threads, so everything it touches is under its mutex.
class MemoryFiles {
 public:
  size_t Add(std::wstring path, std::string content) {
    const size_t file = files_.size();
    files_.push_back(File{std::move(content), FileIdentity{IdOf(file)}});
    return AddName(std::move(path), file, files_[file].content.size());
  }
  // An entry the walk saw with a size that no longer matches the file.
  size_t AddWithWalkSize(std::wstring path, std::string content, uint64_t walk_size) {
    const size_t index = Add(std::move(path), std::move(content));
    entries_[index].size = walk_size;
    return index;
  }
  // Another name of the file of entry `of_entry`, listed with `walk_size` (by default the file's
  // size; a directory entry can show an older one).
  size_t AddLink(std::wstring path, size_t of_entry, std::optional<uint64_t> walk_size = std::nullopt) {
    const size_t file = file_of_.at(entries_[of_entry].path);
    return AddName(std::move(path), file, walk_size.value_or(files_[file].content.size()));
  }

  void Script(const std::wstring& path, Stage stage, DigestOutcome outcome) { scripted_[{path, stage}] = outcome; }
  void HideIdentity(const std::wstring& path) { hidden_identities_.insert(path); }
  // From the whole-file stage on, `path` leads to the file of entry `other_entry`.
  void RedirectAtContent(const std::wstring& path, size_t other_entry) {
    redirected_[path] = file_of_.at(entries_[other_entry].path);
  }
  void ThrowFor(const std::wstring& path) { throwing_path_ = path; }

  const std::vector<FileEntry>& Entries() const { return entries_; }

  FileDigesterFactory Factory() {
    return [this] { return std::make_unique<Digester>(*this); };
  }

  // How often a name was asked for, and how often a file was actually read through it.
  int Calls(const std::wstring& path, Stage stage) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), std::make_pair(path, stage)));
  }
  int Reads(const std::wstring& path, Stage stage) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(reads_.begin(), reads_.end(), std::make_pair(path, stage)));
  }

  static Sha256Digest DigestOf(const std::string& bytes) { return Sha256(bytes); }

 private:
  struct File {
    std::string content;
    FileIdentity identity;
  };

  class Digester final : public FileDigester {
   public:
    explicit Digester(MemoryFiles& files) : files_(files) {}
    DigestOutcome DigestPrefix(const std::wstring& path,
                               uint64_t byte_count,
                               const IsNameToRead& is_name_to_read) override {
      return files_.Digest(path, Stage::kPrefix, byte_count, &is_name_to_read);
    }
    DigestOutcome DigestContent(const std::wstring& path) override {
      return files_.Digest(path, Stage::kContent, UINT64_MAX, nullptr);
    }

   private:
    MemoryFiles& files_;
  };

  // A 128-bit id whose high bytes are used too, so a comparison of only the low 64 bits would
  // take two files for one.
  static std::array<uint8_t, 16> IdOf(size_t file) {
    std::array<uint8_t, 16> id{};
    id[15] = static_cast<uint8_t>(file + 1);
    id[14] = static_cast<uint8_t>((file + 1) >> 8);
    return id;
  }

  size_t AddName(std::wstring path, size_t file, uint64_t walk_size) {
    file_of_[path] = file;
    entries_.push_back(FileEntry{std::move(path), walk_size, static_cast<int64_t>(entries_.size())});
    return entries_.size() - 1;
  }

  DigestOutcome Digest(const std::wstring& path,
                       Stage stage,
                       uint64_t byte_count,
                       const IsNameToRead* is_name_to_read) {
    std::lock_guard lock(mutex_);
    calls_.emplace_back(path, stage);
    if (path == throwing_path_) {
      throw std::runtime_error("the digester failed");
    }
    size_t file = file_of_.at(path);
    if (const auto redirected = redirected_.find(path); redirected != redirected_.end() && stage == Stage::kContent) {
      file = redirected->second;
    }
    DigestOutcome outcome;
    if (hidden_identities_.count(path) != 0) {
      return outcome;
    }
    outcome.identity = files_[file].identity;
    if (is_name_to_read != nullptr && !(*is_name_to_read)(*outcome.identity)) {
      return outcome;
    }
    reads_.emplace_back(path, stage);
    if (const auto scripted = scripted_.find({path, stage}); scripted != scripted_.end()) {
      DigestOutcome scripted_outcome = scripted->second;
      scripted_outcome.identity = outcome.identity;
      return scripted_outcome;
    }
    const std::string& content = files_[file].content;
    const std::string covered = content.substr(0, static_cast<size_t>(std::min<uint64_t>(byte_count, content.size())));
    outcome.has_digest = true;
    outcome.bytes_hashed = covered.size();
    outcome.digest = DigestOf(covered);
    return outcome;
  }

  std::vector<File> files_;
  std::map<std::wstring, size_t> file_of_;
  std::vector<FileEntry> entries_;
  std::map<std::pair<std::wstring, Stage>, DigestOutcome> scripted_;
  std::set<std::wstring> hidden_identities_;
  std::map<std::wstring, size_t> redirected_;
  std::optional<std::wstring> throwing_path_;
  std::mutex mutex_;
  std::vector<std::pair<std::wstring, Stage>> calls_;
  std::vector<std::pair<std::wstring, Stage>> reads_;
};

// Content of `size` bytes: `head` repeated over the first 4096 bytes, then `tail` repeated.
std::string Content(size_t size, char head, char tail = '\0') {
  std::string content(size, head);
  if (tail != '\0' && size > kPrefixByteCount) {
    std::fill(content.begin() + kPrefixByteCount, content.end(), tail);
  }
  return content;
}

struct ExpectedGroup {
  std::string content;
  std::vector<size_t> members;
};

// A group as the tests compare it: digest text, size and the member entries.
using GroupView = std::tuple<std::string, uint64_t, std::vector<size_t>>;

std::vector<GroupView> View(const std::vector<DuplicateGroup>& groups) {
  std::vector<GroupView> view;
  for (const DuplicateGroup& group : groups) {
    view.emplace_back(DigestToHex(group.content_digest), group.file_size, group.members);
  }
  return view;
}

GroupView ViewOf(const ExpectedGroup& group) {
  return {DigestToHex(MemoryFiles::DigestOf(group.content)), group.content.size(), group.members};
}

bool PrefixDigestBefore(const ExpectedGroup& left, const ExpectedGroup& right) {
  const auto prefix = [](const ExpectedGroup& group) {
    return DigestToHex(MemoryFiles::DigestOf(group.content.substr(0, kPrefixByteCount)));
  };
  return prefix(left) < prefix(right);
}

TEST(GroupDuplicatesTest, OrdersGroupsBySizeThenPrefixDigestThenContentDigestWithMembersInWalkOrder) {
  MemoryFiles files;
  // Walk order deliberately differs from the reply's order.
  const size_t large_a1 = files.Add(L"R:\\large\\a1", Content(9000, 'a', 'x'));
  const size_t small_y1 = files.Add(L"R:\\small\\y1", Content(700, 'y'));
  const size_t large_b1 = files.Add(L"R:\\large\\b1", Content(9000, 'a', 'z'));
  const size_t small_x1 = files.Add(L"R:\\small\\x1", Content(700, 'x'));
  const size_t tiny_1 = files.Add(L"R:\\tiny1", Content(512, 't'));
  const size_t large_c1 = files.Add(L"R:\\large\\c1", Content(9000, 'c', 'c'));
  const size_t small_x2 = files.Add(L"R:\\small\\x2", Content(700, 'x'));
  const size_t large_b2 = files.Add(L"R:\\large\\b2", Content(9000, 'a', 'z'));
  const size_t small_y2 = files.Add(L"R:\\small\\y2", Content(700, 'y'));
  const size_t tiny_2 = files.Add(L"R:\\tiny2", Content(512, 't'));
  const size_t large_a2 = files.Add(L"R:\\large\\a2", Content(9000, 'a', 'x'));
  const size_t large_c2 = files.Add(L"R:\\large\\c2", Content(9000, 'c', 'c'));
  const size_t small_y3 = files.Add(L"R:\\small\\y3", Content(700, 'y'));
  files.Add(L"R:\\below-minimum-1", Content(511, 'm'));
  files.Add(L"R:\\below-minimum-2", Content(511, 'm'));
  files.Add(L"R:\\unique-size", Content(8000, 'u'));

  // Members follow the walk: y1, then y2, then y3.
  std::vector<ExpectedGroup> small = {{Content(700, 'x'), {small_x1, small_x2}},
                                      {Content(700, 'y'), {small_y1, small_y2, small_y3}}};
  std::sort(small.begin(), small.end(),
            [](const ExpectedGroup& left, const ExpectedGroup& right) { return ViewOf(left) < ViewOf(right); });
  // Two groups share the prefix of 'a' and are ordered by content digest inside it; the group of
  // 'c' has a prefix of its own, ordered against the 'a' prefix by that digest.
  std::vector<ExpectedGroup> shared_prefix = {{Content(9000, 'a', 'x'), {large_a1, large_a2}},
                                              {Content(9000, 'a', 'z'), {large_b1, large_b2}}};
  std::sort(shared_prefix.begin(), shared_prefix.end(),
            [](const ExpectedGroup& left, const ExpectedGroup& right) { return ViewOf(left) < ViewOf(right); });
  const ExpectedGroup own_prefix{Content(9000, 'c', 'c'), {large_c1, large_c2}};

  std::vector<GroupView> expected = {ViewOf({Content(512, 't'), {tiny_1, tiny_2}})};
  for (const ExpectedGroup& group : small) {
    expected.push_back(ViewOf(group));
  }
  if (PrefixDigestBefore(own_prefix, shared_prefix[0])) {
    expected.push_back(ViewOf(own_prefix));
  }
  for (const ExpectedGroup& group : shared_prefix) {
    expected.push_back(ViewOf(group));
  }
  if (!PrefixDigestBefore(own_prefix, shared_prefix[0])) {
    expected.push_back(ViewOf(own_prefix));
  }

  for (const unsigned thread_count : {1u, 2u, 7u}) {
    EXPECT_EQ(View(GroupDuplicates(files.Entries(), files.Factory(), thread_count)), expected)
        << thread_count << " threads";
  }
}

TEST(GroupDuplicatesTest, ReadsOnlyWhatCanStillMatchAndEachFileOncePerStage) {
  MemoryFiles files;
  files.Add(L"R:\\unique-1", Content(600, 'a'));
  files.Add(L"R:\\unique-2", Content(601, 'a'));
  files.Add(L"R:\\below-minimum-1", Content(100, 'b'));
  files.Add(L"R:\\below-minimum-2", Content(100, 'b'));
  // Equal size, different beginnings: never read whole.
  files.Add(L"R:\\different-start-1", Content(10000, 'c', 'z'));
  files.Add(L"R:\\different-start-2", Content(10000, 'd', 'z'));
  // Equal beginnings, different ends: read whole once, no group.
  files.Add(L"R:\\different-end-1", Content(10000, 'e', 'x'));
  files.Add(L"R:\\different-end-2", Content(10000, 'e', 'y'));
  // Small copies: the one prefix read covers them; large copies: one read per stage.
  files.Add(L"R:\\small-copy-1", Content(4096, 'f'));
  files.Add(L"R:\\small-copy-2", Content(4096, 'f'));
  files.Add(L"R:\\large-copy-1", Content(4097, 'g', 'h'));
  files.Add(L"R:\\large-copy-2", Content(4097, 'g', 'h'));

  const std::vector<DuplicateGroup> groups = GroupDuplicates(files.Entries(), files.Factory(), 3);
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].file_size, 4096u);
  EXPECT_EQ(groups[1].file_size, 4097u);

  struct Case {
    const wchar_t* path;
    int prefix_reads;
    int content_reads;
  };
  const Case cases[] = {
      {L"R:\\unique-1", 0, 0},          {L"R:\\unique-2", 0, 0},
      {L"R:\\below-minimum-1", 0, 0},   {L"R:\\below-minimum-2", 0, 0},
      {L"R:\\different-start-1", 1, 0}, {L"R:\\different-start-2", 1, 0},
      {L"R:\\different-end-1", 1, 1},   {L"R:\\different-end-2", 1, 1},
      {L"R:\\small-copy-1", 1, 0},      {L"R:\\small-copy-2", 1, 0},
      {L"R:\\large-copy-1", 1, 1},      {L"R:\\large-copy-2", 1, 1},
  };
  for (const Case& test_case : cases) {
    EXPECT_EQ(files.Calls(test_case.path, Stage::kPrefix), test_case.prefix_reads) << "prefix of " << test_case.path;
    EXPECT_EQ(files.Calls(test_case.path, Stage::kContent), test_case.content_reads) << "content of " << test_case.path;
  }
}

// A digest that does not cover the file is as good as none: the file leaves its bucket, and
// its twin, now alone, forms no group. A third copy keeps the group alive without it.
TEST(GroupDuplicatesTest, DropsFilesWhoseDigestDoesNotCoverThem) {
  struct Case {
    const char* description;
    size_t size;
    Stage stage;
    DigestOutcome outcome;
  };
  const Sha256Digest some_digest = MemoryFiles::DigestOf("something");
  const Case cases[] = {
      {"prefix read came short", 10000, Stage::kPrefix, {true, 4095, some_digest, {}}},
      {"prefix read failed", 10000, Stage::kPrefix, {false, 0, {}, {}}},
      {"small file's only read came short", 700, Stage::kPrefix, {true, 699, some_digest, {}}},
      {"read failed midway", 10000, Stage::kContent, {true, 8192, some_digest, {}}},
      {"file grew since the walk", 10000, Stage::kContent, {true, 10001, some_digest, {}}},
      {"content could not be hashed", 10000, Stage::kContent, {false, 0, {}, {}}},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.description);
    for (const bool third_copy : {false, true}) {
      MemoryFiles files;
      const std::string content = Content(test_case.size, 'p', 'q');
      const size_t first = files.Add(L"R:\\first", content);
      files.Add(L"R:\\failing", content);
      // The scripted outcome of both failing files is the same, so they would match each other.
      files.Add(L"R:\\other-failing", Content(test_case.size, 'p', 'r'));
      files.Script(L"R:\\failing", test_case.stage, test_case.outcome);
      files.Script(L"R:\\other-failing", test_case.stage, test_case.outcome);
      std::vector<size_t> expected_members;
      if (third_copy) {
        expected_members = {first, files.Add(L"R:\\third", content)};
      }
      const std::vector<DuplicateGroup> groups = GroupDuplicates(files.Entries(), files.Factory(), 2);
      if (expected_members.empty()) {
        EXPECT_TRUE(groups.empty()) << "groups: " << groups.size();
      } else {
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0].members, expected_members);
      }
    }
  }
}

// A file that changed size since the walk is dropped even though its digest is good.
TEST(GroupDuplicatesTest, DropsAFileThatShrankBelowTheSizeTheWalkSaw) {
  MemoryFiles files;
  files.AddWithWalkSize(L"R:\\shrunk-1", Content(600, 's'), 700);
  files.AddWithWalkSize(L"R:\\shrunk-2", Content(600, 's'), 700);
  files.AddWithWalkSize(L"R:\\shrunk-large-1", Content(6000, 's', 't'), 7000);
  files.AddWithWalkSize(L"R:\\shrunk-large-2", Content(6000, 's', 't'), 7000);
  EXPECT_TRUE(GroupDuplicates(files.Entries(), files.Factory(), 2).empty());
}

// Names of one file are that one file: it is read through one name only, the first name the
// walk found stands for it, and a group needs two distinct files.
TEST(GroupDuplicatesTest, NamesOfOneFileCountAsOneFile) {
  struct Case {
    const char* description;
    size_t size;
  };
  // A small file is read once in all; a large one once per stage.
  for (const Case& test_case : {Case{"small", 3000}, Case{"large", 9000}}) {
    SCOPED_TRACE(test_case.description);
    const std::string content = Content(test_case.size, 'a', 'b');
    for (const unsigned thread_count : {1u, 2u, 7u}) {
      SCOPED_TRACE(std::to_string(thread_count) + " threads");
      MemoryFiles files;
      // A file with two more names, listed after a name of another file of equal content.
      const size_t other_name = files.Add(L"R:\\other", Content(test_case.size, 'c', 'd'));
      const size_t first = files.Add(L"R:\\first", content);
      files.AddLink(L"R:\\first-link", first);
      files.AddLink(L"R:\\z\\first-link-2", first);
      files.AddLink(L"R:\\other-link", other_name);
      // A file and its own second name only: no group, whatever the number of names.
      const size_t lonely = files.Add(L"R:\\lonely", Content(test_case.size, 'e', 'f'));
      files.AddLink(L"R:\\lonely-link", lonely);
      // A true copy of the first file, with a name of its own.
      const size_t copy = files.Add(L"R:\\copy", content);
      files.AddLink(L"R:\\copy-link", copy);

      const std::vector<DuplicateGroup> groups = GroupDuplicates(files.Entries(), files.Factory(), thread_count);
      ASSERT_EQ(groups.size(), 1u);
      EXPECT_EQ(groups[0].members, (std::vector<size_t>{first, copy}));
      EXPECT_EQ(groups[0].content_digest, MemoryFiles::DigestOf(content));

      const int content_reads = test_case.size > kPrefixByteCount ? 1 : 0;
      struct Names {
        std::vector<std::wstring> paths;
        int content_reads;
      };
      const Names per_file[] = {
          {{L"R:\\first", L"R:\\first-link", L"R:\\z\\first-link-2"}, content_reads},
          {{L"R:\\copy", L"R:\\copy-link"}, content_reads},
          // Alone among the distinct files of its prefix, it is never read whole.
          {{L"R:\\lonely", L"R:\\lonely-link"}, 0},
          {{L"R:\\other", L"R:\\other-link"}, 0},
      };
      for (const Names& names : per_file) {
        int prefix_reads = 0;
        int whole_reads = 0;
        for (const std::wstring& path : names.paths) {
          // Every name is looked at once, to learn which file it leads to.
          EXPECT_EQ(files.Calls(path, Stage::kPrefix), 1) << "prefix of " << path;
          prefix_reads += files.Reads(path, Stage::kPrefix);
          whole_reads += files.Reads(path, Stage::kContent);
        }
        EXPECT_EQ(prefix_reads, 1) << "prefix reads of the file of " << names.paths[0];
        EXPECT_EQ(whole_reads, names.content_reads) << "whole reads of the file of " << names.paths[0];
      }
    }
  }
}

// A directory entry can show an older size for one name of a file. That name falls in another
// size run; the file's names of the right size must still be read and grouped.
TEST(GroupDuplicatesTest, ANameWithAnOlderSizeDoesNotHideTheFileFromItsOtherNames) {
  for (const unsigned thread_count : {1u, 3u}) {
    MemoryFiles files;
    const std::string content = Content(6000, 'g', 'h');
    const size_t first = files.Add(L"R:\\first", content);
    // Listed first, with the size the file had before it grew.
    const size_t stale = files.AddLink(L"R:\\a-stale-name", first, 5000);
    const size_t copy = files.Add(L"R:\\copy", content);
    // Another file of the old size keeps the stale name's size run alive.
    files.Add(L"R:\\old-size", Content(5000, 'g', 'h'));
    const std::vector<DuplicateGroup> groups = GroupDuplicates(files.Entries(), files.Factory(), thread_count);
    ASSERT_EQ(groups.size(), 1u) << thread_count << " threads";
    EXPECT_EQ(groups[0].members, (std::vector<size_t>{first, copy}));
    EXPECT_NE(groups[0].members[0], stale);
  }
}

// A name that cannot be told apart from the others might be one of them: it takes no part. So
// does a name that leads to another file by the time its whole content is read.
TEST(GroupDuplicatesTest, ANameOfUncertainIdentityTakesNoPart) {
  struct Case {
    const char* description;
    size_t size;
    bool hide_identity;
  };
  const Case cases[] = {
      {"identity unknown, small file", 2000, true},
      {"identity unknown, large file", 9000, true},
      {"another file at the whole-file read", 9000, false},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.description);
    for (const bool third_copy : {false, true}) {
      MemoryFiles files;
      const std::string content = Content(test_case.size, 'i', 'j');
      const size_t first = files.Add(L"R:\\first", content);
      files.Add(L"R:\\uncertain", content);
      if (test_case.hide_identity) {
        files.HideIdentity(L"R:\\uncertain");
      } else {
        // By then the name leads to the first file, whose whole digest matches the first's.
        files.RedirectAtContent(L"R:\\uncertain", first);
      }
      std::vector<size_t> expected_members;
      if (third_copy) {
        expected_members = {first, files.Add(L"R:\\third", content)};
      }
      const std::vector<DuplicateGroup> groups = GroupDuplicates(files.Entries(), files.Factory(), 2);
      if (expected_members.empty()) {
        EXPECT_TRUE(groups.empty()) << "groups: " << groups.size();
      } else {
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0].members, expected_members);
      }
      if (test_case.hide_identity) {
        EXPECT_EQ(files.Reads(L"R:\\uncertain", Stage::kPrefix), 0);
      }
    }
  }
}

TEST(GroupDuplicatesTest, AnExceptionOnAHashingThreadReachesTheCaller) {
  for (const unsigned thread_count : {1u, 4u}) {
    MemoryFiles files;
    for (int index = 0; index < 50; ++index) {
      files.Add(L"R:\\copy" + std::to_wstring(index), Content(9000, 'k', 'l'));
    }
    files.ThrowFor(L"R:\\copy17");
    EXPECT_THROW(GroupDuplicates(files.Entries(), files.Factory(), thread_count), std::runtime_error)
        << thread_count << " threads";
  }
  MemoryFiles files;
  files.Add(L"R:\\copy1", Content(9000, 'k'));
  files.Add(L"R:\\copy2", Content(9000, 'k'));
  const FileDigesterFactory failing_factory = []() -> std::unique_ptr<FileDigester> {
    throw std::runtime_error("no provider");
  };
  EXPECT_THROW(GroupDuplicates(files.Entries(), failing_factory, 2), std::runtime_error);
}

TEST(GroupDuplicatesTest, NothingToHashGivesNoGroups) {
  MemoryFiles files;
  EXPECT_TRUE(GroupDuplicates(files.Entries(), files.Factory(), 4).empty());
  files.Add(L"R:\\alone", Content(5000, 'a'));
  EXPECT_TRUE(GroupDuplicates(files.Entries(), files.Factory(), 4).empty());
  EXPECT_EQ(files.Calls(L"R:\\alone", Stage::kPrefix), 0);
}

TEST(IsContentAwayFromDiskTest, MarksPlaceholdersAndOfflineFilesOnly) {
  struct Case {
    uint32_t attributes;
    bool away;
  };
  // Read-only, hidden, system, archive, normal, temporary, sparse, compressed, not indexed,
  // encrypted, pinned (0x80000), unpinned (0x100000).
  constexpr uint32_t kOrdinary = 0x1 | 0x2 | 0x4 | 0x20 | 0x80 | 0x100 | 0x200 | 0x800 | 0x2000 | 0x4000 | 0x80000 |
                                 0x100000;
  const Case cases[] = {
      {0, false},
      {kOrdinary, false},
      {kFileAttributeOffline, true},
      {kFileAttributeRecallOnOpen, true},
      {kFileAttributeRecallOnDataAccess, true},
      // A cloud file not kept on this device, as the sync client marks it.
      {0x20 | 0x100000 | kFileAttributeRecallOnDataAccess | 0x200, true},
      {kOrdinary | kFileAttributeOffline, true},
  };
  for (const Case& test_case : cases) {
    EXPECT_EQ(IsContentAwayFromDisk(test_case.attributes), test_case.away) << std::hex << test_case.attributes;
  }
}

TEST(IsSkippedEntryNameTest, FoldsOnlyAsciiLetters) {
  struct Case {
    const wchar_t* name;
    bool skipped;
  };
  const Case cases[] = {
      {L"$RECYCLE.BIN", true},
      {L"$Recycle.Bin", true},
      {L"$recycle.bin", true},
      {L"System Volume Information", true},
      {L"SYSTEM VOLUME INFORMATION", true},
      {L"system volume information", true},
      {L"$Recycle.Bin2", false},
      {L"Recycle.Bin", false},
      {L"System Volume Informatio", false},
      {L"System  Volume Information", false},
      // Only A to Z fold: a dotless capital I is not an i.
      {L"System Volume \u0130nformation", false},
      {L"", false},
  };
  for (const Case& test_case : cases) {
    EXPECT_EQ(IsSkippedEntryName(test_case.name), test_case.skipped);
  }
}

TEST(DigestToHexTest, WritesTwoLowerCaseDigitsPerByteMostSignificantFirst) {
  Sha256Digest digest{};
  digest[0] = 0x0f;
  digest[1] = 0xa0;
  digest[31] = 0xff;
  EXPECT_EQ(DigestToHex(digest), "0fa0" + std::string(58, '0') + "ff");
  EXPECT_EQ(DigestToHex(MemoryFiles::DigestOf("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace pel_mora
