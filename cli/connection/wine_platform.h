#pragma once

// Runs the Windows host under Wine, with Wine settings that belong to this client alone (POSIX).
//
// Everything Wine reads lives below one root folder, by default
// ${XDG_CACHE_HOME:-$HOME/.cache}/pelmora/wine, kept between runs so that only the first run
// pays for creating the prefix:
//   ROOT/prefix   the WINEPREFIX (never ~/.wine); its dosdevices hold the drive letters
//   ROOT/home     HOME and the XDG folders for Wine, so the host's Recycle Bin is not the
//                 person's own trash
// The host gets WINEDEBUG=-all and, unless a display is wanted, no DISPLAY and Wine's null
// graphics driver. These are the settings scripts/wine-environment.sh gives the tests, so a
// prefix made by either is valid for both.

#include <chrono>
#include <string>
#include <vector>

#include "cli/connection/host_platform.h"

namespace pel_mora::cli {

// A place where a host may be, and why it is looked at there (for the message when it is not).
struct HostCandidate {
  std::string path;
  std::string origin;  // e.g. "named by PELMORA_HOST"
};

struct WinePlatformSettings {
  std::string wine_root;
  // The commands that run a Windows program and stop the prefix's wineserver; a test puts a
  // script in their place.
  std::vector<std::string> wine_command{"wine"};
  std::vector<std::string> wineserver_command{"wineserver"};
  // Where pelmora.exe is looked for, in order, when the command line names none.
  std::vector<HostCandidate> default_hosts;
  // From the start of the host until its bridge line; a first start in a new prefix is slow.
  std::chrono::milliseconds start_timeout{120000};
};

// $PELMORA_WINE_ROOT when set, else ${XDG_CACHE_HOME:-$HOME/.cache}/pelmora/wine.
std::string DefaultWineRoot();

// The host of the build that this client belongs to: the client lives in build/TREE/cli, the
// host in build/windows/runner.
std::string DefaultHostPath(const std::string& client_directory);

// The host that an install put under the client's prefix: the client in PREFIX/bin, the host
// and its data folder in PREFIX/lib/pelmora (the install rules of the runner and of the client).
std::string InstalledHostPath(const std::string& client_directory);

// Where a host is looked for when the command line names none: only `pelmora_host` (the value of
// $PELMORA_HOST, null when unset) when it is set, else beside the client, then where an install
// puts it, then in the build the client belongs to.
std::vector<HostCandidate> DefaultHostCandidates(const std::string& client_directory, const char* pelmora_host);

class WinePlatform : public HostPlatform {
 public:
  explicit WinePlatform(WinePlatformSettings settings);

  std::unique_ptr<HostProcess> StartHost(const HostLaunchOptions& options, std::ostream& status,
                                         const InterruptCheck& interrupted) override;
  DriveLetterStatus CheckDriveLetter(char letter) override;
  std::optional<std::string> MapDriveLetter(char letter, const std::string& folder, std::ostream& status) override;
  std::string UnmapDriveLetter(char letter) override;
  std::optional<DriveLetterMapping> MapFreeDriveLetter(const std::string& folder, std::ostream& status) override;
  void RemoveDriveLetterMapping(DriveLetterMapping mapping) noexcept override;
  // A shared flock on ROOT/drive-letters/LETTER.lock, held for the command's duration; map and
  // unmap (and the end of a loan) need that lock alone.
  std::unique_ptr<DriveLetterMark> MarkDriveLetterInUse(char letter) override;
  std::optional<std::string> DriveLetterFolder(char letter) override;
  std::optional<FolderIdentity> DriveLetterIdentity(char letter) override;
  std::vector<std::pair<char, std::string>> DriveLetterMappings() override;
  std::string SettingsLocation() const override;
  // Only with --display and a DISPLAY to give the host: otherwise it runs on the null driver.
  bool ShowsWindows(DisplayMode display) const override;

  // The environment of every Wine process this client starts: the current one with the Wine
  // variables pointing below the root.
  std::vector<std::string> WineEnvironment(DisplayMode display) const;

 private:
  // Creates the prefix on first use (under a lock, since two clients may start at once) and
  // sets its graphics driver for `display`.
  void PreparePrefix(DisplayMode display, std::ostream& status);
  std::string PrefixPath() const;
  std::string DosDevicesPath() const;

  WinePlatformSettings settings_;
};

}  // namespace pel_mora::cli
