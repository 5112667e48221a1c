#pragma once

// What every command of pelmora-cli shares: usage errors, operand checks, the report of an
// unsuccessful reply, the confirmation before deleting and the translation of Linux paths into
// the names the host sees. Each family of commands has a file of its own (drives and scan in
// commands.cc, the others in <family>_commands.cc) and lists its commands in command_table.h.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands/commands.h"
#include "cli/common/cli_options.h"
#include "cli/connection/bridge_client.h"
#include "cli/connection/drive_letter_loan.h"
#include "cli/connection/local_paths.h"

namespace pel_mora::cli {

// A command line that cannot be run as given; RunCli prints it and exits with kExitUsage.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "Q", "q", "Q:" and "Q:\" (or "Q:/") all name drive Q.
std::optional<char> ParseDriveLetter(const std::string& text);
char RequireDriveLetter(const std::string& text);

// Throws "usage: pelmora-cli SYNOPSIS" unless the command has from `minimum` to `maximum` operands.
void RequireOperandCount(const CliOptions& options, size_t minimum, size_t maximum, const char* synopsis);

// The reply's bytes as offset and hexadecimal lines, for --raw.
std::string HexDump(const std::vector<uint8_t>& bytes);

// Prints a reply that is not a success (error code and message, a method the host does not
// implement, a reply that is no envelope) and returns the exit status it stands for; for a
// success it prints nothing and returns kExitSuccess.
int ReportUnsuccessfulReply(std::ostream& err, const std::string& method, const Reply& reply);

enum class Confirmation { kConfirmed, kDeclined };

// Asks before something is deleted. With --yes the answer is yes without a question. Without it,
// a person at a terminal is asked `question` (followed by " [y/N] " on standard error) and only
// "y" or "yes" confirms; when standard input is not a terminal nobody can answer, so the command
// is refused with a usage error that names --yes.
Confirmation ConfirmDeletion(const CliOptions& options, const CliEnvironment& environment, const std::string& question);

// The name the host (a Windows program under Wine) knows a path by. Windows paths ("C:\x",
// "C:/x", "\\server\share") pass unchanged. On Linux, where Wine shows the whole file system as
// drive Z:, an absolute path "/a/b" becomes "Z:\a\b" and a relative one is taken from the current
// folder first. The Windows build of the client passes every path unchanged.
std::string HostPathForOperand(const std::string& operand);

// Refuses `command`, which shows a window to a person (a dialog, an application, Explorer), when
// the host this client would start could not be seen: without --display, or with it and no
// DISPLAY. Refused before a host starts, so nothing waits on a window and nothing it opened is
// left running. A host given with --port has a display of its own, which the client cannot see.
void RequireVisibleHost(const std::string& command, const CliOptions& options, const CliEnvironment& environment);

// Whether `operand` exists where the client can see it (a Linux path, or a drive path of a host
// started here); kUnknown elsewhere, where only the host can tell.
LocalPresence CheckOperandPresence(const std::string& operand, const CliOptions& options,
                                   const CliEnvironment& environment);

// HostPathForOperand of a path that must exist. Where the client can see it (a Linux path, or a
// drive path of a host started here) and it is missing, the command is refused with a usage
// error that names it, before any host starts; elsewhere the host decides.
std::string RequireExistingHostPath(const std::string& operand, const CliOptions& options,
                                    const CliEnvironment& environment);

// Refuses a drive letter that a host started here would not know, with the hint to map it. A
// running host (--port) may have settings of its own: it decides.
void RequireKnownDriveLetter(char letter, const CliOptions& options, const CliEnvironment& environment);

// The drive letter a host path ("Q:\...", "Q:") is on; nothing for a share or another form.
std::optional<char> HostPathLetter(const std::string& host_path);

// The letter `letter` used by a command as it is (DriveLetterLoan::ForLetter), for a host started
// here; nothing for a host on --port, whose letters the client cannot see, or without a
// platform. Throws PlatformError while another client changes the letter.
std::shared_ptr<DriveLetterLoan> UseDriveLetter(char letter, const CliOptions& options,
                                                const CliEnvironment& environment);

// Right before an act that sends a path through `loan`'s letter (none: nothing to check): when
// the letter no longer shows the folder it showed when the command resolved it, says so on
// `err`, followed by `not_done` ("nothing was recycled"), and returns kExitFailure, so that the
// caller sends nothing; kExitSuccess otherwise.
int RefuseIfLetterChanged(const DriveLetterLoan* loan, const std::string& not_done, std::ostream& err);

// A path a command acts on, as the host names it, with the letter it goes through.
struct CommandPath {
  std::string host_path;
  // The path's drive letter, in use for the command (null where the client cannot see it).
  std::shared_ptr<DriveLetterLoan> loan;
};

// RequireExistingHostPath with the path's letter in use for the command, for the acts on one
// path (open, reveal, verify). The letter is taken first, so that what is found there is what
// the letter goes on showing until the act, or the act is refused.
CommandPath ResolveExistingPath(const std::string& operand, const CliOptions& options,
                                const CliEnvironment& environment);

// What a command that works below one folder (scan, browse, dupes, search) was given.
struct CommandFolder {
  // The folder as the host names it: a drive's root ("Q:\") or a Windows path as given.
  std::string host_path;
  // The drive when host_path is a drive's root.
  std::optional<char> drive_letter;
  // The letter the folder is reached through, lent to a Linux folder or used as it is, while the
  // command runs (a lent letter's mapping lasts as long as the last copy of this); null where
  // the client cannot see the host's letters.
  std::shared_ptr<DriveLetterLoan> loan;
};

enum class FolderOperand {
  kDriveOnly,  // a whole drive: a letter, or a Linux folder that is given one (scan, browse)
  kAnyFolder,  // also any Windows path below a drive (dupes, search)
};

// The folder `operand` names. A drive letter ("Q", "Q:", "Q:\") must be known to a host started
// here. A Linux folder must exist; it is reached through a drive letter that already shows it,
// or else through a free letter mapped for the command's duration, and standard error names the
// letter. A host given with --port has drive letters of its own, which the client cannot lend: a
// Linux folder is then given by its Wine name (Z:...) where a path will do and refused where a
// drive is needed. The letter is in use for the command (CommandFolder::loan). Throws
// UsageError for what cannot be used, before any host starts.
CommandFolder ResolveFolderOperand(const std::string& operand, FolderOperand kind, const CliOptions& options,
                                   const CliEnvironment& environment);

}  // namespace pel_mora::cli
