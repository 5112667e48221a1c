#include "cli/terminal/hidden_input.h"

#include <termios.h>
#include <unistd.h>

namespace pel_mora::cli {

struct HiddenTerminalInput::SavedSettings {
  termios settings;
};

HiddenTerminalInput::HiddenTerminalInput() {
  termios settings{};
  if (::tcgetattr(STDIN_FILENO, &settings) != 0) {
    return;  // not a terminal
  }
  auto saved = std::make_unique<SavedSettings>(SavedSettings{settings});
  // Line editing stays on (ICANON), so the person can still correct a typo before Enter.
  settings.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &settings) == 0) {
    saved_ = std::move(saved);
  }
}

HiddenTerminalInput::~HiddenTerminalInput() {
  if (saved_) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_->settings);
  }
}

}  // namespace pel_mora::cli
