#pragma once

// What the client needs from the machine it runs on: starting the Windows host and giving
// folders drive letters in the host's settings. The POSIX implementation runs the host under
// Wine (wine_platform.h); where there is none, the client needs --port and cannot map drives.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "embedding/interface_secret.h"
#include "cli/connection/folder_identity.h"

namespace pel_mora::cli {

// Something the platform could not do (start the host, change a drive letter); the message is
// meant for the person at the terminal. `details` are extra lines to show under it, such as
// the host's last diagnostics.
class PlatformError : public std::runtime_error {
 public:
  explicit PlatformError(const std::string& message, std::vector<std::string> details = {})
      : std::runtime_error(message), details_(std::move(details)) {}

  const std::vector<std::string>& details() const { return details_; }

 private:
  std::vector<std::string> details_;
};

// The person pressed Ctrl-C (or the process was asked to terminate) while the client waited.
class InterruptedError : public std::runtime_error {
 public:
  InterruptedError() : std::runtime_error("interrupted") {}
};

// Polled while the client waits; true once the wait should end.
using InterruptCheck = std::function<bool()>;

enum class DisplayMode {
  kNullDriver,   // Wine's null graphics driver: windows exist, nothing is shown, no display needed
  kRealDisplay,  // the display of the session ($DISPLAY), so the host's window can be seen
};

struct HostLaunchOptions {
  std::string host_path;  // empty: the platform's default
  DisplayMode display = DisplayMode::kNullDriver;
};

// A host process this client started. Destroying it stops a process that is still running.
class HostProcess {
 public:
  virtual ~HostProcess() = default;

  // The port its bridge listens on.
  virtual uint16_t port() const = 0;

  // The secret it was given, fresh for this process; the only key to its bridge.
  virtual const embedding::InterfaceSecret& interface_secret() const = 0;

  // Waits for the process to end: its exit code, or nothing when it still runs after `timeout`.
  virtual std::optional<int> WaitForExit(std::chrono::milliseconds timeout) = 0;

  // Its last lines of output, oldest first.
  virtual std::vector<std::string> RecentOutput() const = 0;
};

enum class DriveLetterStatus { kKnown, kUnknown };

// A running command's mark on a drive letter it lent or acts through. While any such mark
// lasts, no other client takes the letter (map, unmap, or the end of another command's loan);
// it goes with the command however that ends, a killed one included. Where letters cannot be
// changed there is nothing to mark, and the mark is this empty base.
class DriveLetterMark {
 public:
  virtual ~DriveLetterMark() = default;
};

// A drive letter and the link target that makes it show a folder, as the platform wrote it, with
// the mark that the letter is in use, made before the link so that no other client took the
// letter in between (none where the platform needs no mark).
struct DriveLetterMapping {
  char letter = 0;
  std::string target;
  std::unique_ptr<DriveLetterMark> mark;
};

class HostPlatform {
 public:
  virtual ~HostPlatform() = default;

  // Starts the host and waits until its bridge listens. Progress notes go to `status`. Throws
  // PlatformError (with the host's last lines when it ran) or InterruptedError.
  virtual std::unique_ptr<HostProcess> StartHost(const HostLaunchOptions& options, std::ostream& status,
                                                 const InterruptCheck& interrupted) = 0;

  // Whether a host started by StartHost would find drive `letter` ('A' to 'Z').
  virtual DriveLetterStatus CheckDriveLetter(char letter) = 0;

  // Gives `folder` the drive letter `letter` for hosts started from now on (and for new paths
  // in a running one). Returns the letter's previous target, if it had one. Throws
  // PlatformError, also for a letter that a running command has marked (MarkDriveLetterInUse).
  virtual std::optional<std::string> MapDriveLetter(char letter, const std::string& folder, std::ostream& status) = 0;

  // Removes the drive letter `letter` and returns what it showed. Throws PlatformError for C:
  // and Z:, for a letter that has no mapping or that a running command has marked, and where
  // the platform cannot change letters.
  virtual std::string UnmapDriveLetter(char /*letter*/) {
    throw PlatformError("this build cannot change drive letters");
  }

  // Gives `folder` a drive letter that shows nothing yet, the first free one from D: to Y:, and
  // returns it with the link target it wrote and its mark; nothing when every one of them is
  // taken. A letter is claimed by creating its link, which fails when another client created it
  // first, so two clients never share a letter by accident. Throws PlatformError.
  virtual std::optional<DriveLetterMapping> MapFreeDriveLetter(const std::string& /*folder*/,
                                                               std::ostream& /*status*/) {
    throw PlatformError("this build cannot change drive letters");
  }

  // Gives back a letter MapFreeDriveLetter lent: its mark goes, and the letter is removed when it
  // still shows exactly what was written and no other running command has marked it since (that
  // one reaches its folder through it now). A letter someone has remapped is left alone. Never
  // throws: it runs while a command unwinds.
  virtual void RemoveDriveLetterMapping(DriveLetterMapping /*mapping*/) noexcept {}

  // Marks drive `letter` as used by this command until the mark is destroyed. Nothing when
  // another client is changing the letter at this moment (map or unmap). Throws PlatformError
  // when the mark cannot be made.
  virtual std::unique_ptr<DriveLetterMark> MarkDriveLetterInUse(char /*letter*/) {
    return std::make_unique<DriveLetterMark>();
  }

  // The Linux folder that drive `letter` shows to a host started here, as an absolute path, or
  // nothing when it has no such folder or the platform cannot tell.
  virtual std::optional<std::string> DriveLetterFolder(char /*letter*/) { return std::nullopt; }

  // The identity of the folder drive `letter` shows now, as the host reaches it; nothing when it
  // shows none or the platform cannot tell (DriveLetterFolder says which).
  virtual std::optional<FolderIdentity> DriveLetterIdentity(char letter) {
    const std::optional<std::string> folder = DriveLetterFolder(letter);
    return folder ? IdentifyFolder(*folder) : std::nullopt;
  }

  // Every drive letter and what it points to, in letter order.
  virtual std::vector<std::pair<char, std::string>> DriveLetterMappings() = 0;

  // Where the settings that MapDriveLetter changes live, for messages.
  virtual std::string SettingsLocation() const = 0;

  // Whether the windows of a host started with `display` can be seen by a person at this
  // machine. Where they cannot, a dialog of the host waits for an answer nobody can give.
  virtual bool ShowsWindows(DisplayMode /*display*/) const { return true; }
};

}  // namespace pel_mora::cli
