// Measures the streaming drive scan against a bare walk of the same tree.
//
// Usage: scan_bench UNIX_FOLDER [REPETITIONS]
//        scan_bench UNIX_FOLDER --peak-memory read-ahead|one-folder-at-a-time
// The folder (a tree of many files, see scripts/bench-scan.sh) gets a drive letter of the Wine
// prefix. Each repetition times, in turn: a DriveScanner scan with listing threads reading
// ahead, the same scan listing one folder at a time (as the scan did before it read ahead), both
// from Start to the final event with a callback that only counts; a bare single-threaded walk
// with the scan's listing calls (FindFirstFileExW, large fetch) that only counts entries; and the
// same bare walk with NtQueryDirectoryFile and a 1 MiB buffer. The medians show what the
// read-ahead gains and what building and batching the entries costs over the listing.
// --peak-memory runs one scan of the given kind and prints the process's peak working set, so
// each kind is measured in a process of its own.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <psapi.h>
#include <winternl.h>

#include "plugin/directory_query_win32.h"
#include "plugin/drives/drive_scanner.h"
#include "plugin/find_handle.h"
#include "plugin/string_conversion.h"
#include "tests/support/fixture_drive.h"

namespace {

using Clock = std::chrono::steady_clock;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using pel_mora::DirectoryInformation;
using pel_mora::kDirectoryInformationClass;
using pel_mora::kStatusNoMoreFiles;
using pel_mora::NtQueryDirectoryFileFunction;
using pel_mora::QueryDirectoryFunction;

constexpr int kMaximumDepth = 64;

class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);
    }
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Counts entries and sums file sizes, so the two listings can be compared.
struct WalkCount {
  uint64_t entries = 0;
  uint64_t bytes = 0;
};

// The walk of the scanner without its records: same listing calls, same depth bound and the
// same items skipped; counts files and folders and sums file sizes.
void BareWalk(const std::wstring& path, int depth, WalkCount& count) {
  if (depth > kMaximumDepth) {
    return;
  }
  std::wstring prefix = path;
  if (prefix.back() != L'\\') {
    prefix += L'\\';
  }
  WIN32_FIND_DATAW item;
  const pel_mora::FindHandle listing(FindFirstFileExW((prefix + L'*').c_str(), FindExInfoBasic, &item,
                                                      FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!listing.IsValid()) {
    return;
  }
  do {
    if (pel_mora::IsDotOrDotDot(item.cFileName) || (item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      continue;
    }
    ++count.entries;
    if ((item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      BareWalk(prefix + item.cFileName, depth + 1, count);
    } else {
      count.bytes += pel_mora::FoundFileSize(item);
    }
  } while (FindNextFileW(listing.Get(), &item));
}

void NtQueryWalk(NtQueryDirectoryFileFunction query, const std::wstring& path, int depth, std::vector<char>& buffer,
                 WalkCount& count) {
  if (depth > kMaximumDepth) {
    return;
  }
  const OwnedHandle folder(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (folder.Get() == INVALID_HANDLE_VALUE) {
    return;
  }
  std::wstring prefix = path;
  if (prefix.back() != L'\\') {
    prefix += L'\\';
  }
  // Sub-folders are walked once the listing is read, since the buffer serves the whole listing.
  std::vector<std::wstring> subfolders;
  for (BOOLEAN restart = TRUE;; restart = FALSE) {
    IO_STATUS_BLOCK status{};
    const LONG result = query(folder.Get(), nullptr, nullptr, nullptr, &status, buffer.data(),
                              static_cast<ULONG>(buffer.size()), kDirectoryInformationClass, FALSE, nullptr, restart);
    if (result < 0 || result == kStatusNoMoreFiles) {
      break;
    }
    for (size_t offset = 0;;) {
      const auto* item = reinterpret_cast<const DirectoryInformation*>(buffer.data() + offset);
      const std::wstring_view name(item->file_name, item->file_name_length / sizeof(WCHAR));
      const bool dots = name == L"." || name == L"..";
      if (!dots && (item->file_attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        ++count.entries;
        if ((item->file_attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
          subfolders.push_back(prefix + std::wstring(name));
        } else {
          count.bytes += static_cast<uint64_t>(item->end_of_file.QuadPart);
        }
      }
      if (item->next_entry_offset == 0) {
        break;
      }
      offset += item->next_entry_offset;
    }
  }
  for (const std::wstring& subfolder : subfolders) {
    NtQueryWalk(query, subfolder, depth + 1, buffer, count);
  }
}

// The NtQueryDirectoryFile walk with the root's sub-folders shared out over `threads` threads:
// shows how far listing itself gains from more threads on this system.
double SplitQueryWalkSeconds(NtQueryDirectoryFileFunction query, const std::wstring& root, int threads) {
  std::vector<std::wstring> subfolders;
  WIN32_FIND_DATAW item;
  const pel_mora::FindHandle listing(FindFirstFileExW((root + L'*').c_str(), FindExInfoBasic, &item,
                                                      FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (listing.IsValid()) {
    do {
      if (!pel_mora::IsDotOrDotDot(item.cFileName) && (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
          (item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        subfolders.push_back(root + item.cFileName);
      }
    } while (FindNextFileW(listing.Get(), &item));
  }
  const auto start = Clock::now();
  std::vector<std::thread> walkers;
  for (int thread = 0; thread < threads; ++thread) {
    walkers.emplace_back([&, thread] {
      std::vector<char> buffer(size_t{1} << 20);
      WalkCount count;
      for (size_t index = static_cast<size_t>(thread); index < subfolders.size(); index += static_cast<size_t>(threads)) {
        NtQueryWalk(query, subfolders[index], 1, buffer, count);
      }
    });
  }
  for (std::thread& walker : walkers) {
    walker.join();
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct ScanOutcome {
  double seconds = 0;
  uint64_t entries = 0;
  bool completed = false;
};

ScanOutcome TimedScan(wchar_t letter, pel_mora::ScanListing listing) {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  ScanOutcome outcome;
  const EncodableValue entries_key("entries");
  const EncodableValue type_key("type");
  pel_mora::DriveScanner scanner(
      [&](const EncodableValue& event) {
        const auto& map = std::get<EncodableMap>(event);
        const auto entries = map.find(entries_key);
        if (entries != map.end()) {
          outcome.entries += std::get<EncodableList>(entries->second).size();
          return;
        }
        const auto& type = std::get<std::string>(map.at(type_key));
        if (type == "completed" || type == "cancelled") {
          std::lock_guard lock(mutex);
          outcome.completed = type == "completed";
          done = true;
          ended.notify_all();
        }
      },
      pel_mora::DriveScanner::FolderOpenHook(), listing);
  const auto start = Clock::now();
  scanner.Start(letter);
  std::unique_lock lock(mutex);
  ended.wait(lock, [&] { return done; });
  outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return outcome;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double MebiBytes(size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

size_t PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)) ? counters.PeakWorkingSetSize : 0;
}

bool CheckScan(const ScanOutcome& scan, uint64_t expected_entries, const char* kind) {
  if (scan.completed && scan.entries == expected_entries) {
    return true;
  }
  std::fprintf(stderr, "%s scan gave %llu entries (expected %llu), completed %d\n", kind,
               static_cast<unsigned long long>(scan.entries), static_cast<unsigned long long>(expected_entries),
               scan.completed ? 1 : 0);
  return false;
}

int Run(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: scan_bench UNIX_FOLDER [REPETITIONS]\n"
                 "       scan_bench UNIX_FOLDER --peak-memory read-ahead|one-folder-at-a-time\n");
    return 2;
  }
  const pel_mora::test_support::DriveLetterMapping mapping(argv[1]);
  const std::wstring root = mapping.Root();

  if (argc > 3 && std::wstring_view(argv[2]) == L"--peak-memory") {
    const std::wstring_view kind(argv[3]);
    const auto listing =
        kind == L"read-ahead" ? pel_mora::ScanListing::kReadAhead : pel_mora::ScanListing::kOneFolderAtATime;
    const size_t before = PeakWorkingSet();
    const ScanOutcome scan = TimedScan(mapping.Letter(), listing);
    std::printf("peak working set, %s scan of %llu entries: %.1f MiB (%.1f MiB before the scan)\n",
                pel_mora::WideToUtf8(kind).c_str(), static_cast<unsigned long long>(scan.entries),
                MebiBytes(PeakWorkingSet()), MebiBytes(before));
    return scan.completed ? 0 : 1;
  }

  const int repetitions = argc > 2 ? std::max(1, _wtoi(argv[2])) : 5;
  std::printf("tree %s mapped to %s, %d listing threads\n", pel_mora::WideToUtf8(argv[1]).c_str(),
              pel_mora::WideToUtf8(root).c_str(), pel_mora::DefaultListingThreads());
  const NtQueryDirectoryFileFunction query = QueryDirectoryFunction();
  if (query == nullptr) {
    std::fprintf(stderr, "NtQueryDirectoryFile is not there\n");
    return 1;
  }

  // One walk first, so every measured run finds the tree in the caches.
  WalkCount expected;
  BareWalk(root, 0, expected);
  std::vector<char> buffer(size_t{1} << 20);
  WalkCount queried;
  NtQueryWalk(query, root, 0, buffer, queried);
  std::printf("entries: %llu (NtQueryDirectoryFile: %llu; file bytes %llu, NtQueryDirectoryFile %llu)\n",
              static_cast<unsigned long long>(expected.entries), static_cast<unsigned long long>(queried.entries),
              static_cast<unsigned long long>(expected.bytes), static_cast<unsigned long long>(queried.bytes));

  std::vector<double> read_ahead_seconds;
  std::vector<double> one_at_a_time_seconds;
  std::vector<double> walk_seconds;
  std::vector<double> query_seconds;
  std::vector<double> split_seconds;
  for (int repetition = 0; repetition < repetitions; ++repetition) {
    const ScanOutcome read_ahead = TimedScan(mapping.Letter(), pel_mora::ScanListing::kReadAhead);
    const ScanOutcome one_at_a_time = TimedScan(mapping.Letter(), pel_mora::ScanListing::kOneFolderAtATime);
    if (!CheckScan(read_ahead, expected.entries, "read-ahead") ||
        !CheckScan(one_at_a_time, expected.entries, "one-folder-at-a-time")) {
      return 1;
    }
    auto start = Clock::now();
    WalkCount walked;
    BareWalk(root, 0, walked);
    const double walk = std::chrono::duration<double>(Clock::now() - start).count();
    start = Clock::now();
    WalkCount query_walked;
    NtQueryWalk(query, root, 0, buffer, query_walked);
    const double query_walk = std::chrono::duration<double>(Clock::now() - start).count();
    const double split_walk = SplitQueryWalkSeconds(query, root, 2);
    if (walked.entries != expected.entries) {
      std::fprintf(stderr, "walk gave %llu entries\n", static_cast<unsigned long long>(walked.entries));
      return 1;
    }
    std::printf("run %d: scan %.3f s, scan one folder at a time %.3f s, bare walk %.3f s, "
                "NtQueryDirectoryFile walk %.3f s, the same on 2 threads %.3f s\n",
                repetition + 1, read_ahead.seconds, one_at_a_time.seconds, walk, query_walk, split_walk);
    split_seconds.push_back(split_walk);
    read_ahead_seconds.push_back(read_ahead.seconds);
    one_at_a_time_seconds.push_back(one_at_a_time.seconds);
    walk_seconds.push_back(walk);
    query_seconds.push_back(query_walk);
  }

  const double entries = static_cast<double>(expected.entries);
  const auto report = [&](const char* what, const std::vector<double>& seconds) {
    const double median = Median(seconds);
    std::printf("%s (median of %d): %.3f s, %.0f entries/s\n", what, repetitions, median, entries / median);
    return median;
  };
  const double read_ahead = report("scan", read_ahead_seconds);
  const double one_at_a_time = report("scan one folder at a time", one_at_a_time_seconds);
  const double walk = report("bare walk", walk_seconds);
  const double query_walk = report("NtQueryDirectoryFile walk", query_seconds);
  const double split_walk = report("NtQueryDirectoryFile walk on 2 threads", split_seconds);
  std::printf("ratio scan / bare walk: %.2f\n", read_ahead / walk);
  std::printf("ratio scan / scan one folder at a time: %.2f\n", read_ahead / one_at_a_time);
  std::printf("ratio scan one folder at a time / bare walk: %.2f\n", one_at_a_time / walk);
  std::printf("ratio NtQueryDirectoryFile walk / bare walk: %.2f\n", query_walk / walk);
  std::printf("ratio NtQueryDirectoryFile walk on 2 threads / on 1 thread: %.2f\n", split_walk / query_walk);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "scan_bench: %s\n", error.what());
    return 1;
  }
}
