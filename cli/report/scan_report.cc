#include "cli/report/scan_report.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <queue>
#include <unordered_set>
#include <utility>
#include <variant>

#include "cli/common/event_fields.h"
#include "cli/common/human_readable.h"

namespace pel_mora::cli {

struct ScanReport::Node {
  std::string name;
  std::string path;  // folders only; a file's path is its folder's path and its name
  std::string extension;
  bool is_directory = false;
  uint64_t bytes = 0;
  uint64_t file_count = 0;
  uint64_t folder_count = 0;  // folders below this one, at any depth
  Node* parent = nullptr;
  std::vector<std::unique_ptr<Node>> children;
};

namespace {


using flutter::EncodableMap;
using flutter::EncodableValue;

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '\\') {
    return folder + name;
  }
  return folder + "\\" + name;
}

struct GroupEntry {
  const char* extension;
  ExtensionGroup group;
};

// Sorted by extension, for a binary search. Source files of programs and build scripts count as
// code (json, xml, yaml and other configuration as well); text written for people to read,
// including its markup (md, rst, tex, pod) and translation sources (po, pot), as documents. A
// compiled translation catalogue (mo) is binary data that programs load, neither code anyone
// reads nor a document anyone opens, so it stays with "other", as compiled bytecode does.
constexpr GroupEntry kExtensionGroups[] = {
    {"7z", ExtensionGroup::kArchive},     {"aac", ExtensionGroup::kAudio},
    {"adoc", ExtensionGroup::kDocument},  {"am", ExtensionGroup::kCode},
    {"asm", ExtensionGroup::kCode},       {"avi", ExtensionGroup::kVideo},
    {"awk", ExtensionGroup::kCode},       {"azw3", ExtensionGroup::kDocument},
    {"bas", ExtensionGroup::kCode},       {"bash", ExtensionGroup::kCode},
    {"bat", ExtensionGroup::kCode},       {"bmp", ExtensionGroup::kImage},
    {"bz2", ExtensionGroup::kArchive},    {"c", ExtensionGroup::kCode},
    {"cab", ExtensionGroup::kArchive},    {"cc", ExtensionGroup::kCode},
    {"chm", ExtensionGroup::kDocument},   {"cjs", ExtensionGroup::kCode},
    {"clj", ExtensionGroup::kCode},       {"cmake", ExtensionGroup::kCode},
    {"cmd", ExtensionGroup::kCode},       {"com", ExtensionGroup::kExecutable},
    {"cpp", ExtensionGroup::kCode},       {"cs", ExtensionGroup::kCode},
    {"css", ExtensionGroup::kCode},       {"csv", ExtensionGroup::kDocument},
    {"cxx", ExtensionGroup::kCode},       {"dart", ExtensionGroup::kCode},
    {"djvu", ExtensionGroup::kDocument},  {"dll", ExtensionGroup::kExecutable},
    {"doc", ExtensionGroup::kDocument},   {"docm", ExtensionGroup::kDocument},
    {"docx", ExtensionGroup::kDocument},  {"dpr", ExtensionGroup::kCode},
    {"drv", ExtensionGroup::kExecutable}, {"el", ExtensionGroup::kCode},
    {"epub", ExtensionGroup::kDocument},  {"erl", ExtensionGroup::kCode},
    {"ex", ExtensionGroup::kCode},        {"exe", ExtensionGroup::kExecutable},
    {"exs", ExtensionGroup::kCode},       {"f90", ExtensionGroup::kCode},
    {"fish", ExtensionGroup::kCode},      {"flac", ExtensionGroup::kAudio},
    {"flv", ExtensionGroup::kVideo},      {"frag", ExtensionGroup::kCode},
    {"fs", ExtensionGroup::kCode},        {"fsx", ExtensionGroup::kCode},
    {"gif", ExtensionGroup::kImage},      {"glsl", ExtensionGroup::kCode},
    {"go", ExtensionGroup::kCode},        {"gradle", ExtensionGroup::kCode},
    {"groovy", ExtensionGroup::kCode},    {"gz", ExtensionGroup::kArchive},
    {"h", ExtensionGroup::kCode},         {"heic", ExtensionGroup::kImage},
    {"hh", ExtensionGroup::kCode},        {"hlp", ExtensionGroup::kDocument},
    {"hlsl", ExtensionGroup::kCode},      {"hpp", ExtensionGroup::kCode},
    {"hs", ExtensionGroup::kCode},        {"htm", ExtensionGroup::kDocument},
    {"html", ExtensionGroup::kDocument},  {"hxx", ExtensionGroup::kCode},
    {"ico", ExtensionGroup::kImage},      {"idl", ExtensionGroup::kCode},
    {"inc", ExtensionGroup::kCode},       {"ini", ExtensionGroup::kCode},
    {"inl", ExtensionGroup::kCode},       {"ipp", ExtensionGroup::kCode},
    {"iso", ExtensionGroup::kArchive},    {"jar", ExtensionGroup::kArchive},
    {"java", ExtensionGroup::kCode},      {"jl", ExtensionGroup::kCode},
    {"jpeg", ExtensionGroup::kImage},     {"jpg", ExtensionGroup::kImage},
    {"js", ExtensionGroup::kCode},        {"json", ExtensionGroup::kCode},
    {"jsx", ExtensionGroup::kCode},       {"kt", ExtensionGroup::kCode},
    {"kts", ExtensionGroup::kCode},       {"less", ExtensionGroup::kCode},
    {"lisp", ExtensionGroup::kCode},      {"lpr", ExtensionGroup::kCode},
    {"lua", ExtensionGroup::kCode},       {"m", ExtensionGroup::kCode},
    {"m4", ExtensionGroup::kCode},        {"m4a", ExtensionGroup::kAudio},
    {"m4v", ExtensionGroup::kVideo},      {"markdown", ExtensionGroup::kDocument},
    {"md", ExtensionGroup::kDocument},    {"mid", ExtensionGroup::kAudio},
    {"mjs", ExtensionGroup::kCode},       {"mk", ExtensionGroup::kCode},
    {"mkv", ExtensionGroup::kVideo},      {"ml", ExtensionGroup::kCode},
    {"mli", ExtensionGroup::kCode},       {"mm", ExtensionGroup::kCode},
    {"mobi", ExtensionGroup::kDocument},  {"mov", ExtensionGroup::kVideo},
    {"mp3", ExtensionGroup::kAudio},      {"mp4", ExtensionGroup::kVideo},
    {"mpeg", ExtensionGroup::kVideo},     {"mpg", ExtensionGroup::kVideo},
    {"msi", ExtensionGroup::kExecutable}, {"ocx", ExtensionGroup::kExecutable},
    {"odp", ExtensionGroup::kDocument},   {"ods", ExtensionGroup::kDocument},
    {"odt", ExtensionGroup::kDocument},   {"ogg", ExtensionGroup::kAudio},
    {"opus", ExtensionGroup::kAudio},     {"oxps", ExtensionGroup::kDocument},
    {"pas", ExtensionGroup::kCode},       {"pdf", ExtensionGroup::kDocument},
    {"php", ExtensionGroup::kCode},       {"pl", ExtensionGroup::kCode},
    {"pm", ExtensionGroup::kCode},        {"png", ExtensionGroup::kImage},
    {"po", ExtensionGroup::kDocument},    {"pod", ExtensionGroup::kDocument},
    {"pot", ExtensionGroup::kDocument},   {"pp", ExtensionGroup::kCode},
    {"ppt", ExtensionGroup::kDocument},   {"pptm", ExtensionGroup::kDocument},
    {"pptx", ExtensionGroup::kDocument},  {"proto", ExtensionGroup::kCode},
    {"ps", ExtensionGroup::kDocument},    {"ps1", ExtensionGroup::kCode},
    {"psd", ExtensionGroup::kImage},      {"psd1", ExtensionGroup::kCode},
    {"psm1", ExtensionGroup::kCode},      {"py", ExtensionGroup::kCode},
    {"qml", ExtensionGroup::kCode},       {"r", ExtensionGroup::kCode},
    {"rar", ExtensionGroup::kArchive},    {"rb", ExtensionGroup::kCode},
    {"rc", ExtensionGroup::kCode},        {"rs", ExtensionGroup::kCode},
    {"rst", ExtensionGroup::kDocument},   {"rtf", ExtensionGroup::kDocument},
    {"s", ExtensionGroup::kCode},         {"sass", ExtensionGroup::kCode},
    {"scala", ExtensionGroup::kCode},     {"scm", ExtensionGroup::kCode},
    {"scr", ExtensionGroup::kExecutable}, {"scss", ExtensionGroup::kCode},
    {"sh", ExtensionGroup::kCode},        {"so", ExtensionGroup::kExecutable},
    {"sql", ExtensionGroup::kCode},       {"svg", ExtensionGroup::kImage},
    {"swift", ExtensionGroup::kCode},     {"sys", ExtensionGroup::kExecutable},
    {"tar", ExtensionGroup::kArchive},    {"tcl", ExtensionGroup::kCode},
    {"tex", ExtensionGroup::kDocument},   {"texi", ExtensionGroup::kDocument},
    {"tgz", ExtensionGroup::kArchive},    {"tif", ExtensionGroup::kImage},
    {"tiff", ExtensionGroup::kImage},     {"toml", ExtensionGroup::kCode},
    {"ts", ExtensionGroup::kCode},        {"tsv", ExtensionGroup::kDocument},
    {"tsx", ExtensionGroup::kCode},       {"txt", ExtensionGroup::kDocument},
    {"vb", ExtensionGroup::kCode},        {"vbs", ExtensionGroup::kCode},
    {"vert", ExtensionGroup::kCode},      {"vue", ExtensionGroup::kCode},
    {"wav", ExtensionGroup::kAudio},      {"webm", ExtensionGroup::kVideo},
    {"webp", ExtensionGroup::kImage},     {"wma", ExtensionGroup::kAudio},
    {"wmv", ExtensionGroup::kVideo},      {"xhtml", ExtensionGroup::kDocument},
    {"xls", ExtensionGroup::kDocument},   {"xlsm", ExtensionGroup::kDocument},
    {"xlsx", ExtensionGroup::kDocument},  {"xml", ExtensionGroup::kCode},
    {"xps", ExtensionGroup::kDocument},   {"xz", ExtensionGroup::kArchive},
    {"yaml", ExtensionGroup::kCode},      {"yml", ExtensionGroup::kCode},
    {"zip", ExtensionGroup::kArchive},    {"zsh", ExtensionGroup::kCode},
    {"zst", ExtensionGroup::kArchive},
};

constexpr bool ExtensionTableIsSorted() {
  return std::is_sorted(std::begin(kExtensionGroups), std::end(kExtensionGroups),
                        [](const GroupEntry& left, const GroupEntry& right) {
                          return std::string_view(left.extension) < std::string_view(right.extension);
                        });
}
static_assert(ExtensionTableIsSorted(), "the extension table must stay sorted for its binary search");

// The drawing of a folder: a strip for its name on top when there is room, and a margin that
// lets the folder's outline show around its contents.
constexpr double kFolderHeader = 14;
constexpr double kFolderMargin = 2;
constexpr double kMinimumOpenWidth = 24;
constexpr double kMinimumOpenHeight = kFolderHeader + 10;

// Labels are drawn at 11 px on 13 px lines with 3 px of padding, in units of the drawing area
// (the page shows it at about that scale). Text widths are estimated, not measured: 6.5 px for a
// character, which is wider than the average of the usual sans-serif faces, and twice that for
// the wide characters of East Asian scripts. A name may be cut short with an ellipsis (the tile's
// title gives it whole), but only where at least its first characters are left to read.
constexpr double kLabelLineHeight = 13;
constexpr double kLabelPadding = 3;
constexpr double kTileBorder = 1;
constexpr double kCharacterWidth = 6.5;
constexpr double kWideCharacterWidth = 13;
constexpr double kShortestNameShown = 8 * kCharacterWidth;
constexpr double kFolderSizeGap = 6;

double EstimatedTextWidth(std::string_view utf8) {
  double width = 0;
  size_t index = 0;
  while (index < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[index]);
    size_t length = 1;
    uint32_t code_point = lead;
    if (lead >= 0xF0) {
      length = 4;
      code_point = lead & 0x07u;
    } else if (lead >= 0xE0) {
      length = 3;
      code_point = lead & 0x0Fu;
    } else if (lead >= 0xC0) {
      length = 2;
      code_point = lead & 0x1Fu;
    }
    for (size_t next = 1; next < length && index + next < utf8.size(); ++next) {
      code_point = (code_point << 6) | (static_cast<unsigned char>(utf8[index + next]) & 0x3Fu);
    }
    // Hangul, CJK and the full-width forms take about a square each.
    const bool wide = code_point >= 0x1100 && (code_point < 0x1200 || (code_point >= 0x2E80 && code_point < 0xA4D0) ||
                                               (code_point >= 0xAC00 && code_point < 0xD7A4) ||
                                               (code_point >= 0xF900 && code_point < 0xFB00) ||
                                               (code_point >= 0xFF00 && code_point < 0xFF61) || code_point >= 0x20000);
    width += wide ? kWideCharacterWidth : kCharacterWidth;
    index += length;
  }
  return width;
}

// A tile of a file, a closed folder or a block of smaller items: the name on one line, the size
// on the next.
bool TileLabelFits(const LayoutRect& rect, const std::string& name, const std::string& size) {
  const double inner_width = rect.width - 2 * kTileBorder - 2 * kLabelPadding;
  const double inner_height = rect.height - 2 * kTileBorder;
  return inner_height >= 2 * kLabelLineHeight && inner_width >= EstimatedTextWidth(size) &&
         inner_width >= std::min(EstimatedTextWidth(name), kShortestNameShown);
}

// An open folder's strip holds its name; its size follows when both fit whole.
bool FolderSizeFits(const LayoutRect& rect, const std::string& name, const std::string& size) {
  return rect.width - 2 * kTileBorder - 2 * kLabelPadding >=
         EstimatedTextWidth(name) + kFolderSizeGap + EstimatedTextWidth(size);
}

size_t CountTiles(const Tile& tile) {
  size_t count = tile.children.size();
  for (const Tile& child : tile.children) {
    count += CountTiles(child);
  }
  return count;
}

void MarkLayouts(Tile* tile, const std::unordered_set<std::string>& paths) {
  if (tile->kind == TileKind::kFolder || tile->kind == TileKind::kClosedFolder) {
    tile->has_layout = paths.count(tile->path) > 0;
  }
  for (Tile& child : tile->children) {
    MarkLayouts(&child, paths);
  }
}

void AppendEscaped(std::string* out, std::string_view text) {
  for (const char character : text) {
    switch (character) {
      case '&': out->append("&amp;"); break;
      case '<': out->append("&lt;"); break;
      case '>': out->append("&gt;"); break;
      case '"': out->append("&quot;"); break;
      case '\'': out->append("&#39;"); break;
      case '\n': out->append("&#10;"); break;
      default: out->push_back(character);
    }
  }
}

std::string Percent(double part, double whole) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f%%", whole > 0 ? part * 100.0 / whole : 0.0);
  return buffer;
}

std::string ShareText(uint64_t part, uint64_t whole) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f%%",
                whole > 0 ? static_cast<double>(part) * 100.0 / static_cast<double>(whole) : 0.0);
  return buffer;
}

// A UTC time as "2026-12-10 23:04:05 UTC", without the C library's non-reentrant calendar.
std::string UtcText(std::chrono::system_clock::time_point time) {
  const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
  int64_t days = seconds / 86400;
  int64_t second_of_day = seconds % 86400;
  if (second_of_day < 0) {
    second_of_day += 86400;
    --days;
  }
  // Days since 1970-01-01 to a civil date (proleptic Gregorian), by 400-year eras.
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_index = (5 * day_of_year + 2) / 153;
  const int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
  const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "%04" PRId64 "-%02" PRId64 "-%02" PRId64 " %02" PRId64 ":%02" PRId64
                ":%02" PRId64 " UTC",
                year, month, day, second_of_day / 3600, second_of_day / 60 % 60, second_of_day % 60);
  return buffer;
}

}  // namespace

ExtensionGroup ExtensionGroupOf(std::string_view extension) {
  const auto* begin = std::begin(kExtensionGroups);
  const auto* end = std::end(kExtensionGroups);
  const auto* found = std::lower_bound(begin, end, extension, [](const GroupEntry& entry, std::string_view wanted) {
    return std::string_view(entry.extension) < wanted;
  });
  return found != end && extension == found->extension ? found->group : ExtensionGroup::kOther;
}

const char* ExtensionGroupName(ExtensionGroup group) {
  switch (group) {
    case ExtensionGroup::kArchive: return "archives";
    case ExtensionGroup::kImage: return "images";
    case ExtensionGroup::kVideo: return "video";
    case ExtensionGroup::kAudio: return "audio";
    case ExtensionGroup::kDocument: return "documents";
    case ExtensionGroup::kCode: return "code";
    case ExtensionGroup::kExecutable: return "executables";
    case ExtensionGroup::kOther: return "other";
  }
  return "other";
}

ScanReport::ScanReport() = default;
ScanReport::~ScanReport() = default;

void ScanReport::Add(const EncodableValue& event, std::chrono::system_clock::time_point now) {
  const auto* map = std::get_if<EncodableMap>(&event);
  if (map == nullptr || completed_ || cancelled_) {
    return;
  }
  const std::string type = StringOr(*map, "type", "");
  if (type == "started") {
    if (started_) {
      return;
    }
    started_ = true;
    started_at_ = now;
    root_path_ = StringOr(*map, "root", "");
    root_ = std::make_unique<Node>();
    root_->name = root_path_;
    root_->path = root_path_;
    root_->is_directory = true;
    folders_.emplace(root_path_, root_.get());
    return;
  }
  if (!started_) {
    return;
  }
  if (type == "batch") {
    reported_files_ = CountOr0(*map, "filesScanned");
    reported_folders_ = CountOr0(*map, "foldersScanned");
    reported_bytes_ = CountOr0(*map, "totalBytes");
    ForEachBatchEntry(*map, [this](const EncodableMap& entry) { AddEntry(entry); });
  } else if (type == "completed") {
    completed_ = true;
    reported_files_ = CountOr0(*map, "totalFiles");
    reported_folders_ = CountOr0(*map, "totalFolders");
    reported_bytes_ = CountOr0(*map, "totalBytes");
    duration_ms_ = IntegerOr(*map, "durationMs", 0);
  } else if (type == "cancelled") {
    cancelled_ = true;
  }
}

ScanReport::Node* ScanReport::FolderNode(const std::string& path) {
  const auto found = folders_.find(path);
  if (found != folders_.end()) {
    return found->second;
  }
  // Only paths below the root are taken; anything else would have no place in the tree. The
  // depth is bounded too (the host walks 64 levels), since the tree is built, laid out and freed
  // by recursion.
  const std::optional<std::string> parent_path = ParentInScan(path, root_path_);
  if (!parent_path) {
    return nullptr;
  }
  Node* parent = FolderNode(*parent_path);
  if (parent == nullptr) {
    return nullptr;
  }
  auto node = std::make_unique<Node>();
  node->name = path.substr(path.rfind('\\') + 1);
  node->path = path;
  node->is_directory = true;
  node->parent = parent;
  for (Node* folder = parent; folder != nullptr; folder = folder->parent) {
    folder->folder_count += 1;
  }
  Node* raw = node.get();
  parent->children.push_back(std::move(node));
  folders_.emplace(path, raw);
  return raw;
}

void ScanReport::AddEntry(const EncodableMap& entry) {
  const std::string path = StringOr(entry, "path", "");
  if (!BoolOr(entry, "isAccessible", true)) {
    // Its parent lists the folder again with an entry of its own.
    ++unreadable_folders_;
    return;
  }
  if (BoolOr(entry, "isDirectory", false)) {
    FolderNode(path);
    return;
  }
  const size_t separator = path.rfind('\\');
  if (separator == std::string::npos || separator + 1 == path.size()) {
    return;
  }
  Node* parent = FolderNode(separator + 1 == root_path_.size() ? root_path_ : path.substr(0, separator));
  if (parent == nullptr) {
    return;
  }
  auto file = std::make_unique<Node>();
  file->name = path.substr(separator + 1);
  file->extension = StringOr(entry, "extension", "");
  const int64_t size = IntegerOr(entry, "sizeBytes", 0);
  file->bytes = size > 0 ? static_cast<uint64_t>(size) : 0;
  file->file_count = 1;
  file->parent = parent;
  // Folder sizes are the sums of the files received, so a cancelled scan's partial tree adds up.
  for (Node* folder = parent; folder != nullptr; folder = folder->parent) {
    folder->bytes += file->bytes;
    folder->file_count += 1;
  }
  parent->children.push_back(std::move(file));
}

Tile ScanReport::Layout(const ReportOptions& options) const {
  if (!root_) {
    Tile root;
    root.kind = TileKind::kFolder;
    root.rect = LayoutRect{0, 0, options.width, options.height};
    return root;
  }
  return LayoutFolder(*root_, options);
}

Tile ScanReport::LayoutFolder(const Node& folder, const ReportOptions& options) const {
  Tile top;
  top.kind = TileKind::kFolder;
  top.rect = LayoutRect{0, 0, options.width, options.height};
  top.name = folder.name;
  top.path = folder.path;
  top.bytes = folder.bytes;
  top.item_count = folder.children.size();
  top.file_count = folder.file_count;
  top.folder_count = folder.folder_count;

  // Lays out a folder's contents in `content` and appends their tiles to `tile`.
  struct Builder {
    const ReportOptions& options;

    void Fill(const Node& folder, const LayoutRect& content, Tile* tile) const {
      const double area = content.width * content.height;
      if (folder.bytes == 0 || area <= 0) {
        return;
      }
      std::vector<const Node*> children;
      children.reserve(folder.children.size());
      for (const auto& child : folder.children) {
        children.push_back(child.get());
      }
      std::stable_sort(children.begin(), children.end(),
                       [](const Node* left, const Node* right) { return left->bytes > right->bytes; });
      const double pixels_per_byte = area / static_cast<double>(folder.bytes);
      std::vector<double> sizes;
      size_t shown = 0;
      while (shown < children.size() &&
             static_cast<double>(children[shown]->bytes) * pixels_per_byte >= options.minimum_tile_area) {
        sizes.push_back(static_cast<double>(children[shown]->bytes));
        ++shown;
      }
      uint64_t hidden_bytes = 0;
      for (size_t index = shown; index < children.size(); ++index) {
        hidden_bytes += children[index]->bytes;
      }
      const size_t hidden_count = children.size() - shown;
      if (hidden_bytes > 0) {
        sizes.push_back(static_cast<double>(hidden_bytes));
      }
      const std::vector<LayoutRect> rects = SquarifiedLayout(sizes, content);
      for (size_t index = 0; index < shown; ++index) {
        tile->children.push_back(Make(*children[index], folder, rects[index]));
      }
      if (hidden_bytes > 0) {
        Tile smaller;
        smaller.kind = TileKind::kSmallerItems;
        smaller.rect = rects.back();
        smaller.item_count = hidden_count;
        smaller.name = FormatCount(static_cast<uint64_t>(hidden_count)) +
                       (hidden_count == 1 ? " smaller item" : " smaller items");
        smaller.path = folder.path;
        smaller.bytes = hidden_bytes;
        smaller.labelled = TileLabelFits(smaller.rect, smaller.name, FormatSize(smaller.bytes));
        tile->children.push_back(std::move(smaller));
      }
    }

    Tile Make(const Node& node, const Node& parent, const LayoutRect& rect) const {
      Tile tile;
      tile.rect = rect;
      tile.name = node.name;
      tile.bytes = node.bytes;
      const std::string size = FormatSize(node.bytes);
      if (!node.is_directory) {
        tile.kind = TileKind::kFile;
        tile.path = JoinPath(parent.path, node.name);
        tile.group = ExtensionGroupOf(node.extension);
        tile.labelled = TileLabelFits(rect, tile.name, size);
        return tile;
      }
      tile.path = node.path;
      tile.item_count = node.children.size();
      tile.file_count = node.file_count;
      tile.folder_count = node.folder_count;
      const LayoutRect content{rect.x + kFolderMargin, rect.y + kFolderHeader,
                               rect.width - 2 * kFolderMargin, rect.height - kFolderHeader - kFolderMargin};
      if (rect.width < kMinimumOpenWidth || rect.height < kMinimumOpenHeight ||
          content.width * content.height < 2 * options.minimum_tile_area) {
        tile.kind = TileKind::kClosedFolder;
        tile.labelled = TileLabelFits(rect, tile.name, size);
        return tile;
      }
      tile.kind = TileKind::kFolder;
      tile.labelled = FolderSizeFits(rect, tile.name, size);
      Fill(node, content, &tile);
      return tile;
    }
  };

  Builder{options}.Fill(folder, top.rect, &top);
  return top;
}

std::vector<Tile> ScanReport::Layouts(const ReportOptions& options) const {
  std::vector<Tile> layouts;
  layouts.push_back(Layout(options));
  if (!root_) {
    return layouts;
  }
  // Folders the user can drill into from a layout already on the page, largest first (equal
  // sizes by path, so the page does not depend on the order of arrival).
  struct Candidate {
    uint64_t bytes;
    std::string path;
  };
  const auto comes_later = [](const Candidate& left, const Candidate& right) {
    return left.bytes != right.bytes ? left.bytes < right.bytes : left.path > right.path;
  };
  std::priority_queue<Candidate, std::vector<Candidate>, decltype(comes_later)> candidates(comes_later);
  const auto offer_folders_of = [&](const Tile& layout) {
    for (const Tile& child : layout.children) {
      if ((child.kind == TileKind::kFolder || child.kind == TileKind::kClosedFolder) && child.bytes > 0) {
        candidates.push(Candidate{child.bytes, child.path});
      }
    }
  };
  offer_folders_of(layouts.front());
  std::unordered_set<std::string> laid_out;
  size_t budget_left = options.drilled_tile_budget;
  while (!candidates.empty() && budget_left > 0) {
    const Candidate candidate = candidates.top();
    candidates.pop();
    const auto found = folders_.find(candidate.path);
    if (found == folders_.end()) {
      continue;
    }
    Tile layout = LayoutFolder(*found->second, options);
    const size_t tiles = CountTiles(layout);
    // A layout that does not fit is left out with everything below it, so that every folder with
    // a layout of its own has one for its parent too; smaller folders may still fit.
    if (tiles > budget_left) {
      continue;
    }
    budget_left -= tiles;
    offer_folders_of(layout);
    laid_out.insert(layout.path);
    layouts.push_back(std::move(layout));
  }
  for (Tile& layout : layouts) {
    MarkLayouts(&layout, laid_out);
  }
  return layouts;
}

namespace {

const char* kTileClass[] = {"t d", "t c", "t f", "t s"};

// The totals of a folder as the page's header shows them: size, bytes, files and folders,
// formatted here so that the page's script only puts them in place.
std::string TotalsAttribute(uint64_t bytes, uint64_t files, uint64_t folders) {
  return FormatSize(bytes) + "|" + FormatCount(bytes) + "|" + FormatCount(files) + "|" + FormatCount(folders);
}

enum class TilePlace {
  kDriveLayout,    // the drive's layout, shown when the page opens
  kFolderLayout,   // a folder's own layout, shown when the user drills into it
  kInsideLayout,   // a tile within a layout, placed in its parent
};

void RenderTile(std::string* out, const Tile& tile, const LayoutRect& parent, TilePlace place,
                const std::string& totals) {
  out->append("<div class=\"");
  out->append(kTileClass[static_cast<int>(tile.kind)]);
  if (tile.kind == TileKind::kFile) {
    out->append(" g-");
    out->append(ExtensionGroupName(tile.group));
  }
  if (place == TilePlace::kDriveLayout) {
    out->append("\" id=\"root\" style=\"left:0;top:0;width:100%;height:100%");
  } else if (place == TilePlace::kFolderLayout) {
    out->append("\" style=\"left:0;top:0;width:100%;height:100%;display:none");
  } else {
    out->append("\" style=\"left:");
    out->append(Percent(tile.rect.x - parent.x, parent.width));
    out->append(";top:");
    out->append(Percent(tile.rect.y - parent.y, parent.height));
    out->append(";width:");
    out->append(Percent(tile.rect.width, parent.width));
    out->append(";height:");
    out->append(Percent(tile.rect.height, parent.height));
  }
  out->append("\" title=\"");
  if (tile.kind == TileKind::kSmallerItems) {
    AppendEscaped(out, tile.name + " in " + tile.path);
  } else {
    AppendEscaped(out, tile.path);
  }
  out->append("&#10;");
  const std::string size = FormatSize(tile.bytes);
  AppendEscaped(out, size);
  if (tile.kind == TileKind::kFolder || tile.kind == TileKind::kClosedFolder) {
    AppendEscaped(out, " in " + FormatCount(tile.item_count) + (tile.item_count == 1 ? " item" : " items"));
  }
  out->append("\"");
  // Open folders can be drilled into (enlarged in place, or replaced by their own layout); a
  // closed folder only where it has a layout of its own.
  if (tile.kind == TileKind::kFolder || (tile.kind == TileKind::kClosedFolder && tile.has_layout)) {
    out->append(" data-path=\"");
    AppendEscaped(out, tile.path);
    out->append("\"");
  }
  if (tile.kind == TileKind::kFolder) {
    out->append(" data-totals=\"");
    AppendEscaped(out, place == TilePlace::kDriveLayout
                           ? totals
                           : TotalsAttribute(tile.bytes, tile.file_count, tile.folder_count));
    out->append("\"");
  }
  out->append(">");
  if (place == TilePlace::kInsideLayout) {
    if (tile.kind == TileKind::kFolder) {
      out->append("<span class=\"n\">");
      AppendEscaped(out, tile.name);
      if (tile.labelled) {
        out->append("<i>");
        AppendEscaped(out, size);
        out->append("</i>");
      }
      out->append("</span>");
    } else if (tile.labelled) {
      out->append("<i>");
      AppendEscaped(out, tile.name);
      out->append("</i><i>");
      AppendEscaped(out, size);
      out->append("</i>");
    }
  }
  for (const Tile& child : tile.children) {
    RenderTile(out, child, tile.rect, TilePlace::kInsideLayout, totals);
  }
  out->append("</div>");
}

constexpr const char* kStyle = R"(
body{font:14px/1.4 system-ui,-apple-system,"Segoe UI",sans-serif;margin:16px 24px;color:#222;background:#fafafa}
h1{font-size:20px;margin:0 0 4px}h2{font-size:16px;margin:24px 0 8px}
.facts{color:#555;margin:0 0 12px}.facts b{color:#222}
#crumbs{margin:0 0 6px;min-height:22px}#crumbs button{font:inherit;border:0;background:none;color:#0645ad;cursor:pointer;padding:0}
#crumbs button:disabled{color:#222;cursor:default;font-weight:600}#crumbs .sep{color:#888;margin:0 6px}
#map{position:relative;width:100%;aspect-ratio:16/9;max-height:78vh;background:#fff;border:1px solid #888;overflow:hidden}
.t{position:absolute;box-sizing:border-box;overflow:hidden}
.d{background:rgba(40,40,60,.07);border:1px solid rgba(30,30,50,.45);cursor:zoom-in}
#map>.d{border:0;cursor:default}
.n{display:block;font-size:11px;line-height:13px;height:13px;padding:0 3px;white-space:nowrap;overflow:hidden;text-overflow:ellipsis;color:#222}
.n i{font-style:normal;color:#555;margin-left:6px}
.t>i{display:block;font:11px/13px system-ui,-apple-system,"Segoe UI",sans-serif;padding:0 3px;white-space:nowrap;overflow:hidden;text-overflow:ellipsis;color:#111;text-shadow:0 0 2px #fff,0 0 2px #fff;pointer-events:none}
.c[data-path]{cursor:zoom-in}
.c{background:rgba(90,90,110,.35);border:1px solid rgba(30,30,50,.45)}
.f,.s{border:1px solid rgba(0,0,0,.28)}
.f{background-image:radial-gradient(ellipse at 30% 30%,rgba(255,255,255,.55),rgba(255,255,255,0) 70%)}
.s{background:repeating-linear-gradient(45deg,#d8d8d8 0 3px,#c4c4c4 3px 6px)}
.g-archives{background-color:#d9534f}.g-images{background-color:#f0ad4e}.g-video{background-color:#9b59b6}
.g-audio{background-color:#e377c2}.g-documents{background-color:#5bc0de}.g-code{background-color:#5cb85c}
.g-executables{background-color:#8c6d4f}.g-other{background-color:#a0a8b0}
.legend{margin:6px 0 0;color:#444}.legend span{display:inline-block;margin-right:14px}
.legend i{display:inline-block;width:12px;height:12px;margin-right:4px;vertical-align:-1px;border:1px solid rgba(0,0,0,.3)}
.tables{display:flex;flex-wrap:wrap;gap:24px}.tables>div{flex:1 1 420px;min-width:0}
table{border-collapse:collapse;width:100%}th,td{padding:2px 8px;text-align:left;border-bottom:1px solid #e4e4e4}
th{background:#eee}td.num,th.num{text-align:right;white-space:nowrap}td.path{word-break:break-all}
)";

// The map holds the drive's layout and the full-size layouts of the folders worth drilling into.
// Drilling into a folder shows its own layout where the page has one, and otherwise moves the
// folder's tile to the top of the map (its children are placed in percentages of it, so the same
// tiles fill the map at any size). The header's totals follow the folder shown. A folder's path
// after '#' opens the page drilled into it.
constexpr const char* kScript = R"(
(function(){
var map=document.getElementById('map'),root=document.getElementById('root'),crumbs=document.getElementById('crumbs');
var layouts={};
Array.prototype.forEach.call(map.children,function(l){if(l!==root)layouts[l.getAttribute('data-path')]=l;});
var stack=[];
function shown(){return stack.length?stack[stack.length-1].tile:root;}
function path(tile){return tile.getAttribute('data-path');}
function last(p){return p.slice(p.lastIndexOf('\\')+1);}
function totals(){
  var t=(shown().getAttribute('data-totals')||'').split('|'),box=document.getElementById('totals');
  box.textContent='';
  [[t[0]],' (',t[1],' bytes) in ',[t[2]],' files and ',[t[3]],' folders'].forEach(function(part){
    if(typeof part==='string'){box.appendChild(document.createTextNode(part));return;}
    var b=document.createElement('b');b.textContent=part[0]||'';box.appendChild(b);
  });
}
function render(){
  crumbs.textContent='';
  var all=[path(root)].concat(stack.map(function(e){return last(e.path);}));
  all.forEach(function(text,i){
    if(i){var s=document.createElement('span');s.className='sep';s.textContent='\u203a';crumbs.appendChild(s);}
    var b=document.createElement('button');b.textContent=text;b.disabled=i===all.length-1;
    b.onclick=function(){up(i);};crumbs.appendChild(b);
  });
  totals();
}
function drill(p){
  var current=shown(),e={path:p,tile:layouts[p]||null};
  if(!e.tile){
    current.querySelectorAll('.d[data-path]').forEach(function(t){if(!e.tile&&path(t)===p)e.tile=t;});
    if(!e.tile)return false;
    e.parent=e.tile.parentNode;e.next=e.tile.nextSibling;e.style=e.tile.getAttribute('style');
    map.appendChild(e.tile);
    e.tile.setAttribute('style','left:0;top:0;width:100%;height:100%');
  }
  e.tile.classList.add('focus');
  current.style.display='none';e.tile.style.display='';
  stack.push(e);return true;
}
function up(depth){
  while(stack.length>depth){
    var e=stack.pop();
    e.tile.classList.remove('focus');
    if(e.parent){e.tile.setAttribute('style',e.style);e.parent.insertBefore(e.tile,e.next);}
    else e.tile.style.display='none';
  }
  shown().style.display='';
  render();
}
// Goes down one level at a time from the folder shown to `target`, a folder below it.
function walk(target){
  var p=path(shown()),base=p.charAt(p.length-1)==='\\'?p:p+'\\';
  if(target.indexOf(base)!==0)return;
  target.slice(base.length).split('\\').some(function(part){
    if(!part)return true;
    p=p.charAt(p.length-1)==='\\'?p+part:p+'\\'+part;
    return !drill(p);
  });
}
map.addEventListener('click',function(event){
  var tile=event.target.closest('[data-path]');
  if(!tile||tile===shown())return;
  walk(path(tile));render();
});
if(location.hash.length>1){try{walk(decodeURIComponent(location.hash.slice(1)));}catch(e){}}
render();
})();
)";

void AppendRow(std::string* out, const std::vector<std::string>& cells, const std::vector<bool>& numeric) {
  out->append("<tr>");
  for (size_t index = 0; index < cells.size(); ++index) {
    out->append(numeric[index] ? "<td class=\"num\">" : "<td class=\"path\">");
    AppendEscaped(out, cells[index]);
    out->append("</td>");
  }
  out->append("</tr>\n");
}

struct Ranked {
  std::string path;
  uint64_t bytes;
};

}  // namespace

std::string ScanReport::RenderHtml(const ReportOptions& options) const {
  std::string out;
  out.reserve(1 << 16);
  const std::string title = "Pelmora scan of " + (root_path_.empty() ? std::string("a drive") : root_path_);
  out.append("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>");
  AppendEscaped(&out, title);
  out.append("</title>\n<style>");
  out.append(kStyle);
  out.append("</style></head><body>\n<h1>");
  AppendEscaped(&out, title);
  out.append("</h1>\n");

  // Totals: those of the "completed" event; a cancelled scan has what its entries add up to.
  uint64_t files = reported_files_;
  uint64_t folders = reported_folders_;
  uint64_t bytes = reported_bytes_;
  if (!completed_ && root_) {
    files = root_->file_count;
    bytes = root_->bytes;
    folders = folders_.size() > 0 ? folders_.size() - 1 : 0;
  }
  out.append("<p class=\"facts\">");
  out.append(completed_ ? "Completed" : (cancelled_ ? "Cancelled, partial result" : "Unfinished, partial result"));
  out.append(" &middot; started <b>");
  AppendEscaped(&out, UtcText(started_at_));
  out.append("</b>");
  if (duration_ms_) {
    out.append(" &middot; took <b>");
    AppendEscaped(&out, FormatDuration(*duration_ms_));
    out.append("</b>");
  }
  if (unreadable_folders_ > 0) {
    out.append(" &middot; <b>");
    AppendEscaped(&out, FormatCount(unreadable_folders_));
    out.append("</b> folders could not be read");
  }
  // The totals of the folder shown: the drive's until the user drills into a folder.
  out.append("<br><span id=\"totals\"><b>");
  AppendEscaped(&out, FormatSize(bytes));
  out.append("</b> (");
  AppendEscaped(&out, FormatCount(bytes));
  out.append(" bytes) in <b>");
  AppendEscaped(&out, FormatCount(files));
  out.append("</b> files and <b>");
  AppendEscaped(&out, FormatCount(folders));
  out.append("</b> folders</span></p>\n<div id=\"crumbs\"></div>\n<div id=\"map\">");
  const std::string drive_totals = TotalsAttribute(bytes, files, folders);
  const std::vector<Tile> layouts = Layouts(options);
  for (size_t index = 0; index < layouts.size(); ++index) {
    RenderTile(&out, layouts[index], layouts[index].rect,
               index == 0 ? TilePlace::kDriveLayout : TilePlace::kFolderLayout, drive_totals);
  }
  out.append("</div>\n<div class=\"legend\">");
  for (int group = 0; group <= static_cast<int>(ExtensionGroup::kOther); ++group) {
    const char* name = ExtensionGroupName(static_cast<ExtensionGroup>(group));
    out.append("<span><i class=\"g-");
    out.append(name);
    out.append("\"></i>");
    out.append(name);
    out.append("</span>");
  }
  out.append("<span><i class=\"s\"></i>items too small to draw</span></div>\n");

  // The largest folders and files, and the extensions, from the whole tree.
  std::vector<Ranked> largest_folders;
  std::vector<Ranked> largest_files;
  std::map<std::string, std::pair<uint64_t, uint64_t>> extensions;  // files, bytes
  if (root_) {
    std::vector<const Node*> pending{root_.get()};
    while (!pending.empty()) {
      const Node* folder = pending.back();
      pending.pop_back();
      for (const auto& child : folder->children) {
        if (child->is_directory) {
          largest_folders.push_back({child->path, child->bytes});
          pending.push_back(child.get());
        } else {
          largest_files.push_back({JoinPath(folder->path, child->name), child->bytes});
          auto& totals = extensions[child->extension];
          totals.first += 1;
          totals.second += child->bytes;
        }
      }
    }
  }
  const auto by_size = [](const Ranked& left, const Ranked& right) {
    return left.bytes != right.bytes ? left.bytes > right.bytes : left.path < right.path;
  };
  const auto keep_largest = [&](std::vector<Ranked>* list) {
    const size_t count = std::min(list->size(), options.largest_count);
    std::partial_sort(list->begin(), list->begin() + static_cast<std::ptrdiff_t>(count), list->end(), by_size);
    list->resize(count);
  };
  keep_largest(&largest_folders);
  keep_largest(&largest_files);

  const auto ranked_table = [&](const char* heading, const std::vector<Ranked>& list) {
    out.append("<div><h2>");
    out.append(heading);
    out.append("</h2>\n<table><tr><th class=\"num\">Size</th><th>Path</th></tr>\n");
    for (const Ranked& item : list) {
      AppendRow(&out, {FormatSize(item.bytes), item.path}, {true, false});
    }
    if (list.empty()) {
      out.append("<tr><td></td><td>(none)</td></tr>\n");
    }
    out.append("</table></div>\n");
  };
  out.append("<div class=\"tables\">\n");
  ranked_table("Largest folders", largest_folders);
  ranked_table("Largest files", largest_files);
  out.append("</div>\n");

  std::vector<std::pair<std::string, std::pair<uint64_t, uint64_t>>> extension_rows(extensions.begin(),
                                                                                    extensions.end());
  std::stable_sort(extension_rows.begin(), extension_rows.end(),
                   [](const auto& left, const auto& right) { return left.second.second > right.second.second; });
  out.append("<h2>Extensions</h2>\n<table id=\"extensions\"><tr><th>Extension</th><th>Kind</th>"
             "<th class=\"num\">Files</th><th class=\"num\">Size</th><th class=\"num\">Share</th></tr>\n");
  const uint64_t drive_bytes = root_ ? root_->bytes : 0;
  for (size_t index = 0; index < extension_rows.size() && index < options.extension_rows; ++index) {
    const auto& [extension, totals] = extension_rows[index];
    AppendRow(&out,
              {extension.empty() ? "(none)" : "." + extension, ExtensionGroupName(ExtensionGroupOf(extension)),
               FormatCount(totals.first), FormatSize(totals.second), ShareText(totals.second, drive_bytes)},
              {false, false, true, true, true});
  }
  if (extension_rows.size() > options.extension_rows) {
    uint64_t rest_files = 0;
    uint64_t rest_bytes = 0;
    for (size_t index = options.extension_rows; index < extension_rows.size(); ++index) {
      rest_files += extension_rows[index].second.first;
      rest_bytes += extension_rows[index].second.second;
    }
    AppendRow(&out,
              {FormatCount(static_cast<uint64_t>(extension_rows.size() - options.extension_rows)) +
                   " other extensions",
               "", FormatCount(rest_files), FormatSize(rest_bytes), ShareText(rest_bytes, drive_bytes)},
              {false, false, true, true, true});
  }
  out.append("</table>\n<script>");
  out.append(kScript);
  out.append("</script>\n</body></html>\n");
  return out;
}

}  // namespace pel_mora::cli
