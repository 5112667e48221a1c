#pragma once

// The "browse" command, the saved-scan commands around it ("report FILE.json OUT.html",
// "browse --load FILE.json") and the part of "scan --save" that writes the file.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands/command_table.h"
#include "cli/connection/drive_letter_loan.h"

namespace pel_mora::cli {

// What browse shows: a drive it scans, or a saved scan. Resolved in one place
// (ResolveBrowseTarget) from the command line, before any host is started.
struct BrowseTarget {
  char drive_letter = 0;   // the drive to scan, when no file is given
  std::string saved_scan;  // --load FILE.json
  // The letter the drive is scanned through, in use for the browser's duration (lent to a Linux
  // folder, or used as given); null where the client cannot see the host's letters.
  std::shared_ptr<DriveLetterLoan> loan;
};

BrowseTarget ResolveBrowseTarget(const CliOptions& options, const CliEnvironment& environment);

// browse (with a host) in the command table.
std::vector<CommandDefinition> BrowserCommands();

// Runs the commands that need no host: "report FILE.json OUT.html" and "browse --load FILE".
// Nothing when the command line is not one of them. Throws UsageError.
std::optional<int> RunWithoutHost(const CliOptions& options, const CliEnvironment& environment);

}  // namespace pel_mora::cli
