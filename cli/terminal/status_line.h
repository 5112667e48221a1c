#pragma once

// One line of live status on a terminal (a scan's counts, a spinner), rewritten in place with a
// carriage return. Such a line must never wrap: a carriage return goes back only to the start of
// the terminal's last row, so every rewrite of a wrapped line would leave its first rows behind.

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace pel_mora::cli {

// The terminal's width in columns, asked at every rewrite since the window may be resized; 0
// when it cannot be told.
using TerminalColumns = std::function<size_t()>;

// Assumed when the width cannot be told.
constexpr size_t kDefaultTerminalColumns = 80;

// `parts` joined by two spaces, leaving parts out from the end until the line fits in
// `columns` - 1 characters (the last column stays free: writing there makes some terminals move
// the cursor to the next row); when the first part alone is too long it is cut to fit. Characters
// are counted as UTF-8 code points, and a cut never splits one.
std::string FitStatusLine(const std::vector<std::string>& parts, size_t columns);

class StatusLine {
 public:
  StatusLine(std::ostream& stream, TerminalColumns columns) : stream_(stream), columns_(std::move(columns)) {}
  ~StatusLine() { Clear(); }

  StatusLine(const StatusLine&) = delete;
  StatusLine& operator=(const StatusLine&) = delete;

  // Replaces the line with `parts`, as many as fit.
  void Show(const std::vector<std::string>& parts);

  // Blanks the line and leaves the cursor at its start, for the output that follows.
  void Clear();

 private:
  size_t Columns() const;

  std::ostream& stream_;
  TerminalColumns columns_;
  size_t shown_length_ = 0;  // in characters
};

}  // namespace pel_mora::cli
