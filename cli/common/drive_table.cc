#include "cli/common/drive_table.h"

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>
#include <variant>
#include <vector>

#include "cli/common/human_readable.h"

namespace pel_mora::cli {

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

constexpr size_t kColumnCount = 7;
using Row = std::array<std::string, kColumnCount>;

const EncodableValue* Find(const EncodableMap& map, const char* key) {
  const auto found = map.find(EncodableValue(key));
  return found == map.end() ? nullptr : &found->second;
}

std::string Text(const EncodableMap& map, const char* key) {
  const EncodableValue* value = Find(map, key);
  const auto* text = value != nullptr ? std::get_if<std::string>(value) : nullptr;
  return text != nullptr ? *text : std::string();
}

std::optional<int64_t> Integer(const EncodableMap& map, const char* key) {
  const EncodableValue* value = Find(map, key);
  if (value == nullptr) {
    return std::nullopt;
  }
  if (const auto* narrow = std::get_if<int32_t>(value)) {
    return *narrow;
  }
  if (const auto* wide = std::get_if<int64_t>(value)) {
    return *wide;
  }
  return std::nullopt;
}

// Terminal columns taken by UTF-8 text, counted as code points: labels are short and mostly
// Latin, and this keeps the table aligned without a width table.
size_t DisplayWidth(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
  }));
}

void AppendPadded(const std::string& text, size_t width, bool align_right, std::string* out) {
  const size_t padding = width > DisplayWidth(text) ? width - DisplayWidth(text) : 0;
  if (align_right) {
    out->append(padding, ' ');
    out->append(text);
  } else {
    out->append(text);
    out->append(padding, ' ');
  }
}

}  // namespace

std::string DriveTypeName(int64_t drive_type) {
  switch (drive_type) {
    case 0: return "Unknown";
    case 1: return "No root";
    case 2: return "Removable";
    case 3: return "Fixed";
    case 4: return "Network";
    case 5: return "CD-ROM";
    case 6: return "RAM disk";
    default: return "Type " + std::to_string(drive_type);
  }
}

std::string FormatDriveTable(const EncodableValue& drives) {
  const auto* list = std::get_if<flutter::EncodableList>(&drives);
  if (list == nullptr) {
    throw std::invalid_argument("the drive list is not a list");
  }
  std::vector<Row> rows;
  rows.push_back({"Drive", "Type", "Label", "File system", "Used", "Free", "Total"});
  for (const EncodableValue& record : *list) {
    const auto* drive = std::get_if<EncodableMap>(&record);
    if (drive == nullptr) {
      continue;
    }
    const std::optional<int64_t> type = Integer(*drive, "driveType");
    const EncodableValue* ready_value = Find(*drive, "isReady");
    const bool ready = ready_value != nullptr && std::holds_alternative<bool>(*ready_value) && std::get<bool>(*ready_value);
    const auto size = [&](const char* key) {
      const std::optional<int64_t> bytes = Integer(*drive, key);
      return ready && bytes ? FormatSize(*bytes) : std::string("-");
    };
    rows.push_back({Text(*drive, "driveLetter") + ":", type ? DriveTypeName(*type) : std::string("?"),
                    Text(*drive, "volumeName"), Text(*drive, "fileSystem"), size("usedBytes"), size("freeBytes"),
                    size("totalBytes")});
  }
  std::array<size_t, kColumnCount> widths{};
  for (const Row& row : rows) {
    for (size_t column = 0; column < kColumnCount; ++column) {
      widths[column] = std::max(widths[column], DisplayWidth(row[column]));
    }
  }
  std::string out;
  for (const Row& row : rows) {
    std::string line;
    for (size_t column = 0; column < kColumnCount; ++column) {
      if (column > 0) {
        line.append("  ");
      }
      // Sizes (the last three columns) line up on the right, text on the left.
      AppendPadded(row[column], widths[column], column >= 4, &line);
    }
    // The label and file-system columns may be blank; no trailing spaces either way.
    line.erase(line.find_last_not_of(' ') + 1);
    out.append(line);
    out.push_back('\n');
  }
  if (rows.size() == 1) {
    out.append("(no drives)\n");
  }
  return out;
}

}  // namespace pel_mora::cli
