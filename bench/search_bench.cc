// Measures the file search against a bare shared-queue walk of the same tree.
//
// Usage: search_bench UNIX_FOLDER [REPETITIONS] [QUERY]
// The folder (the generated tree of scripts/bench-scan.sh) gets a drive letter of the Wine
// prefix. Each repetition times (a) SearchFiles with the query and a limit no tree reaches, and
// (b) a bare walk with the same number of threads sharing one folder queue, the same listing
// calls and the same name test (every word in the lower-cased name), that only collects the
// matching paths. Both must find the same files; the medians show what the search's own
// bookkeeping (exclusions, result records, the reply) costs over the listing.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugin/find_handle.h"
#include "plugin/search/file_search.h"
#include "plugin/search/search_criteria.h"
#include "plugin/string_conversion.h"
#include "tests/support/fixture_drive.h"

namespace {

using Clock = std::chrono::steady_clock;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// The plain parallel walk: a FIFO of folders under one mutex, threads that take a folder, list
// it, test each file's lower-cased name against every word, and queue the subfolders they found.
class BareSharedQueueWalk {
 public:
  BareSharedQueueWalk(std::wstring root, std::vector<std::wstring> words) : words_(std::move(words)) {
    pending_.push_back(std::move(root));
  }

  std::vector<std::wstring> Run(int thread_count) {
    std::vector<std::thread> threads;
    for (int index = 0; index < thread_count; ++index) {
      threads.emplace_back([this] { Work(); });
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
    return std::move(matches_);
  }

 private:
  void Work() {
    std::vector<std::wstring> subfolders;
    std::wstring lower;
    for (;;) {
      std::wstring folder;
      {
        std::unique_lock lock(queue_mutex_);
        queue_cv_.wait(lock, [this] { return !pending_.empty() || active_ == 0; });
        if (pending_.empty()) {
          queue_cv_.notify_all();
          return;
        }
        folder = std::move(pending_.front());
        pending_.pop_front();
        ++active_;
      }
      if (folder.back() != L'\\') {
        folder += L'\\';
      }
      WIN32_FIND_DATAW item;
      const pel_mora::FindHandle listing(FindFirstFileExW((folder + L'*').c_str(), FindExInfoBasic, &item,
                                                          FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
      if (listing.IsValid()) {
        do {
          const wchar_t* name = item.cFileName;
          if (name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'))) {
            continue;
          }
          if ((item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if ((item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
              subfolders.push_back(folder + name);
            }
            continue;
          }
          pel_mora::ToLowerWide(name, lower);
          bool matches = true;
          for (const std::wstring& word : words_) {
            matches = matches && lower.find(word) != std::wstring::npos;
          }
          if (matches) {
            std::lock_guard lock(results_mutex_);
            matches_.push_back(folder + name);
          }
        } while (FindNextFileW(listing.Get(), &item));
      }
      {
        std::lock_guard lock(queue_mutex_);
        for (std::wstring& subfolder : subfolders) {
          pending_.push_back(std::move(subfolder));
        }
        --active_;
      }
      queue_cv_.notify_all();
      subfolders.clear();
    }
  }

  const std::vector<std::wstring> words_;
  std::mutex queue_mutex_;
  std::condition_variable queue_cv_;
  std::deque<std::wstring> pending_;
  int active_ = 0;
  std::mutex results_mutex_;
  std::vector<std::wstring> matches_;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::vector<std::wstring> SortedPaths(const EncodableList& list) {
  std::vector<std::wstring> paths;
  paths.reserve(list.size());
  for (const EncodableValue& entry : list) {
    paths.push_back(pel_mora::Utf8ToWide(std::get<std::string>(std::get<EncodableMap>(entry).at(EncodableValue("path")))));
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

int Run(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: search_bench UNIX_FOLDER [REPETITIONS] [QUERY]\n");
    return 2;
  }
  const int repetitions = argc > 2 ? std::max(1, _wtoi(argv[2])) : 5;
  const std::wstring query = argc > 3 ? argv[3] : L"Summer 08";
  const pel_mora::test_support::DriveLetterMapping mapping(argv[1]);
  const std::wstring root = mapping.Root();
  const int thread_count = pel_mora::SearchThreadCount();
  std::printf("tree %s mapped to %s, query \"%s\", %d threads\n", pel_mora::WideToUtf8(argv[1]).c_str(),
              pel_mora::WideToUtf8(root).c_str(), pel_mora::WideToUtf8(query).c_str(), thread_count);

  pel_mora::SearchParameters parameters;
  parameters.root_path = root;
  parameters.query = query;
  parameters.max_results = 0x7FFFFFFF;

  // One walk first, so every measured run finds the tree in the caches.
  std::vector<std::wstring> expected = BareSharedQueueWalk(root, pel_mora::ParseQueryTokens(query)).Run(thread_count);
  std::sort(expected.begin(), expected.end());
  std::vector<double> search_seconds;
  std::vector<double> walk_seconds;
  for (int repetition = 0; repetition < repetitions; ++repetition) {
    const auto search_start = Clock::now();
    const pel_mora::WorkerReply reply = pel_mora::SearchFiles(parameters);
    const double search = std::chrono::duration<double>(Clock::now() - search_start).count();
    const auto* value = std::get_if<EncodableValue>(&reply);
    if (value == nullptr || SortedPaths(std::get<EncodableList>(*value)) != expected) {
      std::fprintf(stderr, "the search did not find the files the bare walk found (%zu)\n", expected.size());
      return 1;
    }

    const auto walk_start = Clock::now();
    std::vector<std::wstring> walked = BareSharedQueueWalk(root, pel_mora::ParseQueryTokens(query)).Run(thread_count);
    const double walk = std::chrono::duration<double>(Clock::now() - walk_start).count();
    std::sort(walked.begin(), walked.end());
    if (walked != expected) {
      std::fprintf(stderr, "the bare walk found %zu files, then %zu\n", expected.size(), walked.size());
      return 1;
    }
    std::printf("run %d: search %.3f s, bare shared-queue walk %.3f s\n", repetition + 1, search, walk);
    search_seconds.push_back(search);
    walk_seconds.push_back(walk);
  }

  const double search = Median(search_seconds);
  const double walk = Median(walk_seconds);
  std::printf("matches: %zu\n", expected.size());
  std::printf("search (median of %d): %.3f s\n", repetitions, search);
  std::printf("bare shared-queue walk (median of %d): %.3f s\n", repetitions, walk);
  std::printf("ratio search / bare walk: %.2f\n", search / walk);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "search_bench: %s\n", error.what());
    return 1;
  }
}
