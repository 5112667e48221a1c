// recycle and bin: moving paths to the Recycle Bin, and what the Recycle Bin holds.

#include <cstdint>
#include <map>
#include <memory>
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

// Why a path stayed where it was; the JSON names are what --json prints.
enum class KeptReason { kMissing, kDriveRoot, kNameEndsInDotOrSpace, kLetterChanged, kRefusedByHost, kHostError };

const char* KeptReasonName(KeptReason reason) {
  switch (reason) {
    case KeptReason::kMissing:
      return "missing";
    case KeptReason::kDriveRoot:
      return "driveRoot";
    case KeptReason::kNameEndsInDotOrSpace:
      return "nameEndsInDotOrSpace";
    case KeptReason::kLetterChanged:
      return "letterChanged";
    case KeptReason::kRefusedByHost:
      return "refusedByHost";
    case KeptReason::kHostError:
      return "hostError";
  }
  return "unknown";
}

struct PathOutcome {
  std::string operand;    // as the person gave it
  std::string host_path;  // as the host was (or would have been) given it
  bool recycled = false;
  uint64_t freed_bytes = 0;
  KeptReason reason = KeptReason::kRefusedByHost;
  std::string explanation;  // what a person reads about a path that was not recycled
};

// "C:", "C:\", "C:/" and the like name a whole drive, which is never recycled; the client says so
// itself rather than relaying the host's bare refusal.
bool IsDriveRoot(const std::string& host_path) {
  if (host_path.size() < 2 || host_path[1] != ':' ||
      !((host_path[0] >= 'A' && host_path[0] <= 'Z') || (host_path[0] >= 'a' && host_path[0] <= 'z'))) {
    return false;
  }
  return host_path.find_first_not_of("\\/", 2) == std::string::npos;
}

// The first name of a host path, other than "." and "..", that ends in a dot or a space. Windows
// drops those characters when it reads a path, so "contract.pdf." names "contract.pdf" there; the
// host refuses such a path rather than move that sibling, and the client says why.
std::optional<std::string> NameEndingInDotOrSpace(const std::string& host_path) {
  size_t start = 0;
  while (start <= host_path.size()) {
    size_t end = host_path.find_first_of("\\/", start);
    if (end == std::string::npos) end = host_path.size();
    const std::string name = host_path.substr(start, end - start);
    if (!name.empty() && name != "." && name != ".." && (name.back() == '.' || name.back() == ' ')) {
      return name;
    }
    start = end + 1;
  }
  return std::nullopt;
}

// A path to recycle as the command resolved it, before any host started.
struct RecycleOperand {
  std::string operand;
  std::string host_path;
  // Its drive letter, in use for the command (null where the client cannot see it).
  std::shared_ptr<DriveLetterLoan> loan;
};

// Recycles one path. The host counts rather than names what it recycled, so each path is asked
// on its own; what the client can see itself (a missing path, a drive root, a letter that shows
// another folder than when the command began) is not asked at all. A reply that is not a
// success or an error ends the command: its status is returned in `stop_status`.
std::optional<PathOutcome> RecycleOne(HostSession& session, const RecycleOperand& target, const CliOptions& options,
                                      const CliEnvironment& environment, int& stop_status) {
  const std::string& operand = target.operand;
  PathOutcome outcome;
  outcome.operand = operand;
  outcome.host_path = target.host_path;
  if (IsDriveRoot(outcome.host_path)) {
    outcome.reason = KeptReason::kDriveRoot;
    outcome.explanation = "a drive root, which is never recycled";
    return outcome;
  }
  if (const std::optional<std::string> name = NameEndingInDotOrSpace(outcome.host_path)) {
    std::string shortened = *name;
    while (!shortened.empty() && (shortened.back() == '.' || shortened.back() == ' ')) shortened.pop_back();
    outcome.reason = KeptReason::kNameEndsInDotOrSpace;
    outcome.explanation = "the name \"" + *name + "\" ends in a dot or a space, which Windows reads as \"" + shortened +
                          "\"; rename it to recycle it";
    return outcome;
  }
  // The host would take the path through the letter as it is now: a file of the same name in
  // another folder.
  if (const std::optional<std::string> change = target.loan ? target.loan->WhatChanged() : std::nullopt) {
    outcome.reason = KeptReason::kLetterChanged;
    outcome.explanation = *change + "; nothing was sent to the host";
    return outcome;
  }
  // Checked right before asking, since an earlier path (its folder) may have taken it along.
  if (CheckOperandPresence(operand, options, environment) == LocalPresence::kMissing) {
    outcome.reason = KeptReason::kMissing;
    outcome.explanation = "no such file or folder";
    return outcome;
  }
  const EncodableValue arguments(EncodableMap{
      {EncodableValue("paths"), EncodableValue(EncodableList{EncodableValue(outcome.host_path)})}});
  const Reply reply = session.Call("recyclePaths", &arguments);
  if (reply.kind == ReplyKind::kError) {
    outcome.reason = KeptReason::kHostError;
    outcome.explanation = "the host could not recycle it: " + reply.error_code + ": " + reply.error_message;
    return outcome;
  }
  if (reply.kind != ReplyKind::kSuccess) {
    stop_status = ReportUnsuccessfulReply(*environment.err, "recyclePaths", reply);
    return std::nullopt;
  }
  const EncodableMap* counters = ReplyMap("recyclePaths", reply, environment);
  if (counters == nullptr) {
    stop_status = kExitUsage;
    return std::nullopt;
  }
  if (CountOr0(*counters, "successCount") == 1 && CountOr0(*counters, "failedCount") == 0) {
    outcome.recycled = true;
    outcome.freed_bytes = CountOr0(*counters, "freedBytes");
    return outcome;
  }
  outcome.reason = KeptReason::kRefusedByHost;
  outcome.explanation =
      "the host refused it or could not recycle it (protected, in use, or on a drive without a Recycle Bin)";
  return outcome;
}

void PrintOutcomes(const std::vector<PathOutcome>& outcomes, const CliOptions& options,
                   const CliEnvironment& environment) {
  uint64_t recycled = 0;
  uint64_t freed = 0;
  for (const PathOutcome& outcome : outcomes) {
    recycled += outcome.recycled ? 1 : 0;
    freed += outcome.freed_bytes;
  }
  const uint64_t kept = outcomes.size() - recycled;
  if (options.HasCommandOption("json")) {
    EncodableList paths;
    for (const PathOutcome& outcome : outcomes) {
      EncodableMap entry{{EncodableValue("path"), EncodableValue(outcome.operand)},
                         {EncodableValue("hostPath"), EncodableValue(outcome.host_path)},
                         {EncodableValue("recycled"), EncodableValue(outcome.recycled)}};
      if (outcome.recycled) {
        entry[EncodableValue("freedBytes")] = EncodableValue(static_cast<int64_t>(outcome.freed_bytes));
      } else {
        entry[EncodableValue("reason")] = EncodableValue(std::string(KeptReasonName(outcome.reason)));
        entry[EncodableValue("message")] = EncodableValue(outcome.explanation);
      }
      paths.emplace_back(std::move(entry));
    }
    const EncodableValue value(EncodableMap{
        {EncodableValue("paths"), EncodableValue(std::move(paths))},
        {EncodableValue("successCount"), EncodableValue(static_cast<int64_t>(recycled))},
        {EncodableValue("failedCount"), EncodableValue(static_cast<int64_t>(kept))},
        {EncodableValue("freedBytes"), EncodableValue(static_cast<int64_t>(freed))},
    });
    *environment.out << FormatJson(value, JsonLayout::kIndented) << '\n';
  } else {
    for (const PathOutcome& outcome : outcomes) {
      if (outcome.recycled) {
        *environment.out << "recycled      " << outcome.operand << " (" << FormatSize(outcome.freed_bytes) << ")\n";
      } else {
        *environment.out << "not recycled  " << outcome.operand << ": " << outcome.explanation << '\n';
      }
    }
    *environment.out << "Recycled  " << Paths(recycled) << '\n'
                     << "Failed    " << Paths(kept) << '\n'
                     << "Freed     " << FormatSize(freed) << '\n';
  }
  environment.out->flush();
  if (kept != 0) {
    *environment.err << "pelmora-cli: " << Paths(kept) << " not recycled\n";
  }
}

int RunRecycle(HostSession& session, const std::vector<RecycleOperand>& targets, const CliOptions& options,
               const CliEnvironment& environment) {
  std::vector<PathOutcome> outcomes;
  for (const RecycleOperand& target : targets) {
    int stop_status = kExitSuccess;
    std::optional<PathOutcome> outcome = RecycleOne(session, target, options, environment, stop_status);
    if (!outcome) {
      // What was recycled before the host stopped answering sensibly is still said.
      PrintOutcomes(outcomes, options, environment);
      return stop_status;
    }
    outcomes.push_back(std::move(*outcome));
  }
  PrintOutcomes(outcomes, options, environment);
  for (const PathOutcome& outcome : outcomes) {
    if (!outcome.recycled) {
      return kExitFailure;
    }
  }
  return kExitSuccess;
}

SessionCommand PrepareRecycle(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 1, SIZE_MAX, "recycle PATH...");
  std::vector<RecycleOperand> targets;
  // One loan per letter, however many paths are on it.
  std::map<char, std::shared_ptr<DriveLetterLoan>> letters;
  for (const std::string& operand : options.operands) {
    if (operand.empty()) {
      throw UsageError("an empty path names nothing to recycle");
    }
    RecycleOperand target{operand, HostPathForOperand(operand), nullptr};
    if (const std::optional<char> letter = HostPathLetter(target.host_path)) {
      std::shared_ptr<DriveLetterLoan>& loan = letters[*letter];
      if (!loan) {
        loan = UseDriveLetter(*letter, options, environment);
      }
      target.loan = loan;
    }
    targets.push_back(std::move(target));
  }
  return [targets = std::move(targets), &options, &environment](HostSession& session) {
    return RunRecycle(session, targets, options, environment);
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
       "                       Wine names); say for each path whether it was recycled and why not\n"
       "                       (missing, a drive root, its drive letter changed meanwhile, refused\n"
       "                       by the host), then the counts and the bytes freed; exit status 1\n"
       "                       when any path was not recycled [--json]\n",
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
