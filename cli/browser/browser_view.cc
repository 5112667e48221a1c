#include "cli/browser/browser_view.h"

#include <algorithm>
#include <cstdio>

#include "cli/common/human_readable.h"

namespace pel_mora::cli {

namespace {

constexpr size_t kLargestFileCount = 100;
constexpr size_t kBarWidth = 12;
constexpr char kKeysLine[] = "Enter open  Left up  s sort  f files  d recycle  o show  ? keys  q quit";

// Cuts `text` to `width` characters (UTF-8 sequences count as one and are never split) and pads
// it with spaces to that width.
std::string Fit(const std::string& text, size_t width) {
  std::string out;
  size_t shown = 0;
  for (size_t index = 0; index < text.size(); ++index) {
    const auto byte = static_cast<unsigned char>(text[index]);
    const bool continuation = (byte & 0xC0) == 0x80;
    if (!continuation) {
      if (shown == width) {
        break;
      }
      ++shown;
    }
    out.push_back(text[index]);
  }
  out.append(width - shown, ' ');
  return out;
}

std::string RightAligned(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Bar(uint64_t part, uint64_t whole) {
  const size_t filled = whole == 0 ? 0
                                   : static_cast<size_t>((static_cast<double>(part) / static_cast<double>(whole)) *
                                                             kBarWidth + 0.5);
  // Built by appending: GCC 12 at -O3 warns of a false overlap in a chain of +.
  std::string bar = "[";
  bar.append(std::min(filled, kBarWidth), '#');
  bar.append(kBarWidth - std::min(filled, kBarWidth), ' ');
  bar.push_back(']');
  return bar;
}

std::string Share(uint64_t part, uint64_t whole) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%5.1f%%",
                whole == 0 ? 0.0 : static_cast<double>(part) * 100.0 / static_cast<double>(whole));
  return buffer;
}

std::string StateText(ScanState state) {
  switch (state) {
    case ScanState::kWaiting: return "waiting for the scan";
    case ScanState::kRunning: return "scanning...";
    case ScanState::kCompleted: return "scan complete";
    case ScanState::kCancelled: return "scan cancelled (partial)";
  }
  return "";
}

// The path of `node` below `folder`, for the largest-files list.
std::string RelativePath(const BrowserNode& node, const std::string& folder) {
  if (node.path.size() > folder.size() && node.path.compare(0, folder.size(), folder) == 0) {
    const size_t skip = folder.back() == '\\' ? folder.size() : folder.size() + 1;
    return node.path.substr(skip);
  }
  return node.path;
}

}  // namespace

BrowserView::BrowserView(ScanTree& tree, ScanOrigin origin) : tree_(tree), origin_(origin) {}

std::string BrowserView::SizeText(const BrowserNode& node) const {
  return FormatSize(node.bytes) + (origin_ == ScanOrigin::kSaved ? " when saved" : "");
}

const BrowserNode* BrowserView::Folder() const {
  if (tree_.root() == nullptr) {
    return nullptr;
  }
  const BrowserNode* folder = folder_path_.empty() ? nullptr : tree_.Find(folder_path_);
  return folder != nullptr && folder->is_directory ? folder : tree_.root();
}

std::vector<const BrowserNode*> BrowserView::Items() const {
  const BrowserNode* folder = Folder();
  if (folder == nullptr) {
    return {};
  }
  const bool files = mode_ == Mode::kLargestFiles ||
                     (mode_ == Mode::kConfirmRecycle && confirm_return_ == Mode::kLargestFiles);
  return files ? tree_.LargestFiles(*folder, kLargestFileCount) : tree_.SortedChildren(*folder, order_);
}

const BrowserNode* BrowserView::Selected() const {
  const std::vector<const BrowserNode*> items = Items();
  if (items.empty()) {
    return nullptr;
  }
  for (const BrowserNode* item : items) {
    if (item->path == selected_path_) {
      return item;
    }
  }
  return items[std::min(selected_index_, items.size() - 1)];
}

void BrowserView::Move(std::ptrdiff_t delta) {
  const std::vector<const BrowserNode*> items = Items();
  if (items.empty()) {
    return;
  }
  const BrowserNode* selected = Selected();
  const auto position = std::find(items.begin(), items.end(), selected) - items.begin();
  const std::ptrdiff_t last = static_cast<std::ptrdiff_t>(items.size()) - 1;
  const std::ptrdiff_t target = std::clamp<std::ptrdiff_t>(position + delta, 0, last);
  selected_index_ = static_cast<size_t>(target);
  selected_path_ = items[selected_index_]->path;
}

BrowserRequest BrowserView::HandleKey(BrowserKey key) {
  if (mode_ == Mode::kConfirmRecycle) {
    mode_ = confirm_return_;
    if (key == BrowserKey::kYes) {
      // What happens next (checks, a host to start, the request) is said by the command.
      return {BrowserRequest::Kind::kRecycle, pending_recycle_, pending_recycle_is_directory_};
    }
    status_ = "Nothing recycled.";
    return {};
  }
  if (mode_ == Mode::kHelp) {
    mode_ = Mode::kFolder;
    return key == BrowserKey::kQuit ? BrowserRequest{BrowserRequest::Kind::kQuit, ""} : BrowserRequest{};
  }
  const std::ptrdiff_t page = static_cast<std::ptrdiff_t>(std::max<size_t>(page_rows_, 1));
  switch (key) {
    case BrowserKey::kUp: Move(-1); break;
    case BrowserKey::kDown: Move(1); break;
    case BrowserKey::kPageUp: Move(-page); break;
    case BrowserKey::kPageDown: Move(page); break;
    case BrowserKey::kHome: Move(-PTRDIFF_MAX / 2); break;
    case BrowserKey::kEnd: Move(PTRDIFF_MAX / 2); break;
    case BrowserKey::kOpen: {
      const BrowserNode* selected = Selected();
      if (mode_ == Mode::kFolder && selected != nullptr && selected->is_directory) {
        folder_path_ = selected->path;
        selected_path_.clear();
        selected_index_ = 0;
      }
      break;
    }
    case BrowserKey::kBack: {
      if (mode_ == Mode::kLargestFiles) {
        mode_ = Mode::kFolder;
        break;
      }
      const BrowserNode* folder = Folder();
      if (folder != nullptr && folder->parent != nullptr) {
        // Back in the parent, the cursor rests on the folder just left.
        selected_path_ = folder->path;
        folder_path_ = folder->parent->path;
      }
      break;
    }
    case BrowserKey::kSort:
      order_ = NextSortOrder(order_);
      if (mode_ == Mode::kLargestFiles) {
        mode_ = Mode::kFolder;
      }
      break;
    case BrowserKey::kLargestFiles:
      mode_ = mode_ == Mode::kLargestFiles ? Mode::kFolder : Mode::kLargestFiles;
      selected_path_.clear();
      selected_index_ = 0;
      break;
    case BrowserKey::kRecycle: {
      const BrowserNode* selected = Selected();
      if (selected == nullptr) {
        break;
      }
      pending_recycle_ = selected->path;
      pending_recycle_is_directory_ = selected->is_directory;
      confirm_return_ = mode_;
      mode_ = Mode::kConfirmRecycle;
      status_ = "Recycle " + selected->path + " (" + SizeText(*selected) + ")? y/N";
      break;
    }
    case BrowserKey::kReveal: {
      const BrowserNode* selected = Selected();
      if (selected == nullptr) {
        break;
      }
      return {BrowserRequest::Kind::kReveal, selected->path, selected->is_directory};
    }
    case BrowserKey::kHelp: mode_ = Mode::kHelp; break;
    case BrowserKey::kQuit: return {BrowserRequest::Kind::kQuit, ""};
    case BrowserKey::kYes:
    case BrowserKey::kOther: break;
  }
  return {};
}

void BrowserView::RecycleFinished(const std::string& path, RecycleOutcome outcome, const std::string& detail) {
  const BrowserNode* node = tree_.Find(path);
  const std::string size = node != nullptr ? " (" + SizeText(*node) + ")" : "";
  switch (outcome) {
    case RecycleOutcome::kRecycled:
      status_ = "Recycled " + path + size + ".";
      tree_.Remove(path);
      break;
    case RecycleOutcome::kRefused:
      status_ = "Not recycled: the host refused " + path + " (protected, a drive root, in use or missing).";
      break;
    case RecycleOutcome::kFailed:
      status_ = "Recycling " + path + " failed: " + detail;
      break;
    case RecycleOutcome::kMissing:
      // Gone by other means since it was listed: this key freed nothing, so the totals stay.
      status_ = "Not recycled: " + path + " is gone (no such file or folder now).";
      break;
  }
}

std::vector<ScreenLine> BrowserView::Render(size_t width, size_t height) const {
  std::vector<ScreenLine> lines;
  const auto add = [&](const std::string& text, ScreenLine::Style style) {
    if (lines.size() < height) {
      lines.push_back({Fit(text, width), style});
    }
  };
  const ScanCounts& totals = tree_.totals();
  add(" " + (tree_.root_path().empty() ? std::string("Pelmora") : tree_.root_path()) + "  " +
          StateText(tree_.state()) + "  " + FormatSize(totals.bytes) + "  " + FormatCount(totals.files) + " files  " +
          FormatCount(totals.folders) + " folders",
      ScreenLine::Style::kBar);
  const BrowserNode* folder = Folder();
  if (mode_ == Mode::kHelp) {
    static constexpr const char* kHelp[] = {
        "Keys",
        "  Up/Down, PgUp/PgDn, Home/End   move the cursor",
        "  Enter or Right                 open the folder under the cursor",
        "  Left or Backspace              go up to the parent folder",
        "  s                              sort by size, name, item count, date",
        "  f                              the largest files below this folder",
        "  d                              recycle the item (asks first)",
        "  o                              ask Explorer to show the item",
        "  ?                              this list (any key returns)",
        "  q                              quit",
    };
    for (const char* line : kHelp) {
      add(line, ScreenLine::Style::kNormal);
    }
  } else if (folder == nullptr) {
    add("Waiting for the scan to start...", ScreenLine::Style::kNormal);
  } else {
    const bool files = mode_ == Mode::kLargestFiles ||
                       (mode_ == Mode::kConfirmRecycle && confirm_return_ == Mode::kLargestFiles);
    add(files ? " Largest files below " + folder->path
              : " " + folder->path + "  " + FormatSize(folder->bytes) + "  " + FormatCount(folder->items) +
                    " items  sorted by " + SortOrderName(order_) + (folder->readable ? "" : "  (unreadable)"),
        ScreenLine::Style::kNormal);
    const std::vector<const BrowserNode*> items = Items();
    const size_t rows = height > 4 ? height - 4 : 0;
    page_rows_ = rows;
    const BrowserNode* selected = Selected();
    const size_t selected_position =
        static_cast<size_t>(std::find(items.begin(), items.end(), selected) - items.begin());
    const size_t first = rows == 0 || selected_position < rows ? 0 : selected_position - rows + 1;
    if (items.empty()) {
      add(tree_.state() == ScanState::kRunning ? "  (nothing here yet)" : "  (empty)", ScreenLine::Style::kNormal);
    }
    for (size_t index = first; index < items.size() && index < first + rows; ++index) {
      const BrowserNode& item = *items[index];
      std::string line = RightAligned(FormatSize(item.bytes), 10) + " " + Bar(item.bytes, folder->bytes) + " " +
                         Share(item.bytes, folder->bytes) + " ";
      if (files) {
        line += RelativePath(item, folder->path);
      } else {
        line += RightAligned(item.is_directory ? FormatCount(item.items) : std::string(), 8) + "  " + item.name +
                (item.is_directory ? "\\" : "");
      }
      add(line, items[index] == selected ? ScreenLine::Style::kSelected : ScreenLine::Style::kNormal);
    }
  }
  while (lines.size() + 2 < height) {
    add("", ScreenLine::Style::kNormal);
  }
  add(" " + status_, ScreenLine::Style::kNormal);
  add(" " + std::string(kKeysLine), ScreenLine::Style::kBar);
  return lines;
}

}  // namespace pel_mora::cli
