#include "plugin/search/file_search.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "channel/encodable_value.h"
#include "plugin/file_search_cancel.h"
#include "plugin/find_handle.h"
#include "plugin/path_normalization.h"
#include "plugin/search/search_criteria.h"
#include "plugin/string_conversion.h"

namespace pel_mora {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

constexpr size_t kSubfolderCapacity = 64;

// One kept match of a largest-files search. The path is kept beside the entry so that equal
// sizes can be put in a reproducible order at the end.
struct LargestMatch {
  int64_t size_bytes;
  std::string path;
  EncodableMap entry;
};

struct SmallestOnTop {
  bool operator()(const LargestMatch& left, const LargestMatch& right) const {
    return left.size_bytes > right.size_bytes;
  }
};

// A folder found by a search thread: the path as composed, and its key in `visited_dirs` (the
// normalised path in its own letter case: "Dir" and "dir" are two folders where the file system
// tells case).
struct FoundFolder {
  std::wstring path;
  std::wstring key;
};

// The state one search shares between its coordinator and its threads. The coordinator owns it
// and outlives the threads.
struct SearchContext {
  SearchContext(const SearchParameters& parameters, const SearchHooks& search_hooks)
      : criteria(parameters.query, parameters.extension, parameters.min_size, parameters.max_size),
        largest_mode(criteria.IsLargestFilesMode()),
        max_results(EffectiveResultLimit(parameters.max_results)),
        hooks(search_hooks) {}

  // Guards `pending_dirs` and `visited_dirs`; `active_workers` changes only while it is held.
  std::mutex queue_mutex;
  std::condition_variable queue_cv;
  std::deque<std::wstring> pending_dirs;
  std::unordered_set<std::wstring> visited_dirs;
  std::atomic<int32_t> active_workers{0};
  // Raised when the result limit is reached, or when a thread failed.
  std::atomic<bool> stop{false};
  std::atomic<bool> failed{false};

  const SearchCriteria criteria;
  const bool largest_mode;
  const int32_t max_results;

  // Guards `seen_paths`, `largest` and `results`.
  std::mutex results_mutex;
  std::unordered_set<std::wstring> seen_paths;
  std::priority_queue<LargestMatch, std::vector<LargestMatch>, SmallestOnTop> largest;
  EncodableList results;
  // In largest-files mode, once `largest` is full: the size on its top. It only grows, so a
  // thread reading an old value without the lock only skips files that would be dropped anyway,
  // and no entry is built for them.
  std::atomic<int64_t> largest_admission_floor{std::numeric_limits<int64_t>::min()};

  const SearchHooks& hooks;
};

bool ShouldStop(const SearchContext& context) {
  return context.stop.load(std::memory_order_relaxed) || g_search_cancel_requested.load(std::memory_order_relaxed);
}

// Stops every thread of the search and marks it failed. Taking the queue lock before the
// notification makes sure no thread is between its wait test and its wait when the flag rises.
void RaiseFailure(SearchContext& context) {
  {
    std::lock_guard lock(context.queue_mutex);
    context.failed.store(true);
    context.stop.store(true);
  }
  context.queue_cv.notify_all();
}

int64_t FileSize(const WIN32_FIND_DATAW& data) {
  return static_cast<int64_t>(FoundFileSize(data));
}

EncodableMap ResultEntry(const std::wstring& path, std::wstring_view name, const WIN32_FIND_DATAW& data) {
  return EncodableMap{
      {EncodableValue("path"), EncodableValue(WideToUtf8(path))},
      {EncodableValue("name"), EncodableValue(WideToUtf8(name))},
      {EncodableValue("extension"), EncodableValue(WideToUtf8(FileExtensionOf(name)))},
      {EncodableValue("sizeBytes"), EncodableValue(FileSize(data))},
      {EncodableValue("modifiedTime"), EncodableValue(LastWriteUnixSeconds(data))},
      {EncodableValue("isDirectory"), EncodableValue(false)},
  };
}

void RecordMatch(SearchContext& context, const std::wstring& folder, std::wstring_view name,
                 const WIN32_FIND_DATAW& data) {
  const int64_t size_bytes = FileSize(data);
  if (context.largest_mode && size_bytes <= context.largest_admission_floor.load(std::memory_order_relaxed)) {
    return;
  }
  std::wstring full = folder;
  full.append(name);
  const std::wstring path = NormalizePath(full);
  EncodableMap entry = ResultEntry(path, name, data);

  std::lock_guard lock(context.results_mutex);
  // Repeats are told by the exact path: names that differ only in case are distinct files in a
  // case-sensitive folder (per-folder case sensitivity, WSL, and every folder under Wine).
  if (!context.seen_paths.insert(path).second) {
    return;
  }
  if (!context.largest_mode) {
    context.results.emplace_back(std::move(entry));
    if (context.results.size() >= static_cast<size_t>(context.max_results)) {
      context.stop.store(true);
    }
    return;
  }
  auto& largest = context.largest;
  if (largest.size() < static_cast<size_t>(context.max_results)) {
    largest.push(LargestMatch{size_bytes, WideToUtf8(path), std::move(entry)});
  } else if (size_bytes > largest.top().size_bytes) {
    largest.pop();
    largest.push(LargestMatch{size_bytes, WideToUtf8(path), std::move(entry)});
  } else {
    return;
  }
  if (largest.size() == static_cast<size_t>(context.max_results)) {
    context.largest_admission_floor.store(largest.top().size_bytes, std::memory_order_relaxed);
  }
}

// Lists one folder: files are tested and recorded, folders to enter are added to `subfolders`.
// `lower_case_buffer` is this thread's scratch space for the name tests.
void ListFolder(SearchContext& context, std::wstring folder, std::vector<FoundFolder>& subfolders,
                std::wstring& lower_case_buffer) {
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') {
    folder += L'\\';
  }
  if (context.hooks.before_listing_folder) {
    context.hooks.before_listing_folder(folder);
  }
  const std::wstring pattern = folder + L'*';
  WIN32_FIND_DATAW data;
  // Basic information skips the short 8.3 name, and a large fetch asks the file system for many
  // entries per call: both cut the cost of a folder of many small files.
  const FindHandle find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                         FIND_FIRST_EX_LARGE_FETCH));
  if (!find.IsValid()) {
    return;
  }
  do {
    if (ShouldStop(context)) {
      break;
    }
    if (IsDotOrDotDot(data.cFileName)) {
      continue;
    }
    const std::wstring_view name(data.cFileName);
    if (IsExcludedEntryName(name)) {
      continue;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      // Junctions and links to folders are not entered: they can lead out of the tree or round
      // in a circle.
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        std::wstring full = folder;
        full.append(name);
        std::wstring key = NormalizePath(full);
        ToLowerWide(key, lower_case_buffer);
        if (!IsExcludedSystemPath(lower_case_buffer)) {
          subfolders.push_back(FoundFolder{std::move(full), std::move(key)});
        }
      }
      continue;
    }
    if (context.criteria.Matches(name, FileSize(data), lower_case_buffer)) {
      RecordMatch(context, folder, name, data);
    }
  } while (FindNextFileW(find.Get(), &data));
}

// The body of each search thread: takes folders from the shared queue until the queue is empty
// and no thread is still listing one (a listing thread may queue more), or until the search
// stops. Nothing escapes: a failure stops the whole search and marks it failed.
void SearchWorker(SearchContext& context) noexcept {
  bool holds_a_folder = false;
  try {
    std::vector<FoundFolder> subfolders;
    subfolders.reserve(kSubfolderCapacity);
    std::wstring lower_case_buffer;
    for (;;) {
      std::wstring folder;
      {
        std::unique_lock lock(context.queue_mutex);
        context.queue_cv.wait(lock, [&context] {
          return !context.pending_dirs.empty() || context.active_workers.load() == 0 || ShouldStop(context);
        });
        if (ShouldStop(context) || context.pending_dirs.empty()) {
          lock.unlock();
          context.queue_cv.notify_all();
          return;
        }
        folder = std::move(context.pending_dirs.front());
        context.pending_dirs.pop_front();
        context.active_workers.fetch_add(1);
        holds_a_folder = true;
      }

      ListFolder(context, std::move(folder), subfolders, lower_case_buffer);

      {
        std::lock_guard lock(context.queue_mutex);
        for (FoundFolder& found : subfolders) {
          if (context.visited_dirs.insert(std::move(found.key)).second) {
            context.pending_dirs.push_back(std::move(found.path));
          }
        }
        context.active_workers.fetch_sub(1);
        holds_a_folder = false;
      }
      context.queue_cv.notify_all();
      subfolders.clear();
    }
  } catch (...) {
    if (holds_a_folder) {
      std::lock_guard lock(context.queue_mutex);
      context.active_workers.fetch_sub(1);
    }
    RaiseFailure(context);
  }
}

EncodableList LargestFirst(SearchContext& context) {
  std::vector<LargestMatch> matches;
  matches.reserve(context.largest.size());
  while (!context.largest.empty()) {
    // The top is const only to keep the heap in order; it is popped at once.
    matches.push_back(std::move(const_cast<LargestMatch&>(context.largest.top())));
    context.largest.pop();
  }
  // Equal sizes go by path, so the same tree always gives the same list.
  std::sort(matches.begin(), matches.end(), [](const LargestMatch& left, const LargestMatch& right) {
    return left.size_bytes != right.size_bytes ? left.size_bytes > right.size_bytes : left.path < right.path;
  });
  EncodableList list;
  list.reserve(matches.size());
  for (LargestMatch& match : matches) {
    list.emplace_back(std::move(match.entry));
  }
  return list;
}

}  // namespace

int SearchThreadCount() {
  const unsigned reported = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(reported, 2u, 8u));
}

WorkerReply SearchFiles(const SearchParameters& parameters, const SearchHooks& hooks) {
  g_search_cancel_requested.store(false);
  SearchContext context(parameters, hooks);
  const std::wstring root = SearchRootFolder(parameters.root_path);
  context.visited_dirs.insert(NormalizePath(root));
  context.pending_dirs.push_back(root);

  const int thread_count = SearchThreadCount();
  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(thread_count));
  try {
    for (int thread_number = 0; thread_number < thread_count; ++thread_number) {
      if (hooks.before_starting_thread) {
        hooks.before_starting_thread(thread_number);
      }
      threads.emplace_back(SearchWorker, std::ref(context));
    }
  } catch (...) {
    // A thread that cannot be started fails the search like one that fails while running; the
    // threads already running see the stop and end, and are joined below.
    RaiseFailure(context);
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  if (context.failed.load()) {
    return WorkerError{"SEARCH_ERROR", "Search failed."};
  }
  return EncodableValue(context.largest_mode ? LargestFirst(context) : std::move(context.results));
}

}  // namespace pel_mora
