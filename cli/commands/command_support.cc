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

namespace {

bool IsWindowsPath(const std::string& text) {
  const bool drive_path = text.size() >= 2 && text[1] == ':' &&
                          ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
  const bool unc_path = text.size() >= 2 && text[0] == '\\' && text[1] == '\\';
  return drive_path || unc_path;
}

}  // namespace

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

std::optional<char> HostPathLetter(const std::string& host_path) {
  if (host_path.size() < 2 || host_path[1] != ':') {
    return std::nullopt;
  }
  return ParseDriveLetter(host_path.substr(0, 2));
}

std::shared_ptr<DriveLetterLoan> UseDriveLetter(char letter, const CliOptions& options,
                                                const CliEnvironment& environment) {
  if (options.port || environment.platform == nullptr) {
    return nullptr;
  }
  return std::make_shared<DriveLetterLoan>(DriveLetterLoan::ForLetter(*environment.platform, letter));
}

int RefuseIfLetterChanged(const DriveLetterLoan* loan, const std::string& not_done, std::ostream& err) {
  const std::optional<std::string> change = loan != nullptr ? loan->WhatChanged() : std::nullopt;
  if (!change) {
    return kExitSuccess;
  }
  err << "pelmora-cli: " << *change << "; " << not_done << '\n';
  return kExitFailure;
}

CommandPath ResolveExistingPath(const std::string& operand, const CliOptions& options,
                                const CliEnvironment& environment) {
  CommandPath path;
  if (const std::optional<char> letter = HostPathLetter(HostPathForOperand(operand))) {
    path.loan = UseDriveLetter(*letter, options, environment);
  }
  path.host_path = RequireExistingHostPath(operand, options, environment);
  return path;
}

CommandFolder ResolveFolderOperand(const std::string& operand, FolderOperand kind, const CliOptions& options,
                                   const CliEnvironment& environment) {
  CommandFolder folder;
  if (const std::optional<char> letter = ParseDriveLetter(operand)) {
    RequireKnownDriveLetter(*letter, options, environment);
    folder.drive_letter = *letter;
    folder.host_path = std::string(1, *letter) + ":\\";
    folder.loan = UseDriveLetter(*letter, options, environment);
    return folder;
  }
  if (operand.empty()) {
    throw UsageError("the folder is empty (give a drive letter or a folder)");
  }
  HostPlatform* const platform = environment.platform;
  if (IsWindowsPath(operand) || platform == nullptr) {
    if (kind == FolderOperand::kDriveOnly && platform == nullptr) {
      // Without Wine settings to lend letters from, only a letter will do.
      RequireDriveLetter(operand);
    }
    if (kind == FolderOperand::kDriveOnly) {
      throw UsageError(options.command + " takes a drive letter or a Linux folder, not " + operand);
    }
    CommandPath path = ResolveExistingPath(operand, options, environment);
    folder.host_path = std::move(path.host_path);
    folder.loan = std::move(path.loan);
    return folder;
  }
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(operand, error);
  if (status.type() == std::filesystem::file_type::not_found) {
    throw UsageError(kind == FolderOperand::kDriveOnly
                         ? "\"" + operand + "\" is neither a drive letter (A to Z) nor a folder"
                         : "no such folder: " + operand);
  }
  if (error) {
    throw UsageError("cannot use " + operand + ": " + error.message());
  }
  if (status.type() != std::filesystem::file_type::directory) {
    throw UsageError(operand + " is not a folder");
  }
  if (options.port) {
    if (kind == FolderOperand::kDriveOnly) {
      throw UsageError("the host on --port has drive letters of its own, so " + options.command +
                       " cannot give one to " + operand + "; name that host's letter for it");
    }
    folder.host_path = HostPathForOperand(operand);
    return folder;
  }
  DriveLetterLoan loan = DriveLetterLoan::ForFolder(*platform, operand, *environment.err);
  const char letter = loan.letter();
  if (loan.mapped_for_loan()) {
    *environment.err << "Drive " << letter << ": shows " << operand << " while this command runs\n";
  } else {
    *environment.err << "Using drive " << letter << ":, which shows " << operand << '\n';
  }
  folder.drive_letter = letter;
  folder.host_path = std::string(1, letter) + ":\\";
  folder.loan = std::make_shared<DriveLetterLoan>(std::move(loan));
  return folder;
}

}  // namespace pel_mora::cli
