#include "cli/connection/local_paths.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace pel_mora::cli {
namespace {

namespace fs = std::filesystem;

char FoldAsciiCase(char character) {
  return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a') : character;
}

bool EqualIgnoringAsciiCase(const std::string& left, const std::string& right) {
  if (left.size() != right.size()) {
    return false;
  }
  for (size_t index = 0; index < left.size(); ++index) {
    if (FoldAsciiCase(left[index]) != FoldAsciiCase(right[index])) {
      return false;
    }
  }
  return true;
}

bool Exists(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error) && !error;
}

// The names of a Windows path after the drive, split at both kinds of separator; "." is dropped
// and ".." goes up, as Windows resolves them before it looks at the disk.
std::vector<std::string> WindowsNames(const std::string& rest) {
  std::vector<std::string> names;
  std::string current;
  auto flush = [&names, &current] {
    if (current == "..") {
      if (!names.empty()) {
        names.pop_back();
      }
    } else if (!current.empty() && current != ".") {
      names.push_back(current);
    }
    current.clear();
  };
  for (const char character : rest) {
    if (character == '\\' || character == '/') {
      flush();
    } else {
      current.push_back(character);
    }
  }
  flush();
  return names;
}

}  // namespace

LocalPresence CheckLocalPresence(const std::string& operand, const DriveFolderLookup& drive_folder) {
  return FindLocalPath(operand, drive_folder).presence;
}

LocalPath FindLocalPath(const std::string& operand, const DriveFolderLookup& drive_folder) {
  if (operand.empty()) {
    return {LocalPresence::kUnknown, ""};
  }
  const bool drive_path = operand.size() >= 2 && operand[1] == ':' &&
                          ((operand[0] >= 'A' && operand[0] <= 'Z') || (operand[0] >= 'a' && operand[0] <= 'z'));
  const bool unc_path = operand.size() >= 2 && (operand[0] == '\\' || operand[0] == '/') &&
                        (operand[1] == '\\' || operand[1] == '/') && operand[0] != '/';
  if (unc_path) {
    return {LocalPresence::kUnknown, ""};
  }
  if (!drive_path) {
#ifdef _WIN32
    // There such a path is a relative Windows one, which only the host resolves as it should.
    return {LocalPresence::kUnknown, ""};
#else
    return Exists(fs::path(operand)) ? LocalPath{LocalPresence::kPresent, operand}
                                     : LocalPath{LocalPresence::kMissing, ""};
#endif
  }
  const std::optional<std::string> folder = drive_folder ? drive_folder(FoldAsciiCase(operand[0]) - 'a' + 'A')
                                                         : std::nullopt;
  if (!folder) {
    return {LocalPresence::kUnknown, ""};
  }
  fs::path current(*folder);
  if (!Exists(current)) {
    return {LocalPresence::kMissing, ""};
  }
  for (const std::string& name : WindowsNames(operand.substr(2))) {
    if (Exists(current / name)) {
      current /= name;
      continue;
    }
    std::optional<fs::path> match;
    std::error_code error;
    for (fs::directory_iterator entry(current, error), end; !error && entry != end; entry.increment(error)) {
      if (EqualIgnoringAsciiCase(entry->path().filename().string(), name)) {
        match = entry->path();
        break;
      }
    }
    if (!match) {
      return {name.find('~') != std::string::npos ? LocalPresence::kUnknown : LocalPresence::kMissing, ""};
    }
    current = *match;
  }
  return {LocalPresence::kPresent, current.string()};
}

}  // namespace pel_mora::cli
