#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "cli/commands/command_support.h"
#include "cli/commands/command_table.h"
#include "cli/common/human_readable.h"
#include "cli/common/json.h"
#include "cli/connection/bridge_client.h"
#include "cli/terminal/status_line.h"

namespace pel_mora::cli {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using Clock = std::chrono::steady_clock;

constexpr char kMethod[] = "startDuplicateScan";
// How often the spinner turns, and how long one wait for the host's frames lasts.
constexpr auto kSpinnerStep = std::chrono::milliseconds(125);

struct DuplicateGroupView {
  int64_t file_size = 0;
  int64_t wasted_bytes = 0;
  std::vector<std::string> paths;
};

const EncodableValue& RequireField(const EncodableMap& map, const char* key) {
  const auto entry = map.find(EncodableValue(key));
  if (entry == map.end()) {
    throw std::invalid_argument(std::string("a group has no \"") + key + "\"");
  }
  return entry->second;
}

int64_t RequireInteger(const EncodableMap& map, const char* key) {
  const EncodableValue& value = RequireField(map, key);
  if (!std::holds_alternative<int64_t>(value) && !std::holds_alternative<int32_t>(value)) {
    throw std::invalid_argument(std::string("a group's \"") + key + "\" is not an integer");
  }
  return value.LongValue();
}

// The groups of a reply, in the order the host sent them. Throws std::invalid_argument for a
// reply that is not a list of groups.
std::vector<DuplicateGroupView> ReadGroups(const EncodableValue& reply) {
  const auto* list = std::get_if<EncodableList>(&reply);
  if (list == nullptr) {
    throw std::invalid_argument("the reply is not a list");
  }
  std::vector<DuplicateGroupView> groups;
  groups.reserve(list->size());
  for (const EncodableValue& element : *list) {
    const auto* map = std::get_if<EncodableMap>(&element);
    if (map == nullptr) {
      throw std::invalid_argument("a group is not a map");
    }
    DuplicateGroupView group;
    group.file_size = RequireInteger(*map, "fileSize");
    group.wasted_bytes = RequireInteger(*map, "wastedBytes");
    const auto* paths = std::get_if<EncodableList>(&RequireField(*map, "paths"));
    if (paths == nullptr) {
      throw std::invalid_argument("a group's \"paths\" is not a list");
    }
    for (const EncodableValue& path : *paths) {
      const auto* text = std::get_if<std::string>(&path);
      if (text == nullptr) {
        throw std::invalid_argument("a group's path is not a string");
      }
      group.paths.push_back(*text);
    }
    groups.push_back(std::move(group));
  }
  return groups;
}

// The groups that waste the most come first; this is display order only, so groups that
// waste the same keep the host's order.
void PrintGroups(std::ostream& out, std::vector<DuplicateGroupView> groups, const std::string& root) {
  if (groups.empty()) {
    out << "No duplicate files below " << root << '\n';
    return;
  }
  std::stable_sort(groups.begin(), groups.end(), [](const DuplicateGroupView& left, const DuplicateGroupView& right) {
    return left.wasted_bytes > right.wasted_bytes;
  });
  uint64_t file_count = 0;
  int64_t total_wasted = 0;
  for (const DuplicateGroupView& group : groups) {
    file_count += group.paths.size();
    total_wasted += group.wasted_bytes;
  }
  out << FormatCount(static_cast<uint64_t>(groups.size())) << (groups.size() == 1 ? " group" : " groups")
      << " of identical files below " << root << " (" << FormatCount(file_count) << " files)\n";
  for (const DuplicateGroupView& group : groups) {
    out << '\n'
        << FormatSize(group.wasted_bytes) << " wasted: " << FormatCount(static_cast<uint64_t>(group.paths.size()))
        << " copies of " << FormatSize(group.file_size) << '\n';
    for (const std::string& path : group.paths) {
      out << "  " << path << '\n';
    }
  }
  out << "\nCould be freed by keeping one copy of each: " << FormatSize(total_wasted) << " ("
      << FormatCount(total_wasted) << " bytes)\n";
}

// A turning bar and the time waited so far, on one line of a terminal; nothing elsewhere, so a
// log or a pipe gets only the result.
class Spinner {
 public:
  Spinner(std::ostream& stream, bool terminal, TerminalColumns columns, std::string text)
      : terminal_(terminal), status_(stream, std::move(columns)), text_(std::move(text)), started_at_(Clock::now()) {}

  void Turn() {
    if (!terminal_) {
      return;
    }
    static constexpr char kFrames[] = {'|', '/', '-', '\\'};
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_at_).count();
    status_.Show({std::string(1, kFrames[frame_++ % 4]) + ' ' + text_, FormatDuration(elapsed)});
  }

  void Clear() { status_.Clear(); }

 private:
  bool terminal_;
  StatusLine status_;
  std::string text_;
  Clock::time_point started_at_;
  size_t frame_ = 0;
};

int RunDupes(HostSession& session, const CommandFolder& folder, const CliOptions& options,
             const CliEnvironment& environment) {
  if (const int refused = RefuseIfLetterChanged(folder.loan.get(), "nothing was searched", *environment.err);
      refused != kExitSuccess) {
    return refused;
  }
  const std::string& root = folder.host_path;
  BridgeClient& client = session.client();
  const EncodableValue arguments(EncodableMap{{EncodableValue("rootPath"), EncodableValue(root)}});
  const uint32_t id = client.SendMethodCall(kNativeChannel, kMethod, &arguments);
  std::optional<Reply> reply;
  {
    Spinner spinner(*environment.err, environment.err_is_terminal, environment.err_columns,
                    "Looking for duplicates below " + root);
    // The finder has no progress and no cancel: the wait ends with its one reply, or when the
    // person gives up (the host is then closed with the session).
    while (!(reply = client.TakeReply(id))) {
      if (environment.interrupt_count && environment.interrupt_count() > 0) {
        throw InterruptedError();
      }
      spinner.Turn();
      client.Pump(kSpinnerStep);
    }
  }
  if (reply->kind != ReplyKind::kSuccess) {
    return ReportUnsuccessfulReply(*environment.err, kMethod, *reply);
  }
  if (options.HasCommandOption("json")) {
    *environment.out << FormatJson(reply->value, JsonLayout::kIndented) << '\n' << std::flush;
    return kExitSuccess;
  }
  std::vector<DuplicateGroupView> groups;
  try {
    groups = ReadGroups(reply->value);
  } catch (const std::invalid_argument& error) {
    *environment.err << "pelmora-cli: the reply to \"" << kMethod << "\" is not a list of duplicate groups ("
                     << error.what() << "): " << FormatJson(reply->value, JsonLayout::kCompact) << '\n';
    return kExitUsage;
  }
  PrintGroups(*environment.out, std::move(groups), root);
  environment.out->flush();
  return kExitSuccess;
}

SessionCommand PrepareDupes(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 1, 1, "dupes PATH [--json]");
  if (options.operands[0].empty()) {
    throw UsageError("the folder to search is empty");
  }
  CommandFolder folder = ResolveFolderOperand(options.operands[0], FolderOperand::kAnyFolder, options, environment);
  return [folder = std::move(folder), &options, &environment](HostSession& session) {
    return RunDupes(session, folder, options, environment);
  };
}

}  // namespace

std::vector<CommandDefinition> DuplicateCommands() {
  return {
      CommandDefinition{
          "dupes",
          "  dupes PATH [--json]  find files with identical content below PATH (a drive letter, a\n"
          "                       Windows path or a Linux folder, through a lent letter): each\n"
          "                       group with its size, copies and paths, the groups that waste\n"
          "                       most first, then the total that could be freed\n",
          {"json"},
          PrepareDupes,
      },
  };
}

}  // namespace pel_mora::cli
