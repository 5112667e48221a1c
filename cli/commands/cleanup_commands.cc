// The cleanable categories of a drive, and their clean-up.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/commands/command_support.h"
#include "cli/commands/command_table.h"
#include "cli/common/human_readable.h"
#include "cli/common/json.h"

namespace pel_mora::cli {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

std::string Text(const EncodableMap& map, const char* key) {
  const auto found = map.find(EncodableValue(key));
  const auto* text = found == map.end() ? nullptr : std::get_if<std::string>(&found->second);
  return text != nullptr ? *text : std::string();
}

int64_t Integer(const EncodableMap& map, const char* key) {
  const auto found = map.find(EncodableValue(key));
  if (found == map.end()) {
    return 0;
  }
  if (const auto* narrow = std::get_if<int32_t>(&found->second)) {
    return *narrow;
  }
  if (const auto* wide = std::get_if<int64_t>(&found->second)) {
    return *wide;
  }
  return 0;
}

// Terminal columns of UTF-8 text, counted as code points (the names are short and Latin).
size_t DisplayWidth(const std::string& text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }));
}

enum class Alignment { kLeft, kRight };

struct Column {
  std::string heading;
  Alignment alignment;
};

// Rows under headings, columns two spaces apart, widths from the widest cell. `footer` rows
// follow a blank line.
std::string FormatTable(const std::vector<Column>& columns, const std::vector<std::vector<std::string>>& rows,
                        const std::vector<std::vector<std::string>>& footer) {
  std::vector<size_t> widths;
  for (const Column& column : columns) {
    widths.push_back(DisplayWidth(column.heading));
  }
  for (const auto* block : {&rows, &footer}) {
    for (const std::vector<std::string>& row : *block) {
      for (size_t index = 0; index < row.size() && index < widths.size(); ++index) {
        widths[index] = std::max(widths[index], DisplayWidth(row[index]));
      }
    }
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t index = 0; index < columns.size(); ++index) {
      const std::string cell = index < cells.size() ? cells[index] : std::string();
      const size_t padding = widths[index] - DisplayWidth(cell);
      if (index > 0) {
        text.append(2, ' ');
      }
      if (columns[index].alignment == Alignment::kRight) {
        text.append(padding, ' ').append(cell);
      } else {
        text.append(cell);
        if (index + 1 < columns.size()) {
          text.append(padding, ' ');
        }
      }
    }
    while (!text.empty() && text.back() == ' ') {
      text.pop_back();
    }
    return text + '\n';
  };
  std::vector<std::string> headings;
  for (const Column& column : columns) {
    headings.push_back(column.heading);
  }
  std::string table = line(headings);
  for (const std::vector<std::string>& row : rows) {
    table += line(row);
  }
  if (!footer.empty()) {
    table += '\n';
    for (const std::vector<std::string>& row : footer) {
      table += line(row);
    }
  }
  return table;
}

// The records of a scan reply that are maps; a reply that is no list is a protocol error.
std::vector<EncodableMap> CategoryRecords(const EncodableValue& reply) {
  const auto* list = std::get_if<EncodableList>(&reply);
  if (list == nullptr) {
    throw ProtocolError("the reply to \"scanCleanableCategories\" is not a list of categories: " +
                             FormatJson(reply, JsonLayout::kCompact));
  }
  std::vector<EncodableMap> records;
  for (const EncodableValue& entry : *list) {
    if (const auto* map = std::get_if<EncodableMap>(&entry)) {
      records.push_back(*map);
    }
  }
  return records;
}

std::optional<EncodableValue> DriveArguments(const std::optional<char>& drive_letter) {
  if (!drive_letter) {
    return std::nullopt;
  }
  return EncodableValue(EncodableMap{{EncodableValue("driveLetter"), EncodableValue(std::string(1, *drive_letter))}});
}

std::string DriveDescription(const std::optional<char>& drive_letter) {
  return drive_letter ? std::string("drive ") + *drive_letter + ":" : std::string("the system drive");
}

// The drive a clean-up command works on: the system drive, or a letter in use for the command.
struct CleanupDrive {
  std::optional<char> letter;
  // The letter as the command resolved it; null for the system drive or where the client cannot
  // see the host's letters.
  std::shared_ptr<DriveLetterLoan> loan;
};

CleanupDrive ResolveCleanupDrive(const std::optional<std::string>& operand, const CliOptions& options,
                                 const CliEnvironment& environment) {
  CleanupDrive drive;
  if (operand) {
    drive.letter = RequireDriveLetter(*operand);
    RequireKnownDriveLetter(*drive.letter, options, environment);
    drive.loan = UseDriveLetter(*drive.letter, options, environment);
  }
  return drive;
}

// Calls "scanCleanableCategories"; on anything but a success reports it and returns nothing.
std::optional<Reply> MeasureCategories(HostSession& session, const CleanupDrive& drive,
                                       const CliEnvironment& environment, int& status) {
  const std::optional<char>& drive_letter = drive.letter;
  status = RefuseIfLetterChanged(drive.loan.get(), "nothing was measured", *environment.err);
  if (status != kExitSuccess) {
    return std::nullopt;
  }
  *environment.err << "Measuring the cleanable categories of " << DriveDescription(drive_letter) << "...\n"
                   << std::flush;
  const std::optional<EncodableValue> arguments = DriveArguments(drive_letter);
  Reply reply = session.Call("scanCleanableCategories", arguments ? &*arguments : nullptr);
  if (reply.kind != ReplyKind::kSuccess) {
    environment.out->flush();
    status = ReportUnsuccessfulReply(*environment.err, "scanCleanableCategories", reply);
    return std::nullopt;
  }
  return reply;
}

int RunCategories(HostSession& session, const CleanupDrive& drive, const CliOptions& options,
                  const CliEnvironment& environment) {
  int status = kExitSuccess;
  const std::optional<Reply> reply = MeasureCategories(session, drive, environment, status);
  if (!reply) {
    return status;
  }
  if (options.HasCommandOption("json")) {
    *environment.out << FormatJson(reply->value, JsonLayout::kIndented) << '\n' << std::flush;
    return kExitSuccess;
  }
  std::vector<std::vector<std::string>> rows;
  int64_t total_files = 0;
  int64_t total_bytes = 0;
  for (const EncodableMap& record : CategoryRecords(reply->value)) {
    const int64_t files = Integer(record, "itemCount");
    const int64_t bytes = Integer(record, "totalBytes");
    total_files += files;
    total_bytes += bytes;
    rows.push_back({Text(record, "id"), Text(record, "name"), Text(record, "group"), FormatCount(files),
                    FormatSize(bytes)});
  }
  *environment.out << FormatTable({{"ID", Alignment::kLeft},
                                   {"NAME", Alignment::kLeft},
                                   {"GROUP", Alignment::kLeft},
                                   {"FILES", Alignment::kRight},
                                   {"SIZE", Alignment::kRight}},
                                  rows, {{"Total", "", "", FormatCount(total_files), FormatSize(total_bytes)}})
                   << std::flush;
  return kExitSuccess;
}

// The shell can report the Recycle Bin emptied and still leave items in it, so what remains is
// asked again and said. The host measures the bins of all drives together: with a drive named,
// items in the bins of other drives are expected and only mentioned.
int ReportWhatRemainsInBin(HostSession& session, std::optional<char> drive_letter, const CliEnvironment& environment) {
  const Reply reply = session.Call("getRecycleBinInfo", nullptr);
  if (reply.kind != ReplyKind::kSuccess) {
    return ReportUnsuccessfulReply(*environment.err, "getRecycleBinInfo", reply);
  }
  const auto* map = std::get_if<EncodableMap>(&reply.value);
  if (map == nullptr) {
    throw ProtocolError("the reply to \"getRecycleBinInfo\" is not a map: " +
                        FormatJson(reply.value, JsonLayout::kCompact));
  }
  const int64_t items = Integer(*map, "itemCount");
  if (items <= 0) {
    return kExitSuccess;
  }
  const std::string held = FormatCount(items) + (items == 1 ? " item" : " items") + " (" +
                           FormatSize(Integer(*map, "totalBytes")) + ")";
  if (drive_letter) {
    *environment.err << "The Recycle Bins of all drives still hold " << held << ".\n";
    return kExitSuccess;
  }
  *environment.err << "pelmora-cli: the Recycle Bin still holds " << held << "\n";
  return kExitFailure;
}

int RunClean(HostSession& session, const std::vector<std::string>& ids, const CleanupDrive& drive,
             const CliOptions& options, const CliEnvironment& environment) {
  std::ostream& err = *environment.err;
  const std::optional<char>& drive_letter = drive.letter;
  int status = kExitSuccess;
  const std::optional<Reply> measured = MeasureCategories(session, drive, environment, status);
  if (!measured) {
    return status;
  }
  // Only the categories the drive lists are cleaned, so that what is about to go has been
  // measured and shown first; a mistyped id is refused rather than sent.
  const std::vector<EncodableMap> records = CategoryRecords(measured->value);
  std::vector<std::vector<std::string>> preview;
  std::set<std::string> shown;
  int64_t preview_files = 0;
  int64_t preview_bytes = 0;
  for (const std::string& id : ids) {
    const auto record = std::find_if(records.begin(), records.end(),
                                     [&id](const EncodableMap& candidate) { return Text(candidate, "id") == id; });
    if (record == records.end()) {
      std::string known;
      for (const EncodableMap& candidate : records) {
        known += (known.empty() ? "" : ", ") + Text(candidate, "id");
      }
      throw UsageError("\"" + id + "\" is not a category of " + DriveDescription(drive_letter) + " (" + known + ")");
    }
    if (!shown.insert(id).second) {
      continue;
    }
    preview_files += Integer(*record, "itemCount");
    preview_bytes += Integer(*record, "totalBytes");
    preview.push_back({Text(*record, "name"), FormatCount(Integer(*record, "itemCount")),
                       FormatSize(Integer(*record, "totalBytes"))});
  }
  err << "These categories of " << DriveDescription(drive_letter)
      << " will be deleted permanently (not moved to the Recycle Bin):\n"
      << FormatTable({{"CATEGORY", Alignment::kLeft}, {"FILES", Alignment::kRight}, {"SIZE", Alignment::kRight}},
                     preview, {{"Total", FormatCount(preview_files), FormatSize(preview_bytes)}});
  if (ConfirmDeletion(options, environment,
                      "Delete " + FormatCount(preview_files) + " files (" + FormatSize(preview_bytes) + ")?") ==
      Confirmation::kDeclined) {
    err << "Nothing deleted.\n";
    return kExitFailure;
  }

  // The person may have taken a while to answer: the drive's folders are cleaned only if the
  // letter still shows the folder that was measured.
  if (const int refused = RefuseIfLetterChanged(drive.loan.get(), "nothing was deleted", err);
      refused != kExitSuccess) {
    return refused;
  }
  EncodableList categories;
  for (const std::string& id : ids) {
    categories.emplace_back(id);
  }
  EncodableMap arguments{{EncodableValue("categories"), EncodableValue(std::move(categories))}};
  if (drive_letter) {
    arguments.emplace(EncodableValue("driveLetter"), EncodableValue(std::string(1, *drive_letter)));
  }
  const EncodableValue argument_value(std::move(arguments));
  const Reply reply = session.Call("performCleanup", &argument_value);
  if (reply.kind != ReplyKind::kSuccess) {
    environment.out->flush();
    return ReportUnsuccessfulReply(err, "performCleanup", reply);
  }
  const auto* result = std::get_if<EncodableMap>(&reply.value);
  if (result == nullptr) {
    throw ProtocolError("the reply to \"performCleanup\" is not a map: " +
                             FormatJson(reply.value, JsonLayout::kCompact));
  }
  const int64_t errors = Integer(*result, "errorsCount");
  if (options.HasCommandOption("json")) {
    *environment.out << FormatJson(reply.value, JsonLayout::kIndented) << '\n' << std::flush;
  } else {
    std::vector<std::vector<std::string>> rows;
    const auto found = result->find(EncodableValue("breakdown"));
    if (const auto* breakdown = found == result->end() ? nullptr : std::get_if<EncodableList>(&found->second)) {
      for (const EncodableValue& entry : *breakdown) {
        if (const auto* map = std::get_if<EncodableMap>(&entry)) {
          rows.push_back({Text(*map, "id"), Text(*map, "name"), FormatCount(Integer(*map, "itemCount")),
                          FormatSize(Integer(*map, "bytes"))});
        }
      }
    }
    *environment.out << FormatTable({{"ID", Alignment::kLeft},
                                     {"NAME", Alignment::kLeft},
                                     {"DELETED", Alignment::kRight},
                                     {"FREED", Alignment::kRight}},
                                    rows,
                                    {{"Total", "", FormatCount(Integer(*result, "itemsDeleted")),
                                      FormatSize(Integer(*result, "bytesCleaned"))}})
                     << std::flush;
  }
  status = kExitSuccess;
  if (errors > 0) {
    err << "pelmora-cli: " << FormatCount(errors) << (errors == 1 ? " file" : " files")
        << " could not be deleted (in use or access denied)\n";
    status = kExitFailure;
  }
  if (std::find(ids.begin(), ids.end(), "recycle_bin") != ids.end()) {
    status = std::max(status, ReportWhatRemainsInBin(session, drive_letter, environment));
  }
  return status;
}

SessionCommand PrepareCategories(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 0, 1, "categories [LETTER] [--json]");
  const std::optional<std::string> operand =
      options.operands.empty() ? std::nullopt : std::optional<std::string>(options.operands[0]);
  CleanupDrive drive = ResolveCleanupDrive(operand, options, environment);
  return [drive = std::move(drive), &options, &environment](HostSession& session) {
    return RunCategories(session, drive, options, environment);
  };
}

SessionCommand PrepareClean(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 1, std::numeric_limits<size_t>::max(), "clean ID... [--drive LETTER] [--yes] [--json]");
  CleanupDrive drive = ResolveCleanupDrive(options.CommandOptionValue("drive"), options, environment);
  std::vector<std::string> ids = options.operands;
  return [ids, drive = std::move(drive), &options, &environment](HostSession& session) {
    return RunClean(session, ids, drive, options, environment);
  };
}

}  // namespace

std::vector<CommandDefinition> CleanupCommands() {
  return {
      {"categories",
       "  categories [LETTER]  measure the cleanable categories (temporary files, caches, crash\n"
       "                       dumps, Recycle Bin) of the system drive or drive LETTER: id, name,\n"
       "                       group, files, size and a total; --json for the reply\n",
       {"json"},
       PrepareCategories},
      {"clean",
       "  clean ID...          delete the files of the categories ID (ids from categories), after\n"
       "                       showing their totals and asking; --drive LETTER for another drive,\n"
       "                       --yes to skip the question, --json for the reply\n",
       {"drive", "yes", "json"},
       PrepareClean},
  };
}

}  // namespace pel_mora::cli
