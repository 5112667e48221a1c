// The browser's terminal on ncurses. Kept to drawing lines and reading keys; what the lines say
// is decided by BrowserView.

#include <curses.h>
#include <unistd.h>

#include <clocale>
#include <stdexcept>

#include "cli/browser/browser_terminal.h"

namespace pel_mora::cli {

namespace {

BrowserKey KeyOf(int key) {
  switch (key) {
    case KEY_UP: case 'k': return BrowserKey::kUp;
    case KEY_DOWN: case 'j': return BrowserKey::kDown;
    case KEY_PPAGE: return BrowserKey::kPageUp;
    case KEY_NPAGE: return BrowserKey::kPageDown;
    case KEY_HOME: return BrowserKey::kHome;
    case KEY_END: return BrowserKey::kEnd;
    case KEY_ENTER: case '\n': case '\r': case KEY_RIGHT: case 'l': return BrowserKey::kOpen;
    case KEY_LEFT: case KEY_BACKSPACE: case 127: case 8: case 'h': return BrowserKey::kBack;
    case 's': return BrowserKey::kSort;
    case 'f': return BrowserKey::kLargestFiles;
    case 'd': return BrowserKey::kRecycle;
    case 'o': return BrowserKey::kReveal;
    case '?': return BrowserKey::kHelp;
    case 'q': case 'Q': return BrowserKey::kQuit;
    case 'y': case 'Y': return BrowserKey::kYes;
    default: return BrowserKey::kOther;
  }
}

class CursesTerminal : public BrowserTerminal {
 public:
  CursesTerminal() {
    std::setlocale(LC_ALL, "");
    if (initscr() == nullptr) {
      throw std::runtime_error("cannot take over the terminal (initscr failed)");
    }
    // cbreak rather than raw: Ctrl-C still raises SIGINT, whose handler the browser's loop
    // watches, so the terminal is restored by this object's destructor and not left behind.
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    curs_set(0);
    if (has_colors()) {
      start_color();
      use_default_colors();
      init_pair(1, COLOR_BLACK, COLOR_CYAN);
    }
  }

  ~CursesTerminal() override { endwin(); }

  CursesTerminal(const CursesTerminal&) = delete;
  CursesTerminal& operator=(const CursesTerminal&) = delete;

  std::optional<BrowserKey> ReadKey(std::chrono::milliseconds wait) override {
    wtimeout(stdscr, static_cast<int>(wait.count()));
    const int key = getch();
    if (key == ERR) {
      return std::nullopt;
    }
    // KEY_RESIZE: curses has already taken the new size; the next draw uses it.
    return KeyOf(key);
  }

  size_t width() const override { return static_cast<size_t>(COLS > 0 ? COLS : 0); }
  size_t height() const override { return static_cast<size_t>(LINES > 0 ? LINES : 0); }

  void Draw(const std::vector<ScreenLine>& lines) override {
    erase();
    for (size_t row = 0; row < lines.size(); ++row) {
      const ScreenLine& line = lines[row];
      const int attributes = line.style == ScreenLine::Style::kSelected ? A_REVERSE
                             : line.style == ScreenLine::Style::kBar   ? (has_colors() ? COLOR_PAIR(1) : A_REVERSE)
                                                                       : A_NORMAL;
      attron(attributes);
      // Writing the screen's last cell reports an error (the cursor cannot move past it) but
      // draws it; scrolling is off, so nothing moves.
      mvaddstr(static_cast<int>(row), 0, line.text.c_str());
      attroff(attributes);
    }
    refresh();
  }
};

}  // namespace

std::optional<std::string> BrowserTerminalUnavailable() {
  if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO)) {
    return std::string("browse is a full-screen program and needs a terminal on standard input and output");
  }
  return std::nullopt;
}

std::unique_ptr<BrowserTerminal> OpenBrowserTerminal() { return std::make_unique<CursesTerminal>(); }

}  // namespace pel_mora::cli
