// Measures the streaming drive scan against a bare walk of the same tree.
//
// Usage: scan_bench UNIX_FOLDER [REPETITIONS]
// The folder (a tree of many files, see scripts/bench-scan.sh) gets a drive letter of the Wine
// prefix. Each repetition times (a) a DriveScanner scan from Start to its final event, with a
// callback that only counts, and (b) a walk with the same listing calls that only counts
// entries. The medians show what building and batching the entries costs over the listing.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "plugin/drives/drive_scanner.h"
#include "plugin/find_handle.h"
#include "plugin/string_conversion.h"
#include "tests/support/fixture_drive.h"

namespace {

using Clock = std::chrono::steady_clock;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

constexpr int kMaximumDepth = 64;

// The walk of the scanner without its records: same listing calls, same depth bound and the
// same items skipped; counts files and folders.
uint64_t BareWalk(const std::wstring& path, int depth) {
  if (depth > kMaximumDepth) {
    return 0;
  }
  std::wstring prefix = path;
  if (prefix.back() != L'\\') {
    prefix += L'\\';
  }
  WIN32_FIND_DATAW item;
  const pel_mora::FindHandle listing(FindFirstFileExW((prefix + L'*').c_str(), FindExInfoBasic, &item,
                                                      FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!listing.IsValid()) {
    return 0;
  }
  uint64_t entries = 0;
  do {
    const wchar_t* name = item.cFileName;
    if ((name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'))) ||
        (item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      continue;
    }
    ++entries;
    if ((item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      entries += BareWalk(prefix + name, depth + 1);
    }
  } while (FindNextFileW(listing.Get(), &item));
  return entries;
}

struct ScanOutcome {
  double seconds = 0;
  uint64_t entries = 0;
  bool completed = false;
};

ScanOutcome TimedScan(wchar_t letter) {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  ScanOutcome outcome;
  const EncodableValue entries_key("entries");
  const EncodableValue type_key("type");
  pel_mora::DriveScanner scanner([&](const EncodableValue& event) {
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
  });
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

int Run(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: scan_bench UNIX_FOLDER [REPETITIONS]\n");
    return 2;
  }
  const int repetitions = argc > 2 ? std::max(1, _wtoi(argv[2])) : 5;
  const pel_mora::test_support::DriveLetterMapping mapping(argv[1]);
  const std::wstring root = mapping.Root();
  std::printf("tree %s mapped to %s\n", pel_mora::WideToUtf8(argv[1]).c_str(), pel_mora::WideToUtf8(root).c_str());

  // One walk first, so every measured run finds the tree in the caches.
  const uint64_t expected_entries = BareWalk(root, 0);
  std::vector<double> scan_seconds;
  std::vector<double> walk_seconds;
  for (int repetition = 0; repetition < repetitions; ++repetition) {
    const ScanOutcome scan = TimedScan(mapping.Letter());
    if (!scan.completed || scan.entries != expected_entries) {
      std::fprintf(stderr, "scan gave %llu entries (expected %llu), completed %d\n",
                   static_cast<unsigned long long>(scan.entries), static_cast<unsigned long long>(expected_entries),
                   scan.completed ? 1 : 0);
      return 1;
    }
    const auto walk_start = Clock::now();
    const uint64_t walked = BareWalk(root, 0);
    const double walk = std::chrono::duration<double>(Clock::now() - walk_start).count();
    if (walked != expected_entries) {
      std::fprintf(stderr, "walk gave %llu entries\n", static_cast<unsigned long long>(walked));
      return 1;
    }
    std::printf("run %d: scan %.3f s, bare walk %.3f s\n", repetition + 1, scan.seconds, walk);
    scan_seconds.push_back(scan.seconds);
    walk_seconds.push_back(walk);
  }

  const double scan = Median(scan_seconds);
  const double walk = Median(walk_seconds);
  const double entries = static_cast<double>(expected_entries);
  std::printf("entries: %llu\n", static_cast<unsigned long long>(expected_entries));
  std::printf("scan (median of %d): %.3f s, %.0f entries/s\n", repetitions, scan, entries / scan);
  std::printf("bare walk (median of %d): %.3f s, %.0f entries/s\n", repetitions, walk, entries / walk);
  std::printf("ratio scan / bare walk: %.2f\n", scan / walk);
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
