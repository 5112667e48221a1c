#include "cli/browser/browse_command.h"

#include <chrono>
#include <fstream>
#include <memory>
#include <variant>

#include "cli/browser/browser_host.h"
#include "cli/browser/browser_terminal.h"
#include "cli/browser/browser_view.h"
#include "cli/browser/scan_file.h"
#include "cli/browser/scan_tree.h"
#include "cli/commands/command_support.h"
#include "cli/common/event_fields.h"
#include "cli/common/human_readable.h"
#include "cli/connection/bridge_client.h"
#include "cli/report/scan_report.h"

namespace pel_mora::cli {

namespace {

using Clock = std::chrono::steady_clock;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// How long the loop waits for the host before it looks at the keys again: the screen answers a
// key within this, however busy the scan is.
constexpr std::chrono::milliseconds kPumpSlice{30};
// Live totals are redrawn at most this often while batches arrive.
constexpr std::chrono::milliseconds kRedrawInterval{150};
// How long a loaded scan's screen waits for a key before it looks for Ctrl-C again.
constexpr std::chrono::milliseconds kIdleKeyWait{200};
constexpr std::chrono::milliseconds kStopWait{2000};

bool Interrupted(const CliEnvironment& environment) {
  return environment.interrupt_count && environment.interrupt_count() > 0;
}

void Draw(BrowserTerminal& terminal, const BrowserView& view) {
  terminal.Draw(view.Render(terminal.width(), terminal.height()));
}

// The "started" event of the scan this command asked for.
bool IsStartOf(const EncodableValue& event, const std::string& root) {
  const auto* map = std::get_if<EncodableMap>(&event);
  return map != nullptr && StringOr(*map, "type", "") == "started" && StringOr(*map, "root", "") == root;
}

int BrowseLive(HostSession& session, char letter, const std::shared_ptr<DriveLetterLoan>& loan,
               const CliOptions& options, const CliEnvironment& environment) {
  // Seconds may have passed while the host started.
  if (const int refused = RefuseIfLetterChanged(loan.get(), "the scan was not started", *environment.err);
      refused != kExitSuccess) {
    return refused;
  }
  BridgeClient& client = session.client();
  const std::string root = std::string(1, letter) + ":\\";
  ScanTree tree;
  bool start_sent = false;
  bool changed = true;
  std::string stream_failure;
  client.set_message_handler([&](const std::string& channel, const std::vector<uint8_t>& payload) {
    if (channel != kScanChannel || !start_sent || payload.empty()) {
      return;
    }
    const Reply event = DecodeReply(payload);
    if (event.kind == ReplyKind::kError) {
      stream_failure = "the scan stream reported " + event.error_code + ": " + event.error_message;
      changed = true;
      return;
    }
    if (event.kind != ReplyKind::kSuccess) {
      return;
    }
    // Events of a scan an earlier client left running come before this scan's own "started".
    if (tree.state() == ScanState::kWaiting && !IsStartOf(event.value, root)) {
      return;
    }
    changed = tree.Add(event.value) != ScanEventType::kOther || changed;
  });
  const Reply listen = session.WaitForReply(client.SendMethodCall(kScanChannel, "listen", nullptr));
  if (listen.kind != ReplyKind::kSuccess) {
    return ReportUnsuccessfulReply(*environment.err, "listen", listen);
  }
  const EncodableValue arguments(EncodableMap{{EncodableValue("driveLetter"), EncodableValue(std::string(1, letter))}});
  const uint32_t start_id = client.SendMethodCall(kNativeChannel, "startScan", &arguments);
  start_sent = true;

  BrowserView view(tree);
  BrowserHost host(session, letter, loan, options, environment);
  int status = kExitSuccess;
  {
    // Declared inside this block so the terminal is given back before anything is printed, on
    // every way out, exceptions included.
    const std::unique_ptr<BrowserTerminal> terminal = OpenBrowserTerminal();
    Clock::time_point next_redraw = Clock::now();
    bool quit = false;
    while (!quit && !Interrupted(environment)) {
      if (const std::optional<Reply> start = client.TakeReply(start_id);
          start && start->kind != ReplyKind::kSuccess) {
        view.SetStatus("The host did not start the scan: " +
                       (start->kind == ReplyKind::kError ? start->error_code + ": " + start->error_message
                                                         : std::string("no usable answer")));
        changed = true;
      }
      changed = host.TakeAnswers(view) || changed;
      if (!stream_failure.empty()) {
        view.SetStatus(stream_failure);
      }
      bool keys_read = false;
      while (const std::optional<BrowserKey> key = terminal->ReadKey(std::chrono::milliseconds(0))) {
        keys_read = true;
        const BrowserRequest request = view.HandleKey(*key);
        if (request.kind == BrowserRequest::Kind::kQuit) {
          quit = true;
          break;
        }
        // The host is there from the start, so nothing waits for one to start.
        host.Carry(request, view, nullptr);
      }
      if (quit) {
        break;
      }
      if (keys_read || (changed && Clock::now() >= next_redraw)) {
        Draw(*terminal, view);
        changed = false;
        next_redraw = Clock::now() + kRedrawInterval;
      }
      client.Pump(kPumpSlice);
    }
  }
  // A scan still running is stopped, and the scan channel let go, before the host is closed.
  try {
    if (tree.state() == ScanState::kRunning || tree.state() == ScanState::kWaiting) {
      client.SendMethodCall(kNativeChannel, "cancelScan", nullptr);
    }
    const uint32_t cancel_id = client.SendMethodCall(kScanChannel, "cancel", nullptr);
    const Clock::time_point give_up = Clock::now() + kStopWait;
    while (!client.TakeReply(cancel_id) && Clock::now() < give_up) {
      client.Pump(kPumpSlice);
    }
  } catch (const ConnectionError&) {
    // The host is gone; closing the session notices it.
  }
  if (Interrupted(environment)) {
    return kExitInterrupted;
  }
  return status;
}

int BrowseLoaded(const std::string& path, const CliOptions& options, const CliEnvironment& environment) {
  const LoadedScan scan = LoadScanFile(path);
  ScanTree tree;
  for (const EncodableValue& event : scan.events) {
    tree.Add(event);
  }
  BrowserView view(tree, ScanOrigin::kSaved);
  // Declared before the terminal, so that a host started for recycle or show is closed after
  // the terminal is given back, with its notes on the error stream.
  BrowserHost host(ParseDriveLetter(tree.root_path()).value_or(0), scan.drive_folder, options, environment);
  bool quit = false;
  {
    const std::unique_ptr<BrowserTerminal> terminal = OpenBrowserTerminal();
    // Polled while a host starts: the screen keeps its status line and size, q and Ctrl-C give
    // up the start and quit; other keys wait for the host.
    const InterruptCheck waiting = [&] {
      while (const std::optional<BrowserKey> key = terminal->ReadKey(std::chrono::milliseconds(0))) {
        quit = quit || *key == BrowserKey::kQuit;
      }
      Draw(*terminal, view);
      return quit || Interrupted(environment);
    };
    Draw(*terminal, view);
    while (!quit && !Interrupted(environment)) {
      bool changed = host.TakeAnswers(view);
      // Without a host there is nothing else to wait for than keys.
      std::optional<BrowserKey> key =
          terminal->ReadKey(host.has_session() ? std::chrono::milliseconds(0) : kIdleKeyWait);
      while (key && !quit) {
        changed = true;
        const BrowserRequest request = view.HandleKey(*key);
        if (request.kind == BrowserRequest::Kind::kQuit) {
          quit = true;
          break;
        }
        host.Carry(request, view, waiting);
        key = terminal->ReadKey(std::chrono::milliseconds(0));
      }
      if (quit || Interrupted(environment)) {
        break;
      }
      if (changed) {
        Draw(*terminal, view);
      }
      host.Pump(kPumpSlice, view);
    }
  }
  host.Finish();
  return Interrupted(environment) ? kExitInterrupted : kExitSuccess;
}

void RequireTerminal() {
  if (const std::optional<std::string> why = BrowserTerminalUnavailable()) {
    throw UsageError(*why);
  }
}

SessionCommand PrepareBrowse(const CliOptions& options, const CliEnvironment& environment) {
  // The terminal first: a folder's drive letter is not lent for a browser that cannot start.
  RequireTerminal();
  BrowseTarget target = ResolveBrowseTarget(options, environment);
  return [target = std::move(target), &options, &environment](HostSession& session) {
    return BrowseLive(session, target.drive_letter, target.loan, options, environment);
  };
}

int WriteReportFromFile(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 2, 2, "report FILE.json OUT.html");
  const LoadedScan scan = LoadScanFile(options.operands[0]);
  ScanReport report;
  for (const EncodableValue& event : scan.events) {
    report.Add(event, scan.started_at);
  }
  const std::string html = report.RenderHtml(ReportOptions{});
  const std::string& out_path = options.operands[1];
  std::ofstream file(out_path, std::ios::binary | std::ios::trunc);
  file.write(html.data(), static_cast<std::streamsize>(html.size()));
  file.close();
  if (!file) {
    *environment.err << "pelmora-cli: cannot write the report to " << out_path << '\n';
    return kExitFailure;
  }
  *environment.err << "Report written to " << out_path << " (" << FormatSize(static_cast<uint64_t>(html.size()))
                   << ")\n";
  return kExitSuccess;
}

}  // namespace

BrowseTarget ResolveBrowseTarget(const CliOptions& options, const CliEnvironment& environment) {
  BrowseTarget target;
  if (const std::optional<std::string> file = options.CommandOptionValue("load")) {
    RequireOperandCount(options, 0, 0, "browse --load FILE.json");
    target.saved_scan = *file;
    return target;
  }
  RequireOperandCount(options, 1, 1, "browse LETTER|FOLDER (or browse --load FILE.json)");
  CommandFolder folder = ResolveFolderOperand(options.operands[0], FolderOperand::kDriveOnly, options, environment);
  target.drive_letter = *folder.drive_letter;
  target.loan = std::move(folder.loan);
  return target;
}

std::vector<CommandDefinition> BrowserCommands() {
  return {
      {"browse",
       "  browse LETTER|FOLDER\n"
       "                       browse a drive (or a Linux folder, through a lent letter) in the\n"
       "                       terminal while it is scanned: folders by size, open, go up, sort,\n"
       "                       largest files, recycle, show in Explorer\n"
       "  browse --load FILE   browse a scan saved with scan --save, without scanning; d and o\n"
       "                       start a host when they first need one\n",
       {"load"},
       PrepareBrowse},
      {"report",
       "  report FILE OUT      write the HTML report of a scan saved with scan --save\n",
       {},
       // Runs without a host (RunWithoutHost), so this is never reached.
       [](const CliOptions&, const CliEnvironment&) -> SessionCommand {
         throw UsageError("report reads a saved scan and needs no host");
       }},
  };
}

std::optional<int> RunWithoutHost(const CliOptions& options, const CliEnvironment& environment) {
  try {
    if (options.command == "report") {
      for (const auto& [name, value] : options.command_options) {
        throw UsageError("--" + name + " does not go with the report command");
      }
      return WriteReportFromFile(options, environment);
    }
    if (options.command == "browse" && options.HasCommandOption("load")) {
      for (const auto& [name, value] : options.command_options) {
        if (name != "load") {
          throw UsageError("--" + name + " does not go with the browse command");
        }
      }
      const BrowseTarget target = ResolveBrowseTarget(options, environment);
      RequireTerminal();
      return BrowseLoaded(target.saved_scan, options, environment);
    }
  } catch (const ScanFileError& error) {
    *environment.err << "pelmora-cli: " << error.what() << '\n';
    return kExitUsage;
  }
  return std::nullopt;
}

}  // namespace pel_mora::cli
