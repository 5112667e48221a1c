#pragma once

// The host behind the browser's recycle and show keys. A live browse has one from the start (the
// session its scan runs in); a saved scan has none until the first of those keys, which starts
// one exactly as the other commands do (--host, PELMORA_HOST, --port, --display) and keeps it for
// the later keys. Before the host is asked, or started, what the client can see itself is
// checked: that the drive letter is known here, that a window could be seen, and that the item
// is still there; the host then decides by the file as it is now.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "cli/browser/browser_view.h"
#include "cli/commands/commands.h"
#include "cli/connection/drive_letter_loan.h"

namespace pel_mora::cli {

class BrowserHost {
 public:
  // A live browse of drive `drive_letter`, in the session of its command. `loan` is the letter
  // as the command resolved it (null where the client cannot see the host's letters): nothing is
  // asked through it once it shows another folder.
  BrowserHost(HostSession& session, char drive_letter, std::shared_ptr<DriveLetterLoan> loan,
              const CliOptions& options, const CliEnvironment& environment);
  // A saved scan of drive `drive_letter` (0 when its root is no drive letter): no host until a
  // key needs one. `drive_folder` is the Linux folder the letter showed when the scan was saved,
  // when the file says: its items are then reached through a letter that shows that folder now
  // (the saved one, or one lent for the browser), never through a letter that shows another.
  // Without it, the letter is taken as it is at the first key; either way, nothing is asked
  // through the letter once it shows another folder than it did then.
  BrowserHost(char drive_letter, std::optional<std::string> drive_folder, const CliOptions& options,
              const CliEnvironment& environment);
  ~BrowserHost();

  BrowserHost(const BrowserHost&) = delete;
  BrowserHost& operator=(const BrowserHost&) = delete;

  // Carries out a recycle or show request of the view. What needs no host (a letter that is not
  // mapped, no display, an item that is gone) is answered on the view's status line at once;
  // otherwise a host is started when there is none and the request is sent. While a host starts,
  // `waiting` is called every few tenths of a second: it keeps the screen up to date and returns
  // true to give up the start (q, Ctrl-C).
  void Carry(const BrowserRequest& request, BrowserView& view, const InterruptCheck& waiting);

  // Gives the view the host's answers that have arrived; true when there were any.
  bool TakeAnswers(BrowserView& view);

  bool has_session() const { return session_ != nullptr; }

  // Lets a started host's frames arrive for up to `slice`; returns at once when there is no
  // host. A host of a saved scan that stops answering is let go, which the view is told.
  void Pump(std::chrono::milliseconds slice, BrowserView& view);

  // Closes a host started here, in order, and writes its notes (and why a start failed) to the
  // error stream; for after the terminal is given back. A live browse's session is closed by
  // its command instead.
  void Finish();

 private:
  // The session, started when there is none. False, with the reason on the status line, when
  // none could be started.
  bool EnsureSession(BrowserView& view, const InterruptCheck& waiting);
  // Finds the letter through which the saved scan's drive is reached now (host_letter_); false,
  // with the reason on the status line, when there is none.
  bool ReachDrive(HostPlatform* platform, BrowserView& view);
  // False, with the reason on the status line, once the letter no longer shows the folder it
  // showed when it was found; nothing may then be asked through it.
  bool LetterUnchanged(bool recycle, BrowserView& view);
  // Lets go of a started host that stopped answering; what was pending fails.
  void DropSession(const std::string& why, BrowserView& view);

  const CliOptions& options_;
  const CliEnvironment& environment_;
  char drive_letter_ = 0;
  std::optional<std::string> drive_folder_;
  // The letter the host is asked through: drive_letter_, or one lent for drive_folder_; 0 until
  // the first request has found it.
  char host_letter_ = 0;
  // Set while a host starts: what the start polls for the person's keys.
  InterruptCheck start_watch_;
  // What a host started here notes (and why a start failed), kept off the full screen and
  // written to the error stream once the terminal is given back. Declared before the session,
  // which writes to it until it is destroyed.
  std::ostringstream notes_;
  // The letter the host is asked through (host_letter_), in use while the browser runs: the live
  // browse's command's, or the one ReachDrive found. ORDER MATTERS: declared before the session,
  // so that a letter lent for the saved folder is removed only after the host that used it has
  // gone.
  std::shared_ptr<DriveLetterLoan> loan_;
  std::unique_ptr<HostSession> owned_session_;
  HostSession* session_ = nullptr;
  // The ids of the calls waiting for their answers; 0 for none (the bridge never uses id 0 for
  // a call).
  uint32_t recycle_id_ = 0;
  std::string recycle_path_;
  uint32_t reveal_id_ = 0;
};

}  // namespace pel_mora::cli
