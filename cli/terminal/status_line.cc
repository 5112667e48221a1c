#include "cli/terminal/status_line.h"

#include <algorithm>

namespace pel_mora::cli {

namespace {

bool IsContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

size_t CharacterCount(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char byte) { return !IsContinuationByte(byte); }));
}

// The first `count` characters of `text`.
std::string FirstCharacters(const std::string& text, size_t count) {
  size_t seen = 0;
  for (size_t index = 0; index < text.size(); ++index) {
    if (!IsContinuationByte(text[index]) && seen++ == count) {
      return text.substr(0, index);
    }
  }
  return text;
}

}  // namespace

std::string FitStatusLine(const std::vector<std::string>& parts, size_t columns) {
  const size_t room = columns > 1 ? columns - 1 : 0;
  std::string line;
  for (const std::string& part : parts) {
    const std::string longer = line.empty() ? part : line + "  " + part;
    if (CharacterCount(longer) > room) {
      break;
    }
    line = longer;
  }
  if (line.empty() && !parts.empty()) {
    line = FirstCharacters(parts.front(), room);
  }
  return line;
}

size_t StatusLine::Columns() const {
  const size_t columns = columns_ ? columns_() : 0;
  return columns > 0 ? columns : kDefaultTerminalColumns;
}

void StatusLine::Show(const std::vector<std::string>& parts) {
  const size_t columns = Columns();
  const std::string text = FitStatusLine(parts, columns);
  const size_t length = CharacterCount(text);
  // Spaces over what the previous, longer line left, but never past the last free column of a
  // window that has become narrower since.
  const size_t blank_to = std::min(shown_length_, columns > 1 ? columns - 1 : 0);
  const size_t padding = blank_to > length ? blank_to - length : 0;
  stream_ << '\r' << text << std::string(padding, ' ') << std::flush;
  shown_length_ = length;
}

void StatusLine::Clear() {
  if (shown_length_ == 0) {
    return;
  }
  const size_t columns = Columns();
  const size_t blank = std::min(shown_length_, columns > 1 ? columns - 1 : 0);
  stream_ << '\r' << std::string(blank, ' ') << '\r' << std::flush;
  shown_length_ = 0;
}

}  // namespace pel_mora::cli
