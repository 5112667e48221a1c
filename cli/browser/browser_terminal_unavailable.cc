// Builds without a terminal library (the Windows tree): the browser says it is not there.

#include <stdexcept>

#include "cli/browser/browser_terminal.h"

namespace pel_mora::cli {

std::optional<std::string> BrowserTerminalUnavailable() {
  return std::string("browse is not available in this build of the client (it needs ncurses; use the Linux client)");
}

std::unique_ptr<BrowserTerminal> OpenBrowserTerminal() {
  throw std::runtime_error("browse is not available in this build of the client");
}

}  // namespace pel_mora::cli
