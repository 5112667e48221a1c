#include "cli/commands/commands.h"

#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>

#include "cli/browser/browse_command.h"
#include "cli/commands/command_support.h"
#include "cli/commands/command_table.h"
#include "cli/commands/scan_command.h"
#include "cli/common/cli_options.h"
#include "cli/common/drive_table.h"
#include "cli/common/json.h"
#include "cli/connection/bridge_client.h"

namespace pel_mora::cli {

namespace {

using flutter::EncodableValue;

int RunCall(HostSession& session, const std::string& method, const std::optional<EncodableValue>& arguments,
            const CliOptions& options, const CliEnvironment& environment) {
  const Reply reply = session.Call(method, arguments ? &*arguments : nullptr);
  if (options.raw) {
    *environment.out << HexDump(reply.bytes);
  }
  if (reply.kind != ReplyKind::kSuccess) {
    environment.out->flush();
    return ReportUnsuccessfulReply(*environment.err, method, reply);
  }
  *environment.out << FormatJson(reply.value, JsonLayout::kIndented) << '\n' << std::flush;
  return kExitSuccess;
}

int RunDrives(HostSession& session, const CliOptions& options, const CliEnvironment& environment) {
  const Reply reply = session.Call("getDrives", nullptr);
  if (options.raw) {
    *environment.out << HexDump(reply.bytes);
  }
  if (reply.kind != ReplyKind::kSuccess) {
    environment.out->flush();
    return ReportUnsuccessfulReply(*environment.err, "getDrives", reply);
  }
  if (options.HasCommandOption("json")) {
    *environment.out << FormatJson(reply.value, JsonLayout::kIndented) << '\n' << std::flush;
    return kExitSuccess;
  }
  try {
    *environment.out << FormatDriveTable(reply.value) << std::flush;
  } catch (const std::invalid_argument&) {
    *environment.err << "pelmora-cli: the reply to \"getDrives\" is not a list of drives: "
                     << FormatJson(reply.value, JsonLayout::kCompact) << '\n';
    return kExitUsage;
  }
  return kExitSuccess;
}

// The methods of "com.pelmora.app/native", for "call"'s help.
constexpr std::string_view kNativeMethods =
    "                       methods: getDrives, startScan, cancelScan, scanCleanableCategories,\n"
    "                       performCleanup, recyclePaths, getRecycleBinInfo, emptyRecycleBin,\n"
    "                       getInstalledApps, launchUninstaller, startDuplicateScan, searchFiles,\n"
    "                       cancelSearch, openInExplorer, openFile, pickFolder, verifyAuthenticode,\n"
    "                       getSystemMetrics, secureWrite, secureRead, secureDelete\n";

// The help lines of the commands RunCli runs itself, as UsageText shows them.
std::string BuiltInHelp(const std::string& command) {
  const std::string usage = UsageText("");
  std::string lines;
  bool inside = false;
  size_t start = 0;
  while (start < usage.size()) {
    const size_t end = usage.find('\n', start);
    const std::string line = usage.substr(start, end - start);
    start = end == std::string::npos ? usage.size() : end + 1;
    // A command's first line starts with its name in column 3; its further lines with spaces.
    if (line.rfind("  " + command + " ", 0) == 0 || line == "  " + command) {
      inside = true;
    } else if (inside && line.rfind("                       ", 0) != 0) {
      inside = false;
    }
    if (inside) {
      lines += line + '\n';
    }
  }
  if (command == "call") {
    lines += kNativeMethods;
  }
  return lines;
}

int RunMap(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 0, 2, "map [LETTER FOLDER]");
  if (options.operands.size() == 1) {
    throw UsageError("usage: pelmora-cli map LETTER FOLDER (or map alone to list the drive letters)");
  }
  if (environment.platform == nullptr) {
    throw UsageError("map changes the Wine settings of the Linux client; this build has none");
  }
  HostPlatform& platform = *environment.platform;
  if (options.operands.empty()) {
    *environment.out << "Drive letters in " << platform.SettingsLocation() << ":\n";
    for (const auto& [letter, target] : platform.DriveLetterMappings()) {
      *environment.out << "  " << letter << ":  " << target << '\n';
    }
    return kExitSuccess;
  }
  const char letter = RequireDriveLetter(options.operands[0]);
  const std::string& folder = options.operands[1];
  const std::optional<std::string> previous = platform.MapDriveLetter(letter, folder, *environment.err);
  *environment.out << "Drive " << letter << ": now shows " << folder;
  if (previous) {
    *environment.out << " (it showed " << *previous << " before)";
  }
  *environment.out << '\n';
  return kExitSuccess;
}

// "maps" lists the letters as "map" alone does; "unmap LETTER" removes one.
int RunMapsOrUnmap(const CliOptions& options, const CliEnvironment& environment) {
  const bool unmap = options.command == "unmap";
  RequireOperandCount(options, unmap ? 1 : 0, unmap ? 1 : 0, unmap ? "unmap LETTER" : "maps");
  if (!unmap) {
    CliOptions listing = options;
    listing.command = "map";
    return RunMap(listing, environment);
  }
  const char letter = RequireDriveLetter(options.operands[0]);
  if (environment.platform == nullptr) {
    throw UsageError("unmap changes the Wine settings of the Linux client; this build has none");
  }
  const std::string previous = environment.platform->UnmapDriveLetter(letter);
  *environment.out << "Drive " << letter << ": removed (it showed " << previous << ")\n";
  return kExitSuccess;
}

void PrintDetails(std::ostream& err, const std::string& heading, const std::vector<std::string>& lines) {
  if (lines.empty()) {
    return;
  }
  err << heading << '\n';
  for (const std::string& line : lines) {
    err << "  " << line << '\n';
  }
}

std::vector<CommandDefinition> FamilyCommands() {
  std::vector<CommandDefinition> all;
  for (std::vector<CommandDefinition> family : {CleanupCommands(), RecycleCommands(), DuplicateCommands(),
                                               SearchCommands(), SystemCommands(), ShellCommands(),
                                               BrowserCommands()}) {
    for (CommandDefinition& definition : family) {
      all.push_back(std::move(definition));
    }
  }
  return all;
}

std::string FamilyHelp() {
  std::string help;
  for (const CommandDefinition& definition : FamilyCommands()) {
    help.append(definition.help);
  }
  return help;
}

// Command-specific options given to a command that does not take them are a usage error, so a
// mistyped command line never runs with an option silently ignored.
void RequireOwnOptions(const CliOptions& options, const std::vector<std::string_view>& accepted) {
  for (const auto& [name, value] : options.command_options) {
    bool known = false;
    for (const std::string_view candidate : accepted) {
      known = known || candidate == name;
    }
    if (!known) {
      throw UsageError("--" + name + " does not go with the " + options.command + " command");
    }
  }
}

SessionCommand PrepareSessionCommand(const CliOptions& options, const CliEnvironment& environment) {
  const std::string& command = options.command;
  for (const CommandDefinition& definition : FamilyCommands()) {
    if (definition.name == command) {
      RequireOwnOptions(options, definition.options);
      return definition.prepare(options, environment);
    }
  }
  RequireOwnOptions(options, command == "drives" ? std::vector<std::string_view>{"json"}
                             : command == "scan"  ? std::vector<std::string_view>{"save", "json"}
                                                  : std::vector<std::string_view>{});
  if (command == "call") {
    RequireOperandCount(options, 1, 2, "call METHOD [JSON]");
    const std::string method = options.operands[0];
    if (method.empty()) {
      throw UsageError("the method name is empty");
    }
    std::optional<EncodableValue> arguments;
    if (options.operands.size() == 2) {
      JsonParseResult parsed = ParseJson(options.operands[1]);
      if (!parsed.ok()) {
        throw UsageError("bad JSON argument: " + parsed.error);
      }
      arguments = std::move(parsed.value);
    }
    return [method, arguments, &options, &environment](HostSession& session) {
      return RunCall(session, method, arguments, options, environment);
    };
  }
  if (command == "drives") {
    RequireOperandCount(options, 0, 0, "drives");
    return [&options, &environment](HostSession& session) { return RunDrives(session, options, environment); };
  }
  if (command == "scan") {
    RequireOperandCount(options, 1, 1, "scan LETTER|FOLDER");
    // A host started here sees exactly the client's drive letters, so an unknown one is known
    // before anything starts; a Linux folder gets its letter before the host starts, since Wine
    // programs see the letters of their prefix as it was when they started.
    CommandFolder folder = ResolveFolderOperand(options.operands[0], FolderOperand::kDriveOnly, options, environment);
    const char letter = *folder.drive_letter;
    // What the letter shows is saved with the scan, so that a later browse of the file acts on
    // those files and not on whatever the letter shows by then. A host on --port has letters of
    // its own, which the client cannot see.
    std::optional<std::string> drive_folder;
    if (!options.port && environment.platform != nullptr) {
      drive_folder = environment.platform->DriveLetterFolder(letter);
      std::error_code error;
      const std::filesystem::path canonical = drive_folder ? std::filesystem::canonical(*drive_folder, error)
                                                           : std::filesystem::path();
      drive_folder = drive_folder && !error ? std::optional<std::string>(canonical.string()) : std::nullopt;
    }
    return [letter, folder = std::move(folder), drive_folder, &options, &environment](HostSession& session) {
      ScanOutput output;
      output.drive_folder = drive_folder;
      output.report_path = options.report_path;
      output.save_path = options.CommandOptionValue("save").value_or("");
      output.json = options.HasCommandOption("json");
      output.out = environment.out;
      output.err = environment.err;
      output.err_is_terminal = environment.err_is_terminal;
      output.err_columns = environment.err_columns;
      output.interrupt_count = environment.interrupt_count;
      output.letter = folder.loan.get();
      return RunScanCommand(session, letter, output);
    };
  }
  throw UsageError("unknown command \"" + command + "\" (see pelmora-cli --help)");
}

}  // namespace

int RunCli(const std::vector<std::string>& arguments, const CliEnvironment& environment) {
  std::ostream& err = *environment.err;
  const CliOptionsResult parsed = ParseCliOptions(arguments);
  if (!parsed.ok()) {
    err << "pelmora-cli: " << parsed.error << " (see pelmora-cli --help)\n";
    return kExitUsage;
  }
  const CliOptions& options = parsed.options;
  if (options.version) {
    *environment.out << "pelmora-cli " << kCliVersion << '\n';
    return kExitSuccess;
  }
  if (options.help) {
    // "help COMMAND" and "COMMAND --help" show that command's lines only.
    const std::string topic = options.command == "help" ? (options.operands.empty() ? "" : options.operands[0])
                                                        : options.command;
    if (topic.empty()) {
      *environment.out << UsageText(FamilyHelp());
      return kExitSuccess;
    }
    std::string lines = BuiltInHelp(topic);
    for (const CommandDefinition& definition : FamilyCommands()) {
      if (definition.name == topic) {
        lines = definition.help;
      }
    }
    if (lines.empty()) {
      err << "pelmora-cli: unknown command \"" << topic << "\" (see pelmora-cli --help)\n";
      return kExitUsage;
    }
    *environment.out << "Usage: pelmora-cli [OPTIONS] " << topic << " ...\n" << lines;
    return kExitSuccess;
  }
  if (options.command.empty()) {
    err << UsageText(FamilyHelp());
    return kExitUsage;
  }
  const InterruptCheck interrupted = [&environment] {
    return environment.interrupt_count && environment.interrupt_count() > 0;
  };
  // ORDER MATTERS: the command is declared before the session, so that it is destroyed after
  // it. A command may hold a drive letter lent to a folder, which must outlast the host that uses
  // it; the host is closed first, then the letter removed.
  SessionCommand command;
  // Declared outside the try, so that the handlers can still show a started host's last lines;
  // its destructor closes that host on every path.
  std::unique_ptr<HostSession> session;
  try {
    if (!options.report_path.empty() && options.command != "scan") {
      throw UsageError("--report goes with the scan command only");
    }
    if (options.command == "map") {
      RequireOwnOptions(options, {});
      return RunMap(options, environment);
    }
    if (options.command == "maps" || options.command == "unmap") {
      RequireOwnOptions(options, {});
      return RunMapsOrUnmap(options, environment);
    }
    if (const std::optional<int> status = RunWithoutHost(options, environment)) {
      return *status;
    }
    // Everything the command line says is checked before a host is started for it.
    command = PrepareSessionCommand(options, environment);
    session = std::make_unique<HostSession>(options, environment.platform, environment.session, interrupted, err);
    const int status = command(*session);
    session->Finish();
    return status;
  } catch (const UsageError& error) {
    err << "pelmora-cli: " << error.what() << '\n';
    return kExitUsage;
  } catch (const InterruptedError&) {
    err << "pelmora-cli: interrupted\n";
    return kExitInterrupted;
  } catch (const PlatformError& error) {
    err << "pelmora-cli: " << error.what() << '\n';
    PrintDetails(err, "The host's last lines:", error.details());
    return kExitUsage;
  } catch (const std::exception& error) {
    // Connection and protocol failures, and anything unexpected: one line, never a trace.
    err << "pelmora-cli: " << error.what() << '\n';
    if (session && session->started_host()) {
      try {
        session->Finish();
      } catch (const std::exception&) {
        // Closing is best effort here; the failure above is the one to report.
      }
      PrintDetails(err, "The host's last lines:", session->HostOutput());
    }
    return kExitUsage;
  }
}

}  // namespace pel_mora::cli
