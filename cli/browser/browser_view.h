#pragma once

// What the browser shows and how it answers keys, free of any terminal: the screen is rendered
// as lines of text, and keys that need the host (recycle, reveal) come back as requests that the
// command carries out and answers with RecycleFinished or a status text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/browser/scan_tree.h"

namespace pel_mora::cli {

enum class BrowserKey {
  kUp, kDown, kPageUp, kPageDown, kHome, kEnd,
  kOpen,          // Enter, Right
  kBack,          // Left, Backspace
  kSort,          // s
  kLargestFiles,  // f
  kRecycle,       // d
  kReveal,        // o
  kHelp,          // ?
  kQuit,          // q
  kYes,           // y, in the recycle question
  kOther,
};

struct BrowserRequest {
  enum class Kind { kNone, kRecycle, kReveal, kQuit };
  Kind kind = Kind::kNone;
  std::string path;
  // Whether the item was listed as a folder, so that what is at the path now can be compared.
  bool is_directory = false;
};

enum class RecycleOutcome {
  kRecycled,  // the host counted one success
  kRefused,   // the host counted one failure: protected, a drive root, in use or missing
  kFailed,    // an error reply or no usable reply
  kMissing,   // the client found nothing at the path any more, so the host was not asked
};

// Where the sizes on the screen come from: a scan running now, or a scan saved earlier, whose
// items may have changed or gone since (questions and answers then say the size was the saved
// one).
enum class ScanOrigin { kLive, kSaved };

struct ScreenLine {
  std::string text;
  enum class Style { kNormal, kBar, kSelected } style = Style::kNormal;
};

class BrowserView {
 public:
  explicit BrowserView(ScanTree& tree, ScanOrigin origin = ScanOrigin::kLive);

  BrowserRequest HandleKey(BrowserKey key);

  // The answer to a recycle request for `path`; `detail` is the host's error for kFailed. Only
  // kRecycled takes the item out of the tree and the totals.
  void RecycleFinished(const std::string& path, RecycleOutcome outcome, const std::string& detail);
  // A line of news on the status line (a reveal asked for, a failure).
  void SetStatus(std::string text) { status_ = std::move(text); }

  // The whole screen, `height` lines of at most `width` characters.
  std::vector<ScreenLine> Render(size_t width, size_t height) const;

  // The folder shown (its path) and the item under the cursor, for tests and the command.
  const std::string& folder_path() const { return folder_path_; }
  const BrowserNode* Selected() const;
  bool showing_largest_files() const { return mode_ == Mode::kLargestFiles; }

 private:
  enum class Mode { kFolder, kLargestFiles, kHelp, kConfirmRecycle };

  const BrowserNode* Folder() const;
  std::vector<const BrowserNode*> Items() const;
  void Move(std::ptrdiff_t delta);

  // The size of `node` as questions and answers name it.
  std::string SizeText(const BrowserNode& node) const;

  ScanTree& tree_;
  ScanOrigin origin_;
  Mode mode_ = Mode::kFolder;
  Mode confirm_return_ = Mode::kFolder;
  std::string folder_path_;
  SortOrder order_ = SortOrder::kSize;
  // The selected item, by path so that it stays put while items arrive and reorder.
  std::string selected_path_;
  size_t selected_index_ = 0;
  std::string pending_recycle_;
  bool pending_recycle_is_directory_ = false;
  std::string status_;
  // The rows the last render showed, so that page keys move by a page.
  mutable size_t page_rows_ = 18;
};

}  // namespace pel_mora::cli
