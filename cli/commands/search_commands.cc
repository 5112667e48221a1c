#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "cli/commands/command_support.h"
#include "cli/commands/command_table.h"
#include "cli/commands/search_results.h"
#include "cli/common/json.h"
#include "cli/connection/bridge_client.h"
#include "cli/connection/host_platform.h"
#include "cli/terminal/status_line.h"

namespace pel_mora::cli {

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPumpSlice{50};
constexpr std::chrono::milliseconds kProgressRefresh{250};
constexpr int32_t kDefaultLargestCount = 20;

// What one search command sends and how it shows the answer.
struct SearchRequest {
  std::string root;
  // The letter the root is reached through, in use while the command runs.
  std::shared_ptr<DriveLetterLoan> loan;
  EncodableMap arguments;
  // The limit asked for, so that a list cut off by it can say so; 0 when the command does not
  // mention it.
  int32_t reported_limit = 0;
};

int32_t RequirePositiveCount(const std::string& text, const char* what) {
  int64_t value = 0;
  bool valid = !text.empty() && text.size() <= 10;
  for (const char character : text) {
    valid = valid && character >= '0' && character <= '9';
    value = valid ? value * 10 + (character - '0') : 0;
  }
  if (!valid || value < 1 || value > std::numeric_limits<int32_t>::max()) {
    throw UsageError(std::string(what) + " must be a whole number from 1 to 2147483647, not \"" + text + "\"");
  }
  return static_cast<int32_t>(value);
}

int64_t RequireSize(const std::string& text, const char* option) {
  const std::optional<int64_t> size = ParseSizeText(text);
  if (!size) {
    throw UsageError(std::string("--") + option + " takes a size such as 4096, 512K, 10M or 1.5G, not \"" + text +
                     "\"");
  }
  return *size;
}

// Shows the elapsed time on a terminal's standard error while the host searches, on one line
// that is rewritten and cleared at the end. A log (no terminal) gets nothing: the wait is short.
class SearchProgress {
 public:
  SearchProgress(const CliEnvironment& environment, std::string root)
      : terminal_(environment.err_is_terminal), status_(*environment.err, environment.err_columns),
        root_(std::move(root)) {}

  void Update(bool cancelling) {
    if (!terminal_ || Clock::now() < next_refresh_) {
      return;
    }
    next_refresh_ = Clock::now() + kProgressRefresh;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started_).count();
    status_.Show({(cancelling ? "Cancelling the search of " : "Searching ") + root_, std::to_string(seconds) + " s"});
  }

  void Clear() { status_.Clear(); }

 private:
  bool terminal_;
  StatusLine status_;
  std::string root_;
  Clock::time_point started_ = Clock::now();
  Clock::time_point next_refresh_ = Clock::now() + kProgressRefresh;
};

// Sends the search and waits for its answer. The first Ctrl-C sends "cancelSearch", after which
// the host answers the search with the files found so far; a second one stops waiting.
Reply WaitForSearch(HostSession& session, const SearchRequest& request, const CliEnvironment& environment,
                    bool& cancel_sent) {
  BridgeClient& client = session.client();
  const EncodableValue arguments(request.arguments);
  const uint32_t id = client.SendMethodCall(kNativeChannel, "searchFiles", &arguments);
  SearchProgress progress(environment, request.root);
  while (true) {
    if (std::optional<Reply> reply = client.TakeReply(id)) {
      return std::move(*reply);
    }
    const unsigned interrupts = environment.interrupt_count ? environment.interrupt_count() : 0;
    if (interrupts >= 2) {
      throw InterruptedError();
    }
    if (interrupts == 1 && !cancel_sent) {
      client.SendMethodCall(kNativeChannel, "cancelSearch", nullptr);
      cancel_sent = true;
    }
    progress.Update(cancel_sent);
    client.Pump(kPumpSlice);
  }
}

int RunSearch(HostSession& session, const SearchRequest& request, const CliOptions& options,
              const CliEnvironment& environment) {
  std::ostream& out = *environment.out;
  std::ostream& err = *environment.err;
  if (const int refused = RefuseIfLetterChanged(request.loan.get(), "nothing was searched", err);
      refused != kExitSuccess) {
    return refused;
  }
  bool cancel_sent = false;
  const Reply reply = WaitForSearch(session, request, environment, cancel_sent);
  if (reply.kind != ReplyKind::kSuccess) {
    return ReportUnsuccessfulReply(err, "searchFiles", reply);
  }
  if (options.HasCommandOption("json")) {
    out << FormatJson(reply.value, JsonLayout::kIndented) << '\n';
  } else {
    try {
      out << FormatSearchResults(reply.value);
    } catch (const std::invalid_argument&) {
      err << "pelmora-cli: the reply to \"searchFiles\" is not a list of files: "
          << FormatJson(reply.value, JsonLayout::kCompact) << '\n';
      return kExitUsage;
    }
  }
  out << std::flush;
  const auto* list = std::get_if<flutter::EncodableList>(&reply.value);
  const size_t found = list == nullptr ? 0 : list->size();
  if (cancel_sent) {
    err << "Search cancelled: the list holds the files found until then.\n";
    return kExitInterrupted;
  }
  if (request.reported_limit > 0 && found >= static_cast<size_t>(request.reported_limit)) {
    err << "The search stopped at " << request.reported_limit << " files; --limit N asks for more.\n";
  }
  return kExitSuccess;
}

SessionCommand PrepareSearch(const CliOptions& options, const CliEnvironment& environment) {
  if (options.operands.empty()) {
    throw UsageError("usage: pelmora-cli search PATH [WORDS...] [--ext LIST] [--min SIZE] [--max SIZE] [--limit N]");
  }
  SearchRequest request;
  CommandFolder folder = ResolveFolderOperand(options.operands[0], FolderOperand::kAnyFolder, options, environment);
  request.root = folder.host_path;
  request.loan = std::move(folder.loan);
  std::string query;
  for (size_t index = 1; index < options.operands.size(); ++index) {
    query += (index > 1 ? " " : "") + options.operands[index];
  }
  request.arguments[EncodableValue("rootPath")] = EncodableValue(request.root);
  request.arguments[EncodableValue("query")] = EncodableValue(query);
  if (const auto extensions = options.CommandOptionValue("ext")) {
    request.arguments[EncodableValue("extension")] = EncodableValue(*extensions);
  }
  std::optional<int64_t> min_size;
  std::optional<int64_t> max_size;
  if (const auto text = options.CommandOptionValue("min")) {
    min_size = RequireSize(*text, "min");
    request.arguments[EncodableValue("minSize")] = EncodableValue(*min_size);
  }
  if (const auto text = options.CommandOptionValue("max")) {
    max_size = RequireSize(*text, "max");
    request.arguments[EncodableValue("maxSize")] = EncodableValue(*max_size);
  }
  if (min_size && max_size && *max_size >= 1 && *min_size > *max_size) {
    throw UsageError("--min is larger than --max: no file can match");
  }
  if (const auto text = options.CommandOptionValue("limit")) {
    request.reported_limit = RequirePositiveCount(*text, "--limit");
    request.arguments[EncodableValue("maxResults")] = EncodableValue(request.reported_limit);
  } else {
    request.reported_limit = 500;
  }
  return [request = std::move(request), &options, &environment](HostSession& session) {
    return RunSearch(session, request, options, environment);
  };
}

SessionCommand PrepareLargest(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 1, 2, "largest PATH [N]");
  SearchRequest request;
  CommandPath root = ResolveExistingPath(options.operands[0], options, environment);
  request.root = std::move(root.host_path);
  request.loan = std::move(root.loan);
  const int32_t count =
      options.operands.size() == 2 ? RequirePositiveCount(options.operands[1], "N") : kDefaultLargestCount;
  // A minimum size without words or extensions is the host's largest-files query: the N largest
  // files, largest first. Empty files are never among them.
  request.arguments = EncodableMap{{EncodableValue("rootPath"), EncodableValue(request.root)},
                                   {EncodableValue("minSize"), EncodableValue(int64_t{1})},
                                   {EncodableValue("maxResults"), EncodableValue(count)}};
  return [request = std::move(request), &options, &environment](HostSession& session) {
    return RunSearch(session, request, options, environment);
  };
}

}  // namespace

std::vector<CommandDefinition> SearchCommands() {
  return {
      {"search",
       "  search PATH [WORDS...] [--ext LIST] [--min SIZE] [--max SIZE] [--limit N] [--json]\n"
       "                       files below PATH whose names hold every word, with one of the\n"
       "                       extensions in LIST (\"jpg,png\") and a size in range (K, M, G);\n"
       "                       at most N (500); Ctrl-C cancels and shows what was found; a\n"
       "                       Linux folder as PATH is searched through a lent drive letter\n",
       {"ext", "min", "max", "limit", "json"},
       PrepareSearch},
      {"largest",
       "  largest PATH [N] [--json]\n"
       "                       the N (20) largest files below PATH, largest first\n",
       {"json"},
       PrepareLargest},
  };
}

}  // namespace pel_mora::cli
