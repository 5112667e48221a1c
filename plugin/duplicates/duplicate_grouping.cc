#include "plugin/duplicates/duplicate_grouping.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace pel_mora {
namespace {

// A stretch [begin, end) of a list of positions that share a key.
struct Run {
  size_t begin;
  size_t end;
  size_t Length() const { return end - begin; }
};

// Calls `work(digester, index)` for every index below `count`, spread over up to `thread_count`
// threads of which the calling thread is one. Each thread makes its own digester and takes the
// next index from a shared counter, so a thread stuck on a large file does not hold up the
// others. Results go wherever `work` puts them by index, which is how they come back in order.
// The first exception on any thread stops the others from taking more work and is rethrown here
// after every thread has been joined.
void ForEachIndexOnThreads(size_t count,
                           const FileDigesterFactory& make_digester,
                           unsigned thread_count,
                           const std::function<void(FileDigester&, size_t)>& work) {
  if (count == 0) {
    return;
  }
  std::atomic<size_t> next_index{0};
  std::atomic<bool> stop{false};
  std::mutex failure_mutex;
  std::exception_ptr failure;

  auto run = [&]() noexcept {
    try {
      const std::unique_ptr<FileDigester> digester = make_digester();
      while (!stop.load(std::memory_order_relaxed)) {
        const size_t index = next_index.fetch_add(1, std::memory_order_relaxed);
        if (index >= count) {
          break;
        }
        work(*digester, index);
      }
    } catch (...) {
      std::lock_guard lock(failure_mutex);
      if (!failure) {
        failure = std::current_exception();
      }
      stop.store(true, std::memory_order_relaxed);
    }
  };

  const size_t wanted_threads = std::clamp<size_t>(thread_count, 1, count);
  std::vector<std::thread> helpers;
  helpers.reserve(wanted_threads - 1);
  for (size_t started = 1; started < wanted_threads; ++started) {
    try {
      helpers.emplace_back(run);
    } catch (const std::system_error&) {
      // The system would not give another thread; the threads already running, this one
      // included, share the work instead.
      break;
    }
  }
  run();
  for (std::thread& helper : helpers) {
    helper.join();
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

// Splits `positions` (already sorted by `key`) into runs of equal keys and calls `visit` for
// each run of two or more.
template <typename Key, typename Visit>
void ForEachSharedRun(const std::vector<size_t>& positions, size_t begin, size_t end, Key key, Visit visit) {
  size_t run_begin = begin;
  while (run_begin < end) {
    size_t run_end = run_begin + 1;
    while (run_end < end && key(positions[run_end]) == key(positions[run_begin])) {
      ++run_end;
    }
    if (run_end - run_begin >= 2) {
      visit(Run{run_begin, run_end});
    }
    run_begin = run_end;
  }
}

wchar_t FoldAsciiLetter(wchar_t character) {
  return (character >= L'a' && character <= L'z') ? static_cast<wchar_t>(character - L'a' + L'A') : character;
}

bool EqualsFoldingAsciiLetters(std::wstring_view name, std::wstring_view upper_case_name) {
  if (name.size() != upper_case_name.size()) {
    return false;
  }
  for (size_t index = 0; index < name.size(); ++index) {
    if (FoldAsciiLetter(name[index]) != upper_case_name[index]) {
      return false;
    }
  }
  return true;
}

// Which name reads each file in the first stage: the first to claim it, on whichever hashing
// thread. The key holds the size the walk saw as well as the identity: a directory entry may
// show an old size for one name of a file (NTFS updates the entry of the name the file was
// written through), and a name of another size is in another size run, which must still read
// the file for its own names.
class NameClaims {
 public:
  struct Claimed {
    // The position (into the candidates) of the name that reads the file.
    size_t reader = 0;
    // Set once the first name of the file in walk order stands for it.
    bool represented = false;
  };

  // True when `position` is the first name of the file of `identity` and `size` to claim it.
  // Called from every hashing thread.
  bool Claim(uint64_t size, const FileIdentity& identity, size_t position) {
    std::lock_guard lock(mutex_);
    return claims_.try_emplace(Key{size, identity}, Claimed{position, false}).second;
  }

  // The claim of a file, or null when no name claimed it (a digester that told the identity
  // without asking); only once the hashing threads have stopped.
  Claimed* Find(uint64_t size, const FileIdentity& identity) {
    const auto found = claims_.find(Key{size, identity});
    return found == claims_.end() ? nullptr : &found->second;
  }

 private:
  using Key = std::pair<uint64_t, FileIdentity>;
  std::mutex mutex_;
  std::map<Key, Claimed> claims_;
};

}  // namespace

bool IsContentAwayFromDisk(uint32_t attributes) {
  return (attributes & (kFileAttributeOffline | kFileAttributeRecallOnOpen | kFileAttributeRecallOnDataAccess)) != 0;
}

bool PrefixDigestCoversFile(const DigestOutcome& outcome, uint64_t size) {
  return outcome.has_digest && outcome.bytes_hashed == std::min(size, kPrefixByteCount);
}

bool ContentDigestCoversFile(const DigestOutcome& outcome, uint64_t size) {
  return outcome.has_digest && outcome.bytes_hashed == size;
}

std::vector<DuplicateGroup> GroupDuplicates(const std::vector<FileEntry>& entries,
                                            const FileDigesterFactory& make_digester,
                                            unsigned thread_count) {
  // Size stage: entry indices by ascending size, in walk order within a size (a stable sort keeps
  // the walk's order, and every later sort is stable too, so members stay in walk order).
  std::vector<size_t> by_size;
  by_size.reserve(entries.size());
  for (size_t index = 0; index < entries.size(); ++index) {
    if (entries[index].size >= kMinimumCandidateSize) {
      by_size.push_back(index);
    }
  }
  std::stable_sort(by_size.begin(), by_size.end(),
                   [&](size_t left, size_t right) { return entries[left].size < entries[right].size; });

  // Only the entries whose size another entry shares go on; `candidates` holds their indices.
  std::vector<size_t> candidates;
  std::vector<Run> size_runs;
  ForEachSharedRun(by_size, 0, by_size.size(), [&](size_t index) { return entries[index].size; },
                   [&](const Run& run) {
                     const size_t begin = candidates.size();
                     candidates.insert(candidates.end(), by_size.begin() + static_cast<std::ptrdiff_t>(run.begin),
                                       by_size.begin() + static_cast<std::ptrdiff_t>(run.end));
                     size_runs.push_back(Run{begin, candidates.size()});
                   });
  by_size = std::vector<size_t>();

  // Prefix stage: every candidate name is opened once, and each file is read once, at most 4096
  // bytes, by whichever of its names claims it first; on all hashing threads.
  NameClaims claims;
  std::vector<DigestOutcome> prefix_outcomes(candidates.size());
  ForEachIndexOnThreads(candidates.size(), make_digester, thread_count, [&](FileDigester& digester, size_t position) {
    const FileEntry& entry = entries[candidates[position]];
    prefix_outcomes[position] =
        digester.DigestPrefix(entry.path, kPrefixByteCount, [&claims, &entry, position](const FileIdentity& identity) {
          return claims.Claim(entry.size, identity, position);
        });
  });

  // Positions (into `candidates`) of distinct files that share their size and prefix digest with
  // another file, one run per shared prefix digest, runs ordered by size and then by digest.
  std::vector<size_t> prefix_survivors;
  std::vector<Run> prefix_runs;
  std::vector<size_t> readable;
  for (const Run& size_run : size_runs) {
    readable.clear();
    // Positions ascend in walk order, so the first name of a file met here stands for it; it
    // takes the outcome of the name that read the file, and the file's other names go no further.
    for (size_t position = size_run.begin; position < size_run.end; ++position) {
      const uint64_t size = entries[candidates[position]].size;
      if (!prefix_outcomes[position].identity) {
        continue;
      }
      NameClaims::Claimed* claimed = claims.Find(size, *prefix_outcomes[position].identity);
      if (claimed == nullptr || claimed->represented) {
        continue;
      }
      claimed->represented = true;
      if (claimed->reader != position) {
        prefix_outcomes[position] = prefix_outcomes[claimed->reader];
      }
      if (PrefixDigestCoversFile(prefix_outcomes[position], size)) {
        readable.push_back(position);
      }
    }
    auto prefix_of = [&](size_t position) -> const Sha256Digest& { return prefix_outcomes[position].digest; };
    std::stable_sort(readable.begin(), readable.end(),
                     [&](size_t left, size_t right) { return prefix_of(left) < prefix_of(right); });
    ForEachSharedRun(readable, 0, readable.size(), prefix_of, [&](const Run& run) {
      const size_t begin = prefix_survivors.size();
      prefix_survivors.insert(prefix_survivors.end(), readable.begin() + static_cast<std::ptrdiff_t>(run.begin),
                              readable.begin() + static_cast<std::ptrdiff_t>(run.end));
      prefix_runs.push_back(Run{begin, prefix_survivors.size()});
    });
  }

  // Content stage. A file of at most 4096 bytes whose one read covered it whole already has its
  // content digest; only the larger files are read again, to their end. The identity the first
  // stage saw is kept, so that a name that leads to another file by now cannot bring that file's
  // digest into the group.
  std::vector<DigestOutcome> content_outcomes(prefix_survivors.size());
  std::vector<FileIdentity> survivor_identities(prefix_survivors.size());
  std::vector<size_t> to_read;
  for (size_t slot = 0; slot < prefix_survivors.size(); ++slot) {
    const size_t position = prefix_survivors[slot];
    survivor_identities[slot] = *prefix_outcomes[position].identity;
    if (entries[candidates[position]].size <= kPrefixByteCount) {
      content_outcomes[slot] = prefix_outcomes[position];
    } else {
      to_read.push_back(slot);
    }
  }
  prefix_outcomes = std::vector<DigestOutcome>();
  ForEachIndexOnThreads(to_read.size(), make_digester, thread_count, [&](FileDigester& digester, size_t item) {
    const size_t slot = to_read[item];
    content_outcomes[slot] = digester.DigestContent(entries[candidates[prefix_survivors[slot]]].path);
  });

  std::vector<DuplicateGroup> groups;
  std::vector<size_t> complete;
  for (const Run& prefix_run : prefix_runs) {
    complete.clear();
    for (size_t slot = prefix_run.begin; slot < prefix_run.end; ++slot) {
      if (ContentDigestCoversFile(content_outcomes[slot], entries[candidates[prefix_survivors[slot]]].size) &&
          content_outcomes[slot].identity == survivor_identities[slot]) {
        complete.push_back(slot);
      }
    }
    auto content_of = [&](size_t slot) -> const Sha256Digest& { return content_outcomes[slot].digest; };
    std::stable_sort(complete.begin(), complete.end(),
                     [&](size_t left, size_t right) { return content_of(left) < content_of(right); });
    ForEachSharedRun(complete, 0, complete.size(), content_of, [&](const Run& run) {
      DuplicateGroup group;
      group.content_digest = content_of(complete[run.begin]);
      group.members.reserve(run.Length());
      for (size_t item = run.begin; item < run.end; ++item) {
        group.members.push_back(candidates[prefix_survivors[complete[item]]]);
      }
      group.file_size = entries[group.members.front()].size;
      groups.push_back(std::move(group));
    });
  }
  return groups;
}

unsigned HashingThreadCount() {
  return std::max(1u, std::thread::hardware_concurrency());
}

bool IsSkippedEntryName(std::wstring_view name) {
  return EqualsFoldingAsciiLetters(name, L"$RECYCLE.BIN") || EqualsFoldingAsciiLetters(name, L"SYSTEM VOLUME INFORMATION");
}

std::string DigestToHex(const Sha256Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (const uint8_t byte : digest) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0f]);
  }
  return text;
}

}  // namespace pel_mora
