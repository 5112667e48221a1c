#pragma once

#include <atomic>

namespace pel_mora {

// Raised by "cancelSearch" on the platform thread, cleared by every new search and read by every
// search thread, without a lock. Process-wide rather than a plugin member, so one cancel stops
// all searches that are running.
inline std::atomic<bool> g_search_cancel_requested{false};

}  // namespace pel_mora
