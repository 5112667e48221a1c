#include "cli/commands/scan_command.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "cli/browser/scan_file.h"
#include "cli/commands/command_support.h"
#include "cli/commands/commands.h"
#include "cli/common/human_readable.h"
#include "cli/common/json.h"
#include "cli/connection/bridge_client.h"
#include "cli/report/scan_report.h"
#include "cli/report/scan_summary.h"
#include "cli/terminal/status_line.h"

namespace pel_mora::cli {

namespace {

using Clock = std::chrono::steady_clock;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

constexpr std::chrono::milliseconds kPumpSlice{50};
constexpr std::chrono::milliseconds kTerminalRefresh{250};
constexpr std::chrono::milliseconds kLogRefresh{1000};
constexpr std::chrono::milliseconds kStopListeningWait{2000};

// The live progress on standard error: one line rewritten in place on a terminal, as wide as
// the terminal allows; whole lines otherwise (a log file gets no carriage returns).
class ProgressLine {
 public:
  ProgressLine(std::ostream& stream, bool terminal, TerminalColumns columns)
      : stream_(stream), terminal_(terminal), status_(stream, std::move(columns)) {}

  void Show(const std::vector<std::string>& parts) {
    if (terminal_) {
      status_.Show(parts);
      return;
    }
    std::string line;
    for (const std::string& part : parts) {
      line += (line.empty() ? "" : "  ") + part;
    }
    stream_ << line << '\n' << std::flush;
  }

  void Clear() { status_.Clear(); }

 private:
  std::ostream& stream_;
  bool terminal_;
  StatusLine status_;
};

// The parts of the progress line, most wanted first: a narrow terminal shows the first ones.
std::vector<std::string> ProgressParts(const ScanSummary& summary, const std::string& root, bool cancelling,
                                       Clock::time_point started_at) {
  if (summary.state() == ScanState::kWaiting) {
    return {"Waiting for the scan of " + root + " to start"};
  }
  const ScanCounts& counts = summary.reported_counts();
  const double seconds = std::chrono::duration<double>(Clock::now() - started_at).count();
  const auto rate = seconds > 0.001 ? static_cast<uint64_t>(static_cast<double>(summary.entries_received()) / seconds)
                                    : uint64_t{0};
  return {std::string(cancelling ? "Cancelling " : "Scanning ") + root, FormatSize(counts.bytes),
          FormatCount(counts.files) + " files", FormatCount(counts.folders) + " folders",
          FormatCount(rate) + " entries/s"};
}

void PrintLargest(std::ostream& out, const char* heading, const std::vector<ScanEntry>& entries) {
  out << '\n' << heading << ":\n";
  if (entries.empty()) {
    out << "  (none)\n";
    return;
  }
  std::vector<std::string> sizes;
  size_t width = 0;
  for (const ScanEntry& entry : entries) {
    sizes.push_back(FormatSize(entry.size_bytes));
    width = std::max(width, sizes.back().size());
  }
  for (size_t index = 0; index < entries.size(); ++index) {
    out << "  " << std::string(width - sizes[index].size(), ' ') << sizes[index] << "  " << entries[index].path
        << '\n';
  }
}

void PrintSummary(std::ostream& out, const ScanSummary& summary, const std::string& root, int64_t elapsed_ms) {
  const ScanCounts totals = summary.totals();
  if (summary.state() == ScanState::kCompleted) {
    out << "Scan of " << root << " completed in " << FormatDuration(summary.duration_ms().value_or(elapsed_ms))
        << '\n';
  } else {
    out << "Scan of " << root << " cancelled after " << FormatDuration(elapsed_ms) << "; partial result\n";
  }
  out << "  Files:    " << FormatCount(totals.files) << '\n';
  out << "  Folders:  " << FormatCount(totals.folders) << '\n';
  out << "  Size:     " << FormatSize(totals.bytes) << " (" << FormatCount(totals.bytes) << " bytes)\n";
  if (summary.unreadable_folders() > 0) {
    out << "  Unreadable folders: " << FormatCount(summary.unreadable_folders()) << '\n';
  }
  PrintLargest(out, "Largest folders", summary.LargestFolders());
  PrintLargest(out, "Largest files", summary.LargestFiles());
}

EncodableValue EntryList(const std::vector<ScanEntry>& entries) {
  EncodableList list;
  for (const ScanEntry& entry : entries) {
    list.emplace_back(EncodableMap{{EncodableValue("path"), EncodableValue(entry.path)},
                                   {EncodableValue("sizeBytes"), EncodableValue(entry.size_bytes)}});
  }
  return EncodableValue(std::move(list));
}

// The summary for scripts: what PrintSummary shows, with exact numbers and a null duration when
// the host did not give one (a cancelled scan).
void PrintSummaryJson(std::ostream& out, const ScanSummary& summary, const std::string& root) {
  const ScanCounts totals = summary.totals();
  const std::optional<int64_t> duration = summary.duration_ms();
  const EncodableMap result{
      {EncodableValue("root"), EncodableValue(root)},
      {EncodableValue("state"), EncodableValue(summary.state() == ScanState::kCompleted ? "completed" : "cancelled")},
      {EncodableValue("durationMs"), duration ? EncodableValue(*duration) : EncodableValue()},
      {EncodableValue("totalFiles"), EncodableValue(static_cast<int64_t>(totals.files))},
      {EncodableValue("totalFolders"), EncodableValue(static_cast<int64_t>(totals.folders))},
      {EncodableValue("totalBytes"), EncodableValue(static_cast<int64_t>(totals.bytes))},
      {EncodableValue("unreadableFolders"), EncodableValue(static_cast<int64_t>(summary.unreadable_folders()))},
      {EncodableValue("largestFolders"), EntryList(summary.LargestFolders())},
      {EncodableValue("largestFiles"), EntryList(summary.LargestFiles())},
  };
  out << FormatJson(EncodableValue(result), JsonLayout::kIndented) << '\n';
}

// The "started" event of the scan this command asked for.
bool IsStartOf(const EncodableValue& event, const std::string& root) {
  const auto* map = std::get_if<EncodableMap>(&event);
  if (map == nullptr) {
    return false;
  }
  const auto type = map->find(EncodableValue("type"));
  const auto event_root = map->find(EncodableValue("root"));
  return type != map->end() && type->second == EncodableValue("started") && event_root != map->end() &&
         event_root->second == EncodableValue(root);
}

void PrintErrorReply(std::ostream& err, const std::string& what, const Reply& reply) {
  if (reply.kind == ReplyKind::kError) {
    err << "pelmora-cli: " << what << " failed: " << reply.error_code << ": " << reply.error_message << '\n';
  } else if (reply.kind == ReplyKind::kNotImplemented) {
    err << "pelmora-cli: " << what << " failed: the host does not implement it (empty response)\n";
  } else {
    err << "pelmora-cli: " << what << " failed: the reply is not a method-call envelope\n";
  }
}

// Writes the report, also of a cancelled scan (it says it is partial).
bool WriteReport(std::ostream& err, const ScanReport& report, const std::string& path) {
  const std::string html = report.RenderHtml(ReportOptions{});
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(html.data(), static_cast<std::streamsize>(html.size()));
  file.close();
  if (!file) {
    err << "pelmora-cli: cannot write the report to " << path << '\n';
    return false;
  }
  err << "Report written to " << path << " (" << FormatSize(static_cast<uint64_t>(html.size())) << ")\n";
  return true;
}

}  // namespace

int RunScanCommand(HostSession& session, char letter, const ScanOutput& output) {
  std::ostream& out = *output.out;
  std::ostream& err = *output.err;
  BridgeClient& client = session.client();
  const std::string root = std::string(1, letter) + ":\\";

  ScanSummary summary;
  // The report keeps the whole tree, so it is built only when asked for.
  std::unique_ptr<ScanReport> report = output.report_path.empty() ? nullptr : std::make_unique<ScanReport>();
  // The saved scan holds every entry, so it is kept only when asked for.
  std::unique_ptr<ScanRecorder> recorder = output.save_path.empty() ? nullptr : std::make_unique<ScanRecorder>();
  if (recorder && output.drive_folder) {
    recorder->set_drive_folder(*output.drive_folder);
  }
  bool start_sent = false;
  std::optional<std::string> stream_failure;
  Clock::time_point started_at = Clock::now();

  client.set_message_handler([&](const std::string& channel, const std::vector<uint8_t>& payload) {
    if (channel != kScanChannel || !start_sent || stream_failure) {
      return;
    }
    if (payload.empty()) {
      // The empty message ends a stream; this one ended before its scan did.
      if (summary.state() == ScanState::kWaiting || summary.state() == ScanState::kRunning) {
        stream_failure = "the host ended the scan stream before the scan finished";
      }
      return;
    }
    Reply event = DecodeReply(payload);
    if (event.kind == ReplyKind::kError) {
      stream_failure = "the scan stream reported " + event.error_code + ": " + event.error_message;
      return;
    }
    if (event.kind != ReplyKind::kSuccess) {
      return;
    }
    // A scan that an earlier client left running keeps sending until the new start stops it;
    // everything before this scan's own "started" belongs to that one.
    if (summary.state() == ScanState::kWaiting && !IsStartOf(event.value, root)) {
      return;
    }
    if (summary.Add(event.value) == ScanEventType::kStarted) {
      started_at = Clock::now();
    }
    if (report) {
      report->Add(event.value, std::chrono::system_clock::now());
    }
    if (recorder) {
      recorder->Add(event.value, std::chrono::system_clock::now());
    }
  });

  const Reply listen = session.WaitForReply(client.SendMethodCall(kScanChannel, "listen", nullptr));
  if (listen.kind != ReplyKind::kSuccess) {
    PrintErrorReply(err, "listening on " + std::string(kScanChannel), listen);
    return kExitFailure;
  }

  if (const int refused = RefuseIfLetterChanged(output.letter, "the scan was not started", err);
      refused != kExitSuccess) {
    return refused;
  }
  const EncodableValue arguments(EncodableMap{{EncodableValue("driveLetter"), EncodableValue(std::string(1, letter))}});
  const uint32_t start_id = client.SendMethodCall(kNativeChannel, "startScan", &arguments);
  start_sent = true;
  const Clock::time_point requested_at = Clock::now();

  std::optional<Reply> start_reply;
  bool cancel_sent = false;
  int status = kExitSuccess;
  {
    ProgressLine progress(err, output.err_is_terminal, output.err_columns);
    const auto refresh = output.err_is_terminal ? kTerminalRefresh : kLogRefresh;
    Clock::time_point next_refresh = Clock::now() + refresh;
    bool counts_shown = false;
    while (true) {
      if (!start_reply) {
        start_reply = client.TakeReply(start_id);
      }
      if (start_reply && start_reply->kind != ReplyKind::kSuccess) {
        progress.Clear();
        PrintErrorReply(err, "startScan", *start_reply);
        status = start_reply->kind == ReplyKind::kMalformed ? kExitUsage : kExitFailure;
        break;
      }
      if (stream_failure) {
        progress.Clear();
        err << "pelmora-cli: " << *stream_failure << '\n';
        status = kExitFailure;
        break;
      }
      const bool finished = summary.state() == ScanState::kCompleted || summary.state() == ScanState::kCancelled;
      if (start_reply && finished) {
        break;
      }
      const unsigned interrupts = output.interrupt_count ? output.interrupt_count() : 0;
      if (interrupts >= 2) {
        // A second Ctrl-C: the person no longer wants to wait for the cancelled scan.
        throw InterruptedError();
      }
      if (interrupts == 1 && !cancel_sent) {
        client.SendMethodCall(kNativeChannel, "cancelScan", nullptr);
        cancel_sent = true;
        next_refresh = Clock::now();
      }
      const ScanCounts& counted = summary.reported_counts();
      if (!counts_shown && counted.files + counted.folders > 0) {
        // The first batch that counts something is shown at once, so that even a log sees the
        // scan under way early. (A drive that cannot be read sends one batch that counts
        // nothing; it gets no progress line before its error.)
        counts_shown = true;
        next_refresh = Clock::now();
      }
      if (Clock::now() >= next_refresh) {
        progress.Show(ProgressParts(summary, root, cancel_sent, started_at));
        next_refresh = Clock::now() + refresh;
      }
      client.Pump(kPumpSlice);
    }
  }

  // Stop listening, so that a host that keeps running (--port) drops the events of later scans
  // instead of sending them to a closed connection. The answer is awaited briefly, so that the
  // host has handled it before the connection closes; its content does not matter.
  try {
    const uint32_t cancel_id = client.SendMethodCall(kScanChannel, "cancel", nullptr);
    const Clock::time_point give_up = Clock::now() + kStopListeningWait;
    while (!client.TakeReply(cancel_id) && Clock::now() < give_up) {
      client.Pump(kPumpSlice);
    }
  } catch (const ConnectionError&) {
    // The summary below is what matters; a host that is gone is noticed when it is closed.
  }

  if (status != kExitSuccess) {
    return status;
  }
  if (summary.root_unreadable()) {
    err << "pelmora-cli: drive " << letter << ": cannot be read (no such drive, or it is not ready)\n";
    return kExitFailure;
  }
  const auto elapsed_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - requested_at).count();
  if (output.json) {
    PrintSummaryJson(out, summary, root);
  } else {
    PrintSummary(out, summary, root, elapsed_ms);
  }
  out << std::flush;
  if (report && !WriteReport(err, *report, output.report_path)) {
    return kExitFailure;
  }
  if (recorder) {
    // The file ties the entries to the folder the letter showed; entries listed from another
    // folder would be taken for that folder's files by a later browse of it.
    if (const int refused = RefuseIfLetterChanged(output.letter, "the scan was not saved", err);
        refused != kExitSuccess) {
      return refused;
    }
    try {
      WriteScanFile(output.save_path, *recorder);
      err << "Scan saved to " << output.save_path << '\n';
    } catch (const ScanFileError& error) {
      err << "pelmora-cli: " << error.what() << '\n';
      return kExitFailure;
    }
  }
  if (summary.state() == ScanState::kCancelled) {
    // Cancelled by this person's Ctrl-C, or by someone else (another scan started on the host).
    if (!cancel_sent) {
      err << "pelmora-cli: the host cancelled the scan (was another scan started?)\n";
      return kExitFailure;
    }
    return kExitInterrupted;
  }
  return kExitSuccess;
}

}  // namespace pel_mora::cli
