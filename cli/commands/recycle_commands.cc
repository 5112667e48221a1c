// recycle and bin: moving paths to the Recycle Bin, and what the Recycle Bin holds.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/commands/command_support.h"
#include "cli/commands/command_table.h"
#include "cli/common/event_fields.h"
#include "cli/common/human_readable.h"
#include "cli/common/json.h"

namespace pel_mora::cli {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// The reply as a map of counters, or null after reporting that it is something else.
const EncodableMap* ReplyMap(const std::string& method, const Reply& reply, const CliEnvironment& environment) {
  const auto* map = std::get_if<EncodableMap>(&reply.value);
  if (map == nullptr) {
    *environment.err << "pelmora-cli: the reply to \"" << method << "\" is not a map: "
                     << FormatJson(reply.value, JsonLayout::kCompact) << '\n';
  }
  return map;
}

std::string Items(uint64_t count) { return FormatCount(count) + (count == 1 ? " item" : " items"); }
std::string Paths(uint64_t count) { return FormatCount(count) + (count == 1 ? " path" : " paths"); }

int RunRecycle(HostSession& session, const std::vector<std::string>& host_paths, const CliOptions& options,
               const CliEnvironment& environment) {
  EncodableList paths;
  for (const std::string& path : host_paths) {
    paths.emplace_back(path);
  }
  const EncodableValue arguments(EncodableMap{{EncodableValue("paths"), EncodableValue(std::move(paths))}});
  const Reply reply = session.Call("recyclePaths", &arguments);
  if (reply.kind != ReplyKind::kSuccess) {
    return ReportUnsuccessfulReply(*environment.err, "recyclePaths", reply);
  }
  const EncodableMap* counters = ReplyMap("recyclePaths", reply, environment);
  if (counters == nullptr) {
    return kExitUsage;
  }
  const uint64_t recycled = CountOr0(*counters, "successCount");
  const uint64_t failed = CountOr0(*counters, "failedCount");
  const uint64_t freed = CountOr0(*counters, "freedBytes");
  if (options.HasCommandOption("json")) {
    *environment.out << FormatJson(reply.value, JsonLayout::kIndented) << '\n';
  } else {
    *environment.out << "Recycled  " << Paths(recycled) << '\n'
                     << "Failed    " << Paths(failed) << '\n'
                     << "Freed     " << FormatSize(freed) << '\n';
  }
  environment.out->flush();
  if (failed != 0) {
    *environment.err << "pelmora-cli: " << Paths(failed)
                     << " not recycled: protected, a drive root, missing, in use or not a single name\n";
    return kExitFailure;
  }
  return kExitSuccess;
}

SessionCommand PrepareRecycle(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 1, SIZE_MAX, "recycle PATH...");
  std::vector<std::string> host_paths;
  for (const std::string& operand : options.operands) {
    if (operand.empty()) {
      throw UsageError("an empty path names nothing to recycle");
    }
    host_paths.push_back(HostPathForOperand(operand));
  }
  return [host_paths, &options, &environment](HostSession& session) {
    return RunRecycle(session, host_paths, options, environment);
  };
}

struct BinContents {
  uint64_t total_bytes = 0;
  uint64_t item_count = 0;
};

// Asks the host what the Recycle Bin holds; prints why and gives the exit status when it cannot.
std::optional<BinContents> QueryBin(HostSession& session, const CliEnvironment& environment, int& status) {
  const Reply reply = session.Call("getRecycleBinInfo", nullptr);
  if (reply.kind != ReplyKind::kSuccess) {
    status = ReportUnsuccessfulReply(*environment.err, "getRecycleBinInfo", reply);
    return std::nullopt;
  }
  const EncodableMap* map = ReplyMap("getRecycleBinInfo", reply, environment);
  if (map == nullptr) {
    status = kExitUsage;
    return std::nullopt;
  }
  return BinContents{CountOr0(*map, "totalBytes"), CountOr0(*map, "itemCount")};
}

void PrintBin(const BinContents& contents, const CliOptions& options, const CliEnvironment& environment) {
  if (options.HasCommandOption("json")) {
    const EncodableValue value(EncodableMap{
        {EncodableValue("totalBytes"), EncodableValue(static_cast<int64_t>(contents.total_bytes))},
        {EncodableValue("itemCount"), EncodableValue(static_cast<int64_t>(contents.item_count))},
    });
    *environment.out << FormatJson(value, JsonLayout::kIndented) << '\n';
  } else {
    *environment.out << "Recycle Bin: " << Items(contents.item_count) << ", " << FormatSize(contents.total_bytes)
                     << '\n';
  }
  environment.out->flush();
}

int RunBin(HostSession& session, const CliOptions& options, const CliEnvironment& environment) {
  int status = kExitSuccess;
  const std::optional<BinContents> before = QueryBin(session, environment, status);
  if (!before) {
    return status;
  }
  if (!options.HasCommandOption("empty")) {
    PrintBin(*before, options, environment);
    return kExitSuccess;
  }
  if (before->item_count == 0) {
    *environment.err << "The Recycle Bin is already empty.\n";
    PrintBin(*before, options, environment);
    return kExitSuccess;
  }
  const std::string question = "Permanently delete the " + Items(before->item_count) + " (" +
                               FormatSize(before->total_bytes) + ") in the Recycle Bin?";
  if (ConfirmDeletion(options, environment, question) == Confirmation::kDeclined) {
    *environment.err << "Nothing deleted.\n";
    return kExitFailure;
  }
  const Reply reply = session.Call("emptyRecycleBin", nullptr);
  if (reply.kind != ReplyKind::kSuccess) {
    return ReportUnsuccessfulReply(*environment.err, "emptyRecycleBin", reply);
  }
  const auto* emptied = std::get_if<bool>(&reply.value);
  if (emptied == nullptr) {
    *environment.err << "pelmora-cli: the reply to \"emptyRecycleBin\" is not true or false: "
                     << FormatJson(reply.value, JsonLayout::kCompact) << '\n';
    return kExitUsage;
  }
  // What is left is asked again rather than assumed: the shell can report success and still
  // leave items behind.
  const std::optional<BinContents> after = QueryBin(session, environment, status);
  if (!after) {
    return status;
  }
  PrintBin(*after, options, environment);
  if (!*emptied) {
    *environment.err << "pelmora-cli: the Recycle Bin could not be emptied\n";
    return kExitFailure;
  }
  if (after->item_count != 0) {
    *environment.err << "pelmora-cli: the shell reported the Recycle Bin emptied, but " << Items(after->item_count)
                     << (after->item_count == 1 ? " remains\n" : " remain\n");
    return kExitFailure;
  }
  *environment.err << "Emptied the Recycle Bin: " << Items(before->item_count) << ", "
                   << FormatSize(before->total_bytes) << " freed.\n";
  return kExitSuccess;
}

SessionCommand PrepareBin(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 0, 0, "bin [--empty]");
  if (options.HasCommandOption("yes") && !options.HasCommandOption("empty")) {
    throw UsageError("--yes goes with bin --empty only");
  }
  // Nobody could answer the question later, so refuse before a host is started for nothing.
  if (options.HasCommandOption("empty") && !options.HasCommandOption("yes") &&
      !(environment.in_is_terminal && environment.in != nullptr)) {
    ConfirmDeletion(options, environment, std::string());
  }
  return [&options, &environment](HostSession& session) { return RunBin(session, options, environment); };
}

}  // namespace

std::vector<CommandDefinition> RecycleCommands() {
  return {
      {"recycle",
       "  recycle PATH...      move files and folders to the Recycle Bin (Linux paths become their\n"
       "                       Wine names); print how many were recycled, failed and the bytes freed;\n"
       "                       exit status 1 when any path was not recycled [--json]\n",
       {"json"},
       PrepareRecycle},
      {"bin",
       "  bin [--empty]        show the Recycle Bin's item count and size, or empty it after\n"
       "                       confirming [--yes] [--json]\n",
       {"empty", "yes", "json"},
       PrepareBin},
  };
}

}  // namespace pel_mora::cli
