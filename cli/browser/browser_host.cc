#include "cli/browser/browser_host.h"

#include <exception>
#include <filesystem>
#include <system_error>
#include <variant>

#include "cli/common/event_fields.h"
#include "cli/connection/bridge_client.h"
#include "cli/connection/local_paths.h"

namespace pel_mora::cli {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// One path's answer to "recyclePaths": the host replies counts only, so the one path sent was
// recycled exactly when it counts one success and no failure.
RecycleOutcome JudgeRecycle(const Reply& reply, std::string* detail) {
  if (reply.kind == ReplyKind::kError) {
    *detail = reply.error_code + ": " + reply.error_message;
    return RecycleOutcome::kFailed;
  }
  const auto* map = reply.kind == ReplyKind::kSuccess ? std::get_if<EncodableMap>(&reply.value) : nullptr;
  if (map == nullptr) {
    *detail = "the host gave no usable answer";
    return RecycleOutcome::kFailed;
  }
  const uint64_t recycled = CountOr0(*map, "successCount");
  const uint64_t failed = CountOr0(*map, "failedCount");
  if (recycled == 1 && failed == 0) {
    return RecycleOutcome::kRecycled;
  }
  if (recycled == 0 && failed == 1) {
    return RecycleOutcome::kRefused;
  }
  *detail = "the host's counts do not fit one path";
  return RecycleOutcome::kFailed;
}

// The first line of a message, for the one status line.
std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// A message that continues "pelmora-cli: ..." as a sentence of its own.
std::string Sentence(const std::string& text) {
  std::string sentence = FirstLine(text);
  if (!sentence.empty() && sentence[0] >= 'a' && sentence[0] <= 'z') {
    sentence[0] = static_cast<char>(sentence[0] - 'a' + 'A');
  }
  return sentence;
}

}  // namespace

BrowserHost::BrowserHost(HostSession& session, char drive_letter, std::shared_ptr<DriveLetterLoan> loan,
                         const CliOptions& options, const CliEnvironment& environment)
    : options_(options),
      environment_(environment),
      drive_letter_(drive_letter),
      loan_(std::move(loan)),
      session_(&session) {}

BrowserHost::BrowserHost(char drive_letter, std::optional<std::string> drive_folder, const CliOptions& options,
                         const CliEnvironment& environment)
    : options_(options), environment_(environment), drive_letter_(drive_letter), drive_folder_(std::move(drive_folder)) {}

bool BrowserHost::ReachDrive(HostPlatform* platform, BrowserView& view) {
  if (host_letter_ != 0) {
    return true;
  }
  // A live browse's letter came with its command; a host with letters of its own decides.
  if (loan_ || drive_letter_ == 0 || platform == nullptr) {
    host_letter_ = drive_letter_;
    return true;
  }
  try {
    if (!drive_folder_) {
      // A scan saved without its folder (through --port, or by an older client): the letter is
      // all there is to go by.
      if (platform->CheckDriveLetter(drive_letter_) == DriveLetterStatus::kUnknown) {
        view.SetStatus(std::string("Drive ") + drive_letter_ + ": is not mapped here; give it a folder with: " +
                       "pelmora-cli map " + drive_letter_ + " FOLDER");
        return false;
      }
      loan_ = std::make_shared<DriveLetterLoan>(DriveLetterLoan::ForLetter(*platform, drive_letter_));
      host_letter_ = drive_letter_;
      return true;
    }
    std::error_code error;
    if (!std::filesystem::is_directory(*drive_folder_, error)) {
      view.SetStatus("The folder this scan was of, " + *drive_folder_ + ", is gone.");
      return false;
    }
    // The folder was saved without links. When its path has one now (the folder, or one above
    // it, replaced by a link since), the path leads to other files than the scan listed, so
    // nothing is asked through it.
    const std::filesystem::path leads_to = std::filesystem::canonical(*drive_folder_, error);
    if (error || leads_to != std::filesystem::path(*drive_folder_)) {
      view.SetStatus("The folder this scan was of, " + *drive_folder_ + ", leads to " +
                     (error ? std::string("somewhere else") : leads_to.string()) + " now.");
      return false;
    }
    // A letter that shows the folder now (the saved one, unless it was lent to the scan's
    // command and is gone or shows another folder), or else one lent for the browser.
    loan_ = std::make_shared<DriveLetterLoan>(DriveLetterLoan::ForFolder(*platform, *drive_folder_, notes_));
  } catch (const PlatformError& failure) {
    view.SetStatus(Sentence(failure.what()));
    return false;
  }
  host_letter_ = loan_->letter();
  if (loan_->mapped_for_loan()) {
    notes_ << "Drive " << host_letter_ << ": showed " << *drive_folder_ << " (" << drive_letter_
           << ": in the saved scan) while the browser ran\n";
  }
  return true;
}

bool BrowserHost::LetterUnchanged(bool recycle, BrowserView& view) {
  const std::optional<std::string> change = loan_ ? loan_->WhatChanged() : std::nullopt;
  if (!change) {
    return true;
  }
  view.SetStatus(std::string(recycle ? "Not recycled" : "Not shown") + ": " + *change + "; nothing was sent.");
  return false;
}

BrowserHost::~BrowserHost() = default;

void BrowserHost::Carry(const BrowserRequest& request, BrowserView& view, const InterruptCheck& waiting) {
  const bool recycle = request.kind == BrowserRequest::Kind::kRecycle;
  if (!recycle && request.kind != BrowserRequest::Kind::kReveal) {
    return;
  }
  if (recycle && recycle_id_ != 0) {
    view.SetStatus("Still waiting for the host to recycle " + recycle_path_);
    return;
  }
  if (!recycle && reveal_id_ != 0) {
    view.SetStatus("Still waiting for the host to ask Explorer");
    return;
  }
  // A host started here sees exactly the client's drive letters; a running one (--port) has
  // settings of its own and decides.
  HostPlatform* const platform = options_.port ? nullptr : environment_.platform;
  if (!ReachDrive(platform, view) || !LetterUnchanged(recycle, view)) {
    return;
  }
  // Explorer's window on a host nobody can see would wait unseen, and leave it running.
  if (!recycle && platform != nullptr && !platform->ShowsWindows(options_.display)) {
    view.SetStatus(options_.display == DisplayMode::kRealDisplay
                       ? "Showing an item needs a display, and DISPLAY is not set"
                       : "Showing an item opens a window: run browse with --display");
    return;
  }
  // The item may have gone, or a folder may have taken a file's name, since it was listed (long
  // ago, for a saved scan): the person confirmed what the list showed. Where the client can see
  // the path it says so itself; elsewhere the host finds out.
  const LocalPath local = FindLocalPath(request.path, [this, platform](char letter) -> std::optional<std::string> {
    if (letter == drive_letter_ && drive_folder_) {
      return drive_folder_;
    }
    return platform != nullptr ? platform->DriveLetterFolder(letter) : std::nullopt;
  });
  // The host is asked through the letter that shows the scanned folder now.
  std::string host_path = request.path;
  if (host_letter_ != drive_letter_ && host_path.size() >= 2 && host_path[1] == ':' &&
      (host_path[0] & ~0x20) == drive_letter_) {
    host_path[0] = host_letter_;
  }
  if (local.presence == LocalPresence::kMissing) {
    if (recycle) {
      view.RecycleFinished(request.path, RecycleOutcome::kMissing, "");
    } else {
      view.SetStatus("Not shown: " + request.path + " is gone (no such file or folder now).");
    }
    return;
  }
  std::error_code error;
  if (recycle && local.presence == LocalPresence::kPresent &&
      std::filesystem::is_directory(local.path, error) != request.is_directory && !error) {
    view.SetStatus("Not recycled: " + request.path + " is now a " + (request.is_directory ? "file" : "folder") +
                   ", where a " + (request.is_directory ? "folder" : "file") + " was listed.");
    return;
  }
  if (!EnsureSession(view, waiting)) {
    return;
  }
  // Again right before the request: a host started just now may have taken seconds.
  if (!LetterUnchanged(recycle, view)) {
    return;
  }
  try {
    BridgeClient& client = session_->client();
    if (recycle) {
      const EncodableValue arguments(
          EncodableMap{{EncodableValue("paths"), EncodableValue(EncodableList{EncodableValue(host_path)})}});
      recycle_id_ = client.SendMethodCall(kNativeChannel, "recyclePaths", &arguments);
      recycle_path_ = request.path;
      view.SetStatus("Recycling " + request.path + " ...");
    } else {
      const EncodableValue arguments(EncodableMap{{EncodableValue("path"), EncodableValue(host_path)}});
      reveal_id_ = client.SendMethodCall(kNativeChannel, "openInExplorer", &arguments);
      view.SetStatus("Asked Explorer to show " + request.path);
    }
  } catch (const ConnectionError& error) {
    if (!owned_session_) {
      throw;
    }
    DropSession(error.what(), view);
  }
}

bool BrowserHost::EnsureSession(BrowserView& view, const InterruptCheck& waiting) {
  if (session_ != nullptr) {
    return true;
  }
  view.SetStatus("Starting the host...");
  // The first call draws the line above before the start can keep the screen still.
  if (waiting && waiting()) {
    view.SetStatus("The host was not started.");
    return false;
  }
  start_watch_ = waiting;
  const InterruptCheck interrupted = [this] {
    if (start_watch_) {
      return start_watch_();
    }
    return environment_.interrupt_count && environment_.interrupt_count() > 0;
  };
  try {
    owned_session_ =
        std::make_unique<HostSession>(options_, environment_.platform, environment_.session, interrupted, notes_);
  } catch (const InterruptedError&) {
    view.SetStatus("The host was not started.");
  } catch (const PlatformError& error) {
    // The platform's message says what failed ("the host did not start: ...", "no host found").
    view.SetStatus(Sentence(error.what()));
    notes_ << "pelmora-cli: " << error.what() << '\n';
    if (!error.details().empty()) {
      notes_ << "The host's last lines:\n";
      for (const std::string& line : error.details()) {
        notes_ << "  " << line << '\n';
      }
    }
  } catch (const ConnectionError& error) {
    view.SetStatus(std::string("No host to ask: ") + FirstLine(error.what()));
    notes_ << "pelmora-cli: " << error.what() << '\n';
  }
  start_watch_ = nullptr;
  if (!owned_session_) {
    return false;
  }
  session_ = owned_session_.get();
  // This session runs no scan; nothing it is sent needs an answer from here.
  session_->client().set_message_handler([](const std::string&, const std::vector<uint8_t>&) {});
  return true;
}

bool BrowserHost::TakeAnswers(BrowserView& view) {
  if (session_ == nullptr) {
    return false;
  }
  bool answered = false;
  BridgeClient& client = session_->client();
  if (recycle_id_ != 0) {
    if (const std::optional<Reply> reply = client.TakeReply(recycle_id_)) {
      std::string detail;
      view.RecycleFinished(recycle_path_, JudgeRecycle(*reply, &detail), detail);
      recycle_id_ = 0;
      answered = true;
    }
  }
  if (reveal_id_ != 0) {
    if (const std::optional<Reply> reply = client.TakeReply(reveal_id_)) {
      if (reply->kind != ReplyKind::kSuccess) {
        view.SetStatus("Explorer could not be asked: " +
                       (reply->kind == ReplyKind::kError ? reply->error_code + ": " + reply->error_message
                                                         : std::string("the host does not implement it")));
      }
      reveal_id_ = 0;
      answered = true;
    }
  }
  return answered;
}

void BrowserHost::Pump(std::chrono::milliseconds slice, BrowserView& view) {
  if (session_ == nullptr) {
    return;
  }
  try {
    session_->client().Pump(slice);
  } catch (const std::exception& error) {
    // A live browse ends with its host; a saved scan goes on without one.
    if (!owned_session_) {
      throw;
    }
    DropSession(error.what(), view);
  }
}

void BrowserHost::DropSession(const std::string& why, BrowserView& view) {
  if (recycle_id_ != 0) {
    view.RecycleFinished(recycle_path_, RecycleOutcome::kFailed, "the host stopped answering");
  } else {
    view.SetStatus("The host stopped answering: " + FirstLine(why));
  }
  recycle_id_ = 0;
  reveal_id_ = 0;
  notes_ << "pelmora-cli: the host stopped answering: " << why << '\n';
  session_ = nullptr;
  owned_session_->Finish();
  const std::vector<std::string> lines = owned_session_->HostOutput();
  if (!lines.empty()) {
    notes_ << "The host's last lines:\n";
    for (const std::string& line : lines) {
      notes_ << "  " << line << '\n';
    }
  }
  owned_session_.reset();
}

void BrowserHost::Finish() {
  if (owned_session_) {
    owned_session_->Finish();
    owned_session_.reset();
    session_ = nullptr;
  }
  const std::string notes = notes_.str();
  if (!notes.empty() && environment_.err != nullptr) {
    *environment_.err << notes << std::flush;
  }
  notes_.str("");
}

}  // namespace pel_mora::cli
