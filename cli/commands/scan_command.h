#pragma once

// The "scan" command: listens on the scan channel, starts the scan, shows live progress and
// prints the summary. Ctrl-C sends "cancelScan" and reports the partial result once the host
// confirms the cancellation.

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "cli/connection/drive_letter_loan.h"
#include "cli/connection/host_session.h"
#include "cli/terminal/status_line.h"

namespace pel_mora::cli {

struct ScanOutput {
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  bool err_is_terminal = false;
  TerminalColumns err_columns;
  std::function<unsigned()> interrupt_count;
  // Where to write the HTML report of the scan; empty for none.
  std::string report_path;
  // The summary as JSON on `out` instead of lines for a person.
  bool json = false;
  // Where to save the whole scan (every entry) as JSON; empty for none.
  std::string save_path;
  // The Linux folder the drive letter shows, saved with the scan; nothing when unknown.
  std::optional<std::string> drive_folder;
  // The letter as the command resolved it (null where the client cannot see it): the scan is
  // not started, and not saved, once the letter shows another folder.
  const DriveLetterLoan* letter = nullptr;
};

// Scans drive `letter` ('A' to 'Z') and returns the exit status.
int RunScanCommand(HostSession& session, char letter, const ScanOutput& output);

}  // namespace pel_mora::cli
