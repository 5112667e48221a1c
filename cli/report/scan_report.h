#pragma once

// The scan report: an HTML page a person opens in a browser to see where the space of a drive
// went. It is built from the same scan events as the summary: a squarified treemap of the whole
// drive (coloured by kind of file, with drill-down into folders), the largest folders and files,
// a table of extensions, the totals, the duration and the time of the scan. The page is one file
// with its style and script inside, so it opens anywhere without a network.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "channel/encodable_value.h"
#include "cli/report/treemap_layout.h"

namespace pel_mora::cli {

// The kinds of file the treemap colours alike, as disk-usage tools do.
enum class ExtensionGroup { kArchive, kImage, kVideo, kAudio, kDocument, kCode, kExecutable, kOther };

// The group of a lower-case extension without its dot ("jpg", "tar", "" for none).
ExtensionGroup ExtensionGroupOf(std::string_view extension);
const char* ExtensionGroupName(ExtensionGroup group);

// The treemap as laid out for the report, in pixels of the report's drawing area.
enum class TileKind {
  kFolder,          // a folder drawn with its contents inside
  kClosedFolder,    // a folder too small to show its contents
  kFile,
  kSmallerItems,    // the items of one folder too small to draw, as one block
};

struct Tile {
  TileKind kind = TileKind::kFile;
  LayoutRect rect;
  std::string name;  // the folder or file name; for kSmallerItems, "N smaller items"
  std::string path;  // the full path; for kSmallerItems, the folder's path
  uint64_t bytes = 0;
  uint64_t item_count = 1;  // for kSmallerItems, how many items the block stands for
  ExtensionGroup group = ExtensionGroup::kOther;
  // Folders only: the files and folders below it, for the header of the page drilled into it.
  uint64_t file_count = 0;
  uint64_t folder_count = 0;
  // The name and size are drawn on the tile (for an open folder, the size beside the name in its
  // strip): only where both fit legibly at the drawing area's scale.
  bool labelled = false;
  // The page holds a full-size layout of this folder, shown when the user drills into it.
  bool has_layout = false;
  std::vector<Tile> children;
};

struct ReportOptions {
  // The drawing area of the treemap; the page scales it to the window.
  double width = 1280;
  double height = 720;
  // Items whose area would be smaller than this (in square pixels of the drawing area) join
  // their folder's "N smaller items" block, so that a drive of millions of files still gives a
  // page that opens at once.
  double minimum_tile_area = 30;
  // A folder the user drills into is laid out again in the whole drawing area, so its contents get
  // the room of the screen and their own small-item threshold. The page holds such layouts for
  // the largest folders first (a folder only where its parent has one), as long as their tiles
  // together stay within this budget; a folder beyond it is shown by enlarging its tile.
  size_t drilled_tile_budget = 20000;
  size_t largest_count = 20;
  size_t extension_rows = 100;
};

// Collects the tree of one scan from its events. Only the first scan seen is taken: events
// before its "started" and after its "completed" or "cancelled" change nothing.
class ScanReport {
 public:
  ScanReport();
  ~ScanReport();
  ScanReport(const ScanReport&) = delete;
  ScanReport& operator=(const ScanReport&) = delete;

  // Takes one scan event (the map inside a success envelope); `now` is when it arrived, kept for
  // the "started" event as the time of the scan.
  void Add(const flutter::EncodableValue& event, std::chrono::system_clock::time_point now);

  bool started() const { return started_; }
  bool completed() const { return completed_; }
  bool cancelled() const { return cancelled_; }

  // The treemap of the drive's root, laid out in options.width × options.height.
  Tile Layout(const ReportOptions& options) const;

  // Every layout the page holds: the drive's first, then the full-size layouts of the folders
  // the user can drill into, largest first, within options.drilled_tile_budget tiles. A folder
  // tile whose folder has a layout of its own is marked `has_layout`.
  std::vector<Tile> Layouts(const ReportOptions& options) const;

  // The whole page.
  std::string RenderHtml(const ReportOptions& options) const;

 private:
  struct Node;
  Tile LayoutFolder(const Node& folder, const ReportOptions& options) const;
  Node* FolderNode(const std::string& path);
  void AddEntry(const flutter::EncodableMap& entry);

  bool started_ = false;
  bool completed_ = false;
  bool cancelled_ = false;
  std::string root_path_;
  std::chrono::system_clock::time_point started_at_;
  std::optional<int64_t> duration_ms_;
  uint64_t reported_files_ = 0;
  uint64_t reported_folders_ = 0;
  uint64_t reported_bytes_ = 0;
  uint64_t unreadable_folders_ = 0;
  std::unique_ptr<Node> root_;
  // Folders by full path, for attaching entries to their parents as they arrive (a folder's
  // own entry comes after its contents).
  std::unordered_map<std::string, Node*> folders_;
};

}  // namespace pel_mora::cli
