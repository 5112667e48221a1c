#pragma once

// How an uninstaller's command line is turned into something that starts the intended program:
// environment variables expanded, an unquoted program path with spaces pinned down before the
// system's own search could pick a shorter prefix, and the program split from its arguments for
// the shell. Plain text rules, kept apart from the process and shell calls so they run against
// fakes and natively.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pel_mora {

// The program and its arguments as the system reads the first word of a command line: a word
// starting with a double quote runs to the next double quote (there is no escape inside it), any
// other word to the first space or tab. Blanks before the program and between it and the
// parameters are dropped; the parameters are otherwise kept as written.
struct CommandParts {
  std::wstring program;
  std::wstring parameters;
};
CommandParts SplitCommandLine(std::wstring_view command_line);

enum class PathKind { kMissing, kFile, kFolder };

// What a path names on the disk, asked while the program of a command is being pinned down.
class PathProbe {
 public:
  virtual ~PathProbe() = default;
  virtual PathKind KindOf(const std::wstring& path) = 0;
};

// The command with its program made unambiguous, or nothing when no safe reading exists.
// - A quoted program, or a command without blanks, is kept as it is.
// - Otherwise the program is the shortest prefix ending at a blank (or at the end) that ends in
//   ".exe" and names an existing file; it is quoted. The system would instead try every shorter
//   prefix first ("C:\Program.exe" for "C:\Program Files\..."), so a program planted there would
//   run in place of the uninstaller.
// - With no such prefix, a command that as a whole names an existing file or folder (a document
//   to open) is quoted whole, and a command whose first word is a bare name without a folder
//   ("MsiExec.exe /X{...}") is kept for the system's search.
// - Any other command names a program path that does not exist: nothing is safe to start.
std::optional<std::wstring> PinProgram(std::wstring_view command_line, PathProbe& probe);

// The calls that start an uninstaller, so the launch rule runs against fakes.
class CommandStarter : public PathProbe {
 public:
  // The text with %NAME% references to environment variables replaced; unknown names stay.
  virtual std::wstring ExpandEnvironment(const std::wstring& text) = 0;
  // Starts the command line as a process; true when the process was created.
  virtual bool StartProcess(const std::wstring& command_line) = 0;
  // Asks the shell to open `program` with `parameters` (empty for none); the shell's result code
  // (above 32 on success).
  virtual intptr_t OpenWithShell(const std::wstring& program, const std::wstring& parameters) = 0;
};

// Expands the command, pins its program down, and starts it as a process; when that fails (most
// uninstallers need elevation, which process creation cannot ask for, or the command is a
// document) the shell opens the program with its parameters, asking for elevation where the
// program needs it. An empty command, or one with no safe reading, starts nothing. True when
// either way started it.
bool LaunchUninstallCommand(const std::wstring& command, CommandStarter& starter);

}  // namespace pel_mora
