#pragma once

// The command line of pelmora-cli: options anywhere before "--", then a command and its
// operands.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/host_platform.h"

namespace pel_mora::cli {

struct CliOptions {
  std::optional<uint16_t> port;  // --port N: use a running host
  std::string host_path;         // --host PATH
  DisplayMode display = DisplayMode::kNullDriver;  // --display
  bool raw = false;              // --raw
  std::string report_path;       // --report FILE: with scan, also write an HTML report
  bool help = false;             // --help, -h, or the command "help"
  std::string command;
  std::vector<std::string> operands;
};

struct CliOptionsResult {
  CliOptions options;
  std::string error;  // empty when the command line is well formed

  bool ok() const { return error.empty(); }
};

CliOptionsResult ParseCliOptions(const std::vector<std::string>& arguments);

// The help text, ending with a line break.
std::string UsageText();

}  // namespace pel_mora::cli
