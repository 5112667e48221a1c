#include "cli/terminal/hidden_input.h"

#include <windows.h>

namespace pel_mora::cli {

struct HiddenTerminalInput::SavedSettings {
  HANDLE console;
  DWORD mode;
};

HiddenTerminalInput::HiddenTerminalInput() {
  const HANDLE console = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || console == nullptr || !GetConsoleMode(console, &mode)) {
    return;  // not a console
  }
  // Line input stays on, so the person can still correct a typo before Enter.
  if (SetConsoleMode(console, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT))) {
    saved_ = std::make_unique<SavedSettings>(SavedSettings{console, mode});
  }
}

HiddenTerminalInput::~HiddenTerminalInput() {
  if (saved_) {
    SetConsoleMode(saved_->console, saved_->mode);
  }
}

}  // namespace pel_mora::cli
