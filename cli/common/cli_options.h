#pragma once

// The command line of pelmora-cli: options anywhere before "--", then a command and its
// operands.

#include <cstdint>
#include <map>
#include <string_view>
#include <optional>
#include <string>
#include <vector>

#include "cli/connection/host_platform.h"

namespace pel_mora::cli {

struct CliOptions {
  std::optional<uint16_t> port;  // --port N: use a running host
  std::string host_path;         // --host PATH
  DisplayMode display = DisplayMode::kNullDriver;  // --display
  bool raw = false;              // --raw
  std::string report_path;       // --report FILE: with scan, also write an HTML report
  bool help = false;             // --help, -h, or the command "help"
  bool version = false;          // --version
  std::string command;
  std::vector<std::string> operands;
  // The options that belong to single commands (--json, --yes, --drive L, ...), by name without
  // "--"; flags have an empty value. Which command takes which is checked by RunCli.
  std::map<std::string, std::string> command_options;

  bool HasCommandOption(const std::string& name) const { return command_options.count(name) != 0; }
  // The option's value, or nullopt when it was not given.
  std::optional<std::string> CommandOptionValue(const std::string& name) const;
};

struct CliOptionsResult {
  CliOptions options;
  std::string error;  // empty when the command line is well formed

  bool ok() const { return error.empty(); }
};

// What --version prints after the program's name.
inline constexpr char kCliVersion[] = "1.0.0";

CliOptionsResult ParseCliOptions(const std::vector<std::string>& arguments);

// The help text, ending with a line break. `family_commands` holds the help lines of the
// commands of the operation families, shown between the built-in commands and "help".
std::string UsageText(std::string_view family_commands);

}  // namespace pel_mora::cli
