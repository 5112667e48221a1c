#include "cli/commands/search_results.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <vector>

#include "cli/common/human_readable.h"

namespace pel_mora::cli {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

constexpr size_t kTimeWidth = 16;  // "YYYY-MM-DD HH:MM"

char LowerAscii(char character) {
  return (character >= 'A' && character <= 'Z') ? static_cast<char>(character - 'A' + 'a') : character;
}

bool IsDigit(char character) { return character >= '0' && character <= '9'; }

const EncodableValue* Find(const EncodableMap& map, const char* key) {
  const auto found = map.find(EncodableValue(key));
  return found == map.end() ? nullptr : &found->second;
}

struct FoundFile {
  int64_t size_bytes = 0;
  std::optional<int64_t> modified_seconds;
  std::string path;
};

FoundFile ReadFoundFile(const EncodableValue& entry) {
  const auto* map = std::get_if<EncodableMap>(&entry);
  if (map == nullptr) {
    throw std::invalid_argument("an entry is not a map");
  }
  FoundFile file;
  const auto* path = Find(*map, "path");
  if (path == nullptr || !std::holds_alternative<std::string>(*path)) {
    throw std::invalid_argument("an entry has no path");
  }
  file.path = std::get<std::string>(*path);
  if (const auto* size = Find(*map, "sizeBytes");
      size != nullptr && (std::holds_alternative<int32_t>(*size) || std::holds_alternative<int64_t>(*size))) {
    file.size_bytes = size->LongValue();
  }
  if (const auto* modified = Find(*map, "modifiedTime");
      modified != nullptr && (std::holds_alternative<int32_t>(*modified) || std::holds_alternative<int64_t>(*modified))) {
    file.modified_seconds = modified->LongValue();
  }
  return file;
}

}  // namespace

std::optional<int64_t> ParseSizeText(std::string_view text) {
  size_t position = 0;
  uint64_t whole = 0;
  constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  while (position < text.size() && IsDigit(text[position])) {
    whole = whole * 10 + static_cast<uint64_t>(text[position] - '0');
    if (whole > kLimit) {
      return std::nullopt;
    }
    ++position;
  }
  if (position == 0) {
    return std::nullopt;
  }
  // The fraction is kept as digits over a power of ten, so "1.5G" is exact; digits beyond the
  // sixth are ignored, which keeps fraction times unit within 64 bits.
  uint64_t fraction = 0;
  uint64_t fraction_scale = 1;
  if (position < text.size() && text[position] == '.') {
    ++position;
    const size_t first_fraction_digit = position;
    while (position < text.size() && IsDigit(text[position])) {
      if (fraction_scale < 1'000'000) {
        fraction = fraction * 10 + static_cast<uint64_t>(text[position] - '0');
        fraction_scale *= 10;
      }
      ++position;
    }
    if (position == first_fraction_digit) {
      return std::nullopt;
    }
  }
  uint64_t unit = 1;
  if (position < text.size()) {
    switch (LowerAscii(text[position])) {
      case 'k': unit = uint64_t{1} << 10; ++position; break;
      case 'm': unit = uint64_t{1} << 20; ++position; break;
      case 'g': unit = uint64_t{1} << 30; ++position; break;
      case 't': unit = uint64_t{1} << 40; ++position; break;
      default: break;
    }
  }
  std::string_view rest = text.substr(position);
  if (unit != 1 && !rest.empty() && LowerAscii(rest.front()) == 'i') {
    rest.remove_prefix(1);
    if (rest.empty()) {
      return std::nullopt;
    }
  }
  if (!rest.empty() && LowerAscii(rest.front()) == 'b') {
    rest.remove_prefix(1);
  }
  if (!rest.empty()) {
    return std::nullopt;
  }
  if (whole > kLimit / unit) {
    return std::nullopt;
  }
  const uint64_t bytes = whole * unit + fraction * unit / fraction_scale;
  if (bytes > kLimit) {
    return std::nullopt;
  }
  return static_cast<int64_t>(bytes);
}

std::string FormatModifiedTime(int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds time{std::chrono::seconds(seconds)};
  const sys_days day = floor<days>(time);
  const year_month_day date(day);
  const hh_mm_ss clock(time - day);
  // Room for the widest values the formats allow, not only for real dates, so no text is cut.
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02u-%02u %02ld:%02ld", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long>(clock.hours().count()), static_cast<long>(clock.minutes().count()));
  return text;
}

std::string FormatSearchResults(const EncodableValue& reply) {
  const auto* list = std::get_if<EncodableList>(&reply);
  if (list == nullptr) {
    throw std::invalid_argument("the reply is not a list");
  }
  if (list->empty()) {
    return "No matching files.\n";
  }
  std::vector<FoundFile> files;
  files.reserve(list->size());
  for (const EncodableValue& entry : *list) {
    files.push_back(ReadFoundFile(entry));
  }
  std::vector<std::string> sizes;
  sizes.reserve(files.size());
  size_t size_width = 4;  // "Size"
  int64_t total = 0;
  for (const FoundFile& file : files) {
    sizes.push_back(FormatSize(file.size_bytes));
    size_width = std::max(size_width, sizes.back().size());
    total += file.size_bytes;
  }
  std::string table;
  const auto append_row = [&table, size_width](const std::string& size, const std::string& time,
                                               const std::string& path) {
    table.append(size_width - std::min(size_width, size.size()), ' ');
    table += size;
    table += "  ";
    table += time;
    table.append(kTimeWidth - std::min(kTimeWidth, time.size()), ' ');
    table += "  ";
    table += path;
    table += '\n';
  };
  append_row("Size", "Modified (UTC)", "Path");
  for (size_t index = 0; index < files.size(); ++index) {
    const FoundFile& file = files[index];
    append_row(sizes[index], file.modified_seconds ? FormatModifiedTime(*file.modified_seconds) : "", file.path);
  }
  table += FormatCount(static_cast<uint64_t>(files.size())) + (files.size() == 1 ? " file, " : " files, ") +
           FormatSize(total) + '\n';
  return table;
}

}  // namespace pel_mora::cli
