#pragma once

// The commands of pelmora-cli, run against a host session, with every outcome turned into an
// exit status and lines for a person. main() only wires real streams, signals and the platform
// in; the tests wire in string streams, a cancel trigger and a fake host.

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "cli/connection/host_platform.h"
#include "cli/connection/host_session.h"
#include "cli/terminal/status_line.h"

namespace pel_mora::cli {

enum ExitStatus : int {
  kExitSuccess = 0,
  kExitFailure = 1,       // an error reply, a method the host does not implement, an unreadable drive
  kExitUsage = 2,         // bad command line, connection or protocol failure, host did not start
  kExitInterrupted = 130  // Ctrl-C (the shell convention: 128 + SIGINT)
};

struct CliEnvironment {
  std::istream* in = nullptr;   // answers to confirmation questions, values read by commands
  // Whether `in` is a terminal: only a person at a terminal can confirm a deletion.
  bool in_is_terminal = false;
  std::ostream* out = nullptr;  // results
  std::ostream* err = nullptr;  // diagnostics and live progress
  // Whether `err` is a terminal: progress then rewrites one line instead of printing lines.
  bool err_is_terminal = false;
  // The width of that terminal, asked at every rewrite of a progress line; null or 0: unknown.
  TerminalColumns err_columns;
  // How many times the person asked to stop (Ctrl-C). The first request cancels a running scan
  // (or ends any other wait); a second one gives up on waiting for the cancelled scan.
  std::function<unsigned()> interrupt_count;
  // Starts hosts and maps drive letters; null where the build has no way to (then --port is
  // required and "map" is unavailable).
  HostPlatform* platform = nullptr;
  SessionSettings session;
};

// Runs one command line (without the program name) and returns the exit status.
int RunCli(const std::vector<std::string>& arguments, const CliEnvironment& environment);

}  // namespace pel_mora::cli
