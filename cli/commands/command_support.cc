#include "cli/commands/command_support.h"

#include <filesystem>
#include <iostream>

#include "cli/common/json.h"

namespace pel_mora::cli {

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

Confirmation ConfirmDeletion(const CliOptions& options, const CliEnvironment& environment, const std::string& question) {
  if (options.HasCommandOption("yes")) {
    return Confirmation::kConfirmed;
  }
  if (!environment.in_is_terminal || environment.in == nullptr) {
    throw UsageError("standard input is not a terminal, so nobody can confirm; add --yes to delete without asking");
  }
  *environment.err << question << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(*environment.in, answer)) {
    *environment.err << '\n';
    return Confirmation::kDeclined;
  }
  while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) {
    answer.pop_back();
  }
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES"
             ? Confirmation::kConfirmed
             : Confirmation::kDeclined;
}

#ifndef _WIN32
namespace {

bool IsWindowsPath(const std::string& text) {
  const bool drive_path = text.size() >= 2 && text[1] == ':' &&
                          ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
  const bool unc_path = text.size() >= 2 && text[0] == '\\' && text[1] == '\\';
  return drive_path || unc_path;
}

}  // namespace
#endif

std::string HostPathForOperand(const std::string& operand) {
#ifdef _WIN32
  return operand;
#else
  if (operand.empty() || IsWindowsPath(operand)) {
    return operand;
  }
  std::string absolute = operand;
  if (operand.front() != '/') {
    // Relative to where the person is, as every Linux tool reads it; lexically only, so a
    // symbolic link on the way stays the name the person gave.
    absolute = (std::filesystem::current_path() / operand).lexically_normal().string();
  }
  std::string host_path = "Z:";
  for (const char character : absolute) {
    host_path.push_back(character == '/' ? '\\' : character);
  }
  return host_path;
#endif
}

void RequireVisibleHost(const std::string& command, const CliOptions& options, const CliEnvironment& environment) {
  if (options.port || environment.platform == nullptr || environment.platform->ShowsWindows(options.display)) {
    return;
  }
  if (options.display == DisplayMode::kRealDisplay) {
    throw UsageError(command + " needs a display, and --display was given but DISPLAY is not set");
  }
  throw UsageError(command + " shows a window, so it needs a display: run it with --display");
}

LocalPresence CheckOperandPresence(const std::string& operand, const CliOptions& options,
                                   const CliEnvironment& environment) {
  HostPlatform* const platform = options.port ? nullptr : environment.platform;
  const DriveFolderLookup drive_folder = [platform](char letter) -> std::optional<std::string> {
    return platform != nullptr ? platform->DriveLetterFolder(letter) : std::nullopt;
  };
  return CheckLocalPresence(operand, drive_folder);
}

std::string RequireExistingHostPath(const std::string& operand, const CliOptions& options,
                                    const CliEnvironment& environment) {
  if (CheckOperandPresence(operand, options, environment) == LocalPresence::kMissing) {
    throw UsageError("no such file or folder: " + operand);
  }
  return HostPathForOperand(operand);
}

void RequireKnownDriveLetter(char letter, const CliOptions& options, const CliEnvironment& environment) {
  if (options.port || environment.platform == nullptr ||
      environment.platform->CheckDriveLetter(letter) != DriveLetterStatus::kUnknown) {
    return;
  }
  throw UsageError(std::string("unknown drive ") + letter + ": (the Wine settings in " +
                   environment.platform->SettingsLocation() + " have no drive " + letter +
                   ":; give a folder that letter with: pelmora-cli map " + letter + " FOLDER)");
}

}  // namespace pel_mora::cli
