#pragma once

// The full-screen terminal under the browser: keys in, lines of text out. The curses version
// (Linux) is the only one that touches the terminal; it restores it when it is destroyed, which
// every way out of the browser passes through.

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/browser/browser_view.h"

namespace pel_mora::cli {

class BrowserTerminal {
 public:
  virtual ~BrowserTerminal() = default;

  // A key, waiting at most `timeout` for one; nothing when none came. A resize of the window is
  // taken in here (the next size() is the new one) and reported as BrowserKey::kOther.
  virtual std::optional<BrowserKey> ReadKey(std::chrono::milliseconds timeout) = 0;

  virtual size_t width() const = 0;
  virtual size_t height() const = 0;

  // Replaces the screen with these lines.
  virtual void Draw(const std::vector<ScreenLine>& lines) = 0;
};

// Why the browser cannot run here (no terminal on standard input and output, or a build without
// a terminal library), or nothing when it can. Checked before a host is started.
std::optional<std::string> BrowserTerminalUnavailable();

// Takes over the terminal. Throws std::runtime_error when it cannot.
std::unique_ptr<BrowserTerminal> OpenBrowserTerminal();

}  // namespace pel_mora::cli
