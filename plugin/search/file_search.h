#pragma once

// The parallel file search behind "searchFiles": a coordinator on the request's worker thread
// and 2 to 8 search threads sharing one queue of folders.

#include <functional>
#include <string_view>

#include "plugin/operations.h"
#include "plugin/worker_reply.h"

namespace pel_mora {

// Points where a test can stand in for the system. Both run only when set, and either may
// throw to play a failure.
struct SearchHooks {
  // Runs on a search thread just before it lists `folder` (the folder as it will be listed,
  // ending in a separator).
  std::function<void(std::wstring_view folder)> before_listing_folder;
  // Runs on the coordinator just before it starts search thread `thread_number` (from 0).
  std::function<void(int thread_number)> before_starting_thread;
};

// How many search threads a search starts: the processor count the runtime reports, kept
// between 2 and 8 (a report of 0 gives 2).
int SearchThreadCount();

// Searches below `parameters.root_path` and returns the list of matches, or the error
// "SEARCH_ERROR" / "Search failed." when any search thread failed or could not be started; the
// other threads are then stopped and waited for, so the request is answered once. A cancel
// ("cancelSearch") ends the search early with the matches found so far.
WorkerReply SearchFiles(const SearchParameters& parameters, const SearchHooks& hooks = {});

}  // namespace pel_mora
