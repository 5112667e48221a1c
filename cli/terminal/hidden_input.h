#pragma once

// Typing that stays off the screen: while a HiddenTerminalInput lives, the terminal on standard
// input does not echo what is typed (a secret being entered); its previous settings come back
// when the object goes, also when reading throws. When standard input is no terminal nothing
// changes.

#include <memory>

namespace pel_mora::cli {

class HiddenTerminalInput {
 public:
  HiddenTerminalInput();
  ~HiddenTerminalInput();

  HiddenTerminalInput(const HiddenTerminalInput&) = delete;
  HiddenTerminalInput& operator=(const HiddenTerminalInput&) = delete;

 private:
  // The terminal settings to restore; null when nothing was changed.
  struct SavedSettings;
  std::unique_ptr<SavedSettings> saved_;
};

}  // namespace pel_mora::cli
