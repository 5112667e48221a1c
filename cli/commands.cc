#include "cli/commands.h"

#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>

#include "cli/bridge_client.h"
#include "cli/cli_options.h"
#include "cli/drive_table.h"
#include "cli/json.h"
#include "cli/scan_command.h"

namespace pel_mora::cli {

namespace {

using flutter::EncodableValue;

// A command line that cannot be run as given.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "Q", "q", "Q:" and "Q:\" (or "Q:/") all name drive Q.
std::optional<char> ParseDriveLetter(const std::string& text) {
  if (text.empty() || text.size() > 3) {
    return std::nullopt;
  }
  char letter = text[0];
  if (letter >= 'a' && letter <= 'z') {
    letter = static_cast<char>(letter - 'a' + 'A');
  }
  if (letter < 'A' || letter > 'Z') {
    return std::nullopt;
  }
  if (text.size() >= 2 && text[1] != ':') {
    return std::nullopt;
  }
  if (text.size() == 3 && text[2] != '\\' && text[2] != '/') {
    return std::nullopt;
  }
  return letter;
}

char RequireDriveLetter(const std::string& text) {
  const std::optional<char> letter = ParseDriveLetter(text);
  if (!letter) {
    throw UsageError("\"" + text + "\" is not a drive letter (A to Z)");
  }
  return *letter;
}

void RequireOperandCount(const CliOptions& options, size_t minimum, size_t maximum, const char* synopsis) {
  if (options.operands.size() < minimum || options.operands.size() > maximum) {
    throw UsageError(std::string("usage: pelmora-cli ") + synopsis);
  }
}

std::string HexDump(const std::vector<uint8_t>& bytes) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string out = "raw reply (" + std::to_string(bytes.size()) + " bytes)" + (bytes.empty() ? "\n" : ":\n");
  for (size_t offset = 0; offset < bytes.size(); offset += 16) {
    // The offset in at least six hex digits: replies stay far below 16 MiB in practice, and a
    // longer one just gets a wider column.
    std::string position;
    for (size_t rest = offset; rest != 0 || position.size() < 6; rest >>= 4) {
      position.insert(position.begin(), kHexDigits[rest & 0xF]);
    }
    out.append("  ").append(position).append(" ");
    for (size_t index = offset; index < bytes.size() && index < offset + 16; ++index) {
      out.push_back(' ');
      out.push_back(kHexDigits[bytes[index] >> 4]);
      out.push_back(kHexDigits[bytes[index] & 0xF]);
    }
    out.push_back('\n');
  }
  return out;
}

// Prints a reply that is not a success and returns the exit status it stands for.
int ReportUnsuccessfulReply(std::ostream& err, const std::string& method, const Reply& reply) {
  switch (reply.kind) {
    case ReplyKind::kError:
      err << "error " << reply.error_code << ": " << reply.error_message << '\n';
      if (!reply.error_details.IsNull()) {
        err << "details: " << FormatJson(reply.error_details, JsonLayout::kCompact) << '\n';
      }
      return kExitFailure;
    case ReplyKind::kNotImplemented:
      err << "pelmora-cli: the host does not implement \"" << method << "\" (empty response)\n";
      return kExitFailure;
    case ReplyKind::kMalformed:
      err << "pelmora-cli: the reply to \"" << method << "\" is not a method-call envelope (" << reply.bytes.size()
          << " bytes)\n";
      return kExitUsage;
    case ReplyKind::kSuccess:
      break;
  }
  return kExitSuccess;
}

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
  try {
    *environment.out << FormatDriveTable(reply.value) << std::flush;
  } catch (const std::invalid_argument&) {
    *environment.err << "pelmora-cli: the reply to \"getDrives\" is not a list of drives: "
                     << FormatJson(reply.value, JsonLayout::kCompact) << '\n';
    return kExitUsage;
  }
  return kExitSuccess;
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

void PrintDetails(std::ostream& err, const std::string& heading, const std::vector<std::string>& lines) {
  if (lines.empty()) {
    return;
  }
  err << heading << '\n';
  for (const std::string& line : lines) {
    err << "  " << line << '\n';
  }
}

// A command that needs a host, ready to run once the session is open.
using SessionCommand = std::function<int(HostSession&)>;

SessionCommand PrepareSessionCommand(const CliOptions& options, const CliEnvironment& environment) {
  const std::string& command = options.command;
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
    RequireOperandCount(options, 1, 1, "scan LETTER");
    const char letter = RequireDriveLetter(options.operands[0]);
    // A host started here sees exactly the client's drive letters, so an unknown one is known
    // before anything starts. A running host (--port) may have settings of its own: it decides.
    if (!options.port && environment.platform != nullptr &&
        environment.platform->CheckDriveLetter(letter) == DriveLetterStatus::kUnknown) {
      throw UsageError(std::string("unknown drive ") + letter + ": (the Wine settings in " +
                       environment.platform->SettingsLocation() + " have no drive " + letter +
                       ":; give a folder that letter with: pelmora-cli map " + letter + " FOLDER)");
    }
    return [letter, &options, &environment](HostSession& session) {
      ScanOutput output;
      output.report_path = options.report_path;
      output.out = environment.out;
      output.err = environment.err;
      output.err_is_terminal = environment.err_is_terminal;
      output.interrupt_count = environment.interrupt_count;
      return RunScanCommand(session, letter, output);
    };
  }
  throw UsageError("unknown command \"" + command + "\" (commands: call, drives, scan, map, help)");
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
  if (options.help) {
    *environment.out << UsageText();
    return kExitSuccess;
  }
  if (options.command.empty()) {
    err << UsageText();
    return kExitUsage;
  }
  const InterruptCheck interrupted = [&environment] {
    return environment.interrupt_count && environment.interrupt_count() > 0;
  };
  // Declared outside the try, so that the handlers can still show a started host's last lines;
  // its destructor closes that host on every path.
  std::unique_ptr<HostSession> session;
  try {
    if (!options.report_path.empty() && options.command != "scan") {
      throw UsageError("--report goes with the scan command only");
    }
    if (options.command == "map") {
      return RunMap(options, environment);
    }
    // Everything the command line says is checked before a host is started for it.
    const SessionCommand command = PrepareSessionCommand(options, environment);
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
