#include "cli/connection/wine_platform.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include "cli/common/human_readable.h"
#include "cli/connection/child_process_posix.h"
#include "cli/connection/interface_secrets.h"

extern char** environ;

namespace pel_mora::cli {

namespace {

namespace fs = std::filesystem;

constexpr char kBridgeLinePrefix[] = "Interface bridge listening on 127.0.0.1:";
constexpr char kReadyStamp[] = ".pelmora-ready";  // the same stamp as scripts/wine-environment.sh
constexpr char kGraphicsFile[] = "graphics-driver";
constexpr size_t kKeptOutputLines = 20;
constexpr size_t kLongestKeptLine = 500;

std::string GraphicsName(DisplayMode display) {
  return display == DisplayMode::kNullDriver ? "null" : "default";
}

enum class LockKind { kShared, kExclusive };

// Holds an flock on a file for as long as it lives. The descriptor is closed on exec: services
// that Wine starts while the lock is held outlive the client's own child, and an inherited
// descriptor would keep the lock held for as long as they live. The kernel lets go of the lock
// when the process ends in any way, so a lock file a killed client left behind holds nothing.
class FileLock {
 public:
  // Waits for the lock.
  static FileLock Wait(const std::string& path, LockKind kind) {
    return std::move(*Take(path, kind, 0));
  }

  // Nothing when someone else holds a lock on the file that this one would conflict with.
  static std::optional<FileLock> Try(const std::string& path, LockKind kind) { return Take(path, kind, LOCK_NB); }

  FileLock(FileLock&& other) noexcept : descriptor_(other.descriptor_) { other.descriptor_ = -1; }
  FileLock& operator=(FileLock&&) = delete;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() {
    if (descriptor_ >= 0) {
      ::close(descriptor_);
    }
  }

 private:
  explicit FileLock(int descriptor) : descriptor_(descriptor) {}

  static std::optional<FileLock> Take(const std::string& path, LockKind kind, int flags) {
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0) {
      throw PlatformError("cannot open the lock file " + path + ": " + std::generic_category().message(errno));
    }
    FileLock lock(descriptor);
    while (::flock(descriptor, (kind == LockKind::kShared ? LOCK_SH : LOCK_EX) | flags) < 0) {
      if (errno == EWOULDBLOCK && (flags & LOCK_NB) != 0) {
        return std::nullopt;
      }
      if (errno != EINTR) {
        throw PlatformError("cannot lock " + path + ": " + std::generic_category().message(errno));
      }
    }
    return lock;
  }

  int descriptor_;
};

// A running command's mark on a drive letter: a shared lock on the letter's lock file, which
// map and unmap would have to hold alone.
class LetterMark : public DriveLetterMark {
 public:
  explicit LetterMark(FileLock lock) : lock_(std::move(lock)) {}

 private:
  FileLock lock_;
};

std::string LetterName(char letter) { return std::string(1, static_cast<char>(letter - 'A' + 'a')) + ":"; }

// The host's output: lines are collected while it starts and, afterwards, by a thread that
// keeps the pipe drained (a full pipe would block the host's next diagnostic) and keeps the
// last lines for error reports.
class OutputLines {
 public:
  // Reads what is available now; returns false at end of file.
  bool ReadAvailable(int descriptor) {
    char buffer[4096];
    while (true) {
      const ssize_t count = ::read(descriptor, buffer, sizeof(buffer));
      if (count > 0) {
        Append(buffer, static_cast<size_t>(count));
        continue;
      }
      if (count == 0) {
        FlushPartialLine();
        return false;
      }
      return errno == EAGAIN || errno == EINTR;
    }
  }

  // The first bridge line seen, if any: the port it names.
  std::optional<uint16_t> bridge_port() const {
    std::lock_guard lock(mutex_);
    return bridge_port_;
  }

  std::vector<std::string> Recent() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines(recent_.begin(), recent_.end());
    if (!partial_.empty()) {
      lines.push_back(partial_);
    }
    return lines;
  }

 private:
  void Append(const char* bytes, size_t size) {
    std::lock_guard lock(mutex_);
    for (size_t index = 0; index < size; ++index) {
      if (bytes[index] == '\n') {
        EndLineLocked();
      } else if (partial_.size() < kLongestKeptLine) {
        partial_.push_back(bytes[index]);
      }
    }
  }

  void FlushPartialLine() {
    std::lock_guard lock(mutex_);
    if (!partial_.empty()) {
      EndLineLocked();
    }
  }

  void EndLineLocked() {
    // A Windows program writes "\r\n" through its C runtime.
    if (!partial_.empty() && partial_.back() == '\r') {
      partial_.pop_back();
    }
    if (!bridge_port_ && partial_.rfind(kBridgeLinePrefix, 0) == 0) {
      const std::string digits = partial_.substr(sizeof(kBridgeLinePrefix) - 1);
      if (!digits.empty() && digits.size() <= 5 && digits.find_first_not_of("0123456789") == std::string::npos) {
        const int port = std::stoi(digits);
        if (port >= 1 && port <= 65535) {
          bridge_port_ = static_cast<uint16_t>(port);
        }
      }
    }
    recent_.push_back(std::move(partial_));
    partial_.clear();
    if (recent_.size() > kKeptOutputLines) {
      recent_.pop_front();
    }
  }

  mutable std::mutex mutex_;
  std::deque<std::string> recent_;
  std::string partial_;
  std::optional<uint16_t> bridge_port_;
};

bool WaitReadable(int descriptor, std::chrono::milliseconds timeout) {
  pollfd entry{};
  entry.fd = descriptor;
  entry.events = POLLIN;
  return ::poll(&entry, 1, static_cast<int>(timeout.count())) > 0;
}

class WineHostProcess : public HostProcess {
 public:
  WineHostProcess(std::unique_ptr<ChildProcess> child, std::unique_ptr<OutputLines> output, uint16_t port,
                  const embedding::InterfaceSecret& secret)
      : child_(std::move(child)), output_(std::move(output)), port_(port), secret_(secret) {
    drain_thread_ = std::thread([this] { Drain(); });
  }

  ~WineHostProcess() override {
    stop_draining_ = true;
    drain_thread_.join();
    // child_ goes next: a host still running is killed by its id.
  }

  uint16_t port() const override { return port_; }

  const embedding::InterfaceSecret& interface_secret() const override { return secret_; }

  std::optional<int> WaitForExit(std::chrono::milliseconds timeout) override { return child_->WaitFor(timeout); }

  std::vector<std::string> RecentOutput() const override { return output_->Recent(); }

 private:
  void Drain() {
    // The wineserver the host starts inherits the pipe and may outlive the host, so the end of
    // the file cannot be relied on: the thread also stops when told to.
    const int descriptor = child_->output_descriptor();
    while (!stop_draining_) {
      if (WaitReadable(descriptor, std::chrono::milliseconds(100)) && !output_->ReadAvailable(descriptor)) {
        return;
      }
    }
  }

  std::unique_ptr<ChildProcess> child_;
  std::unique_ptr<OutputLines> output_;
  uint16_t port_;
  embedding::InterfaceSecret secret_;
  std::atomic<bool> stop_draining_{false};
  std::thread drain_thread_;
};

bool IsExecutableFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

}  // namespace

std::string DefaultWineRoot() {
  if (const char* root = std::getenv("PELMORA_WINE_ROOT"); root != nullptr && root[0] != '\0') {
    return root;
  }
  std::string cache;
  if (const char* xdg_cache = std::getenv("XDG_CACHE_HOME"); xdg_cache != nullptr && xdg_cache[0] != '\0') {
    cache = xdg_cache;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    cache = std::string(home) + "/.cache";
  } else {
    cache = "/tmp";
  }
  return cache + "/pelmora/wine";
}

std::string DefaultHostPath(const std::string& client_directory) {
  if (client_directory.empty()) {
    return std::string();
  }
  return (fs::path(client_directory) / ".." / ".." / "windows" / "runner" / "pelmora.exe").lexically_normal().string();
}

std::string InstalledHostPath(const std::string& client_directory) {
  if (client_directory.empty()) {
    return std::string();
  }
  return (fs::path(client_directory) / ".." / "lib" / "pelmora" / "pelmora.exe").lexically_normal().string();
}

std::vector<HostCandidate> DefaultHostCandidates(const std::string& client_directory, const char* pelmora_host) {
  if (pelmora_host != nullptr && pelmora_host[0] != '\0') {
    return {{pelmora_host, "named by PELMORA_HOST"}};
  }
  if (client_directory.empty()) {
    return {};
  }
  return {{(fs::path(client_directory) / "pelmora.exe").lexically_normal().string(), "beside the client"},
          {InstalledHostPath(client_directory), "installed with the client"},
          {DefaultHostPath(client_directory), "in the build the client belongs to"}};
}

WinePlatform::WinePlatform(WinePlatformSettings settings) : settings_(std::move(settings)) {}

std::string WinePlatform::PrefixPath() const {
  return settings_.wine_root + "/prefix";
}

std::string WinePlatform::DosDevicesPath() const {
  return PrefixPath() + "/dosdevices";
}

std::string WinePlatform::SettingsLocation() const {
  return PrefixPath();
}

bool WinePlatform::ShowsWindows(DisplayMode display) const {
  const char* x_display = std::getenv("DISPLAY");
  return display == DisplayMode::kRealDisplay && x_display != nullptr && x_display[0] != '\0';
}

std::vector<std::string> WinePlatform::WineEnvironment(DisplayMode display) const {
  const std::string home = settings_.wine_root + "/home";
  const std::vector<std::pair<std::string, std::string>> wine_variables = {
      {"WINEPREFIX", PrefixPath()},
      {"HOME", home},
      {"XDG_DATA_HOME", home + "/.local/share"},
      {"XDG_CONFIG_HOME", home + "/.config"},
      {"XDG_CACHE_HOME", home + "/.cache"},
      {"WINEDEBUG", "-all"},
      // No Mono or Gecko install prompts when the prefix is made, and no menu entries in HOME.
      {"WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d"},
  };
  std::set<std::string> replaced;
  for (const auto& [name, value] : wine_variables) {
    replaced.insert(name);
  }
  // The host takes an ephemeral port and says which; a stray setting could only collide.
  replaced.insert("PELMORA_INTERFACE_PORT");
  // A secret meant for a running host (--port) is no business of the Wine commands; the host
  // this client starts gets a fresh one of its own (StartHost).
  replaced.insert(embedding::kInterfaceSecretVariable);
  if (display == DisplayMode::kNullDriver) {
    replaced.insert("DISPLAY");
    replaced.insert("WAYLAND_DISPLAY");
  }
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (replaced.count(text.substr(0, text.find('='))) == 0) {
      environment.push_back(text);
    }
  }
  for (const auto& [name, value] : wine_variables) {
    environment.push_back(name + "=" + value);
  }
  return environment;
}

void WinePlatform::PreparePrefix(DisplayMode display, std::ostream& status) {
  const std::string home = settings_.wine_root + "/home";
  std::error_code error;
  for (const std::string& folder : {home + "/.local/share", home + "/.config", home + "/.cache"}) {
    fs::create_directories(folder, error);
    if (error) {
      throw PlatformError("cannot create " + folder + ": " + error.message());
    }
  }
  const FileLock lock = FileLock::Wait(settings_.wine_root + "/.prefix.lock", LockKind::kExclusive);
  const std::vector<std::string> environment = WineEnvironment(display);
  // What the last Wine command wrote, for the message when it fails.
  std::string wine_output;
  const auto wine = [&](std::vector<std::string> arguments) {
    std::vector<std::string> command = settings_.wine_command;
    command.insert(command.end(), arguments.begin(), arguments.end());
    wine_output.clear();
    try {
      return RunChildToEndKeepingOutput(command, environment, &wine_output);
    } catch (const std::runtime_error& failure) {
      throw PlatformError(std::string("cannot run Wine (scripts/setup.sh installs it): ") + failure.what());
    }
  };
  const std::string stamp = PrefixPath() + "/" + kReadyStamp;
  const std::string graphics_file = settings_.wine_root + "/" + kGraphicsFile;
  std::string current_graphics;
  const bool prefix_ready = fs::exists(stamp, error);
  if (!prefix_ready) {
    status << "pelmora-cli: creating the Wine settings in " << PrefixPath() << " (first run only; this takes a while)\n"
           << std::flush;
    // Like scripts/wine-environment.sh, a wineboot exit status is not trusted: the stamp and the
    // prefix's own files are what the next steps rely on.
    wine({"wineboot", "--init"});
    if (!fs::is_directory(DosDevicesPath(), error)) {
      throw PlatformError("Wine did not create the prefix " + PrefixPath());
    }
    // ORDER MATTERS: wineboot returns before the programs it started have finished setting up
    // the prefix (the user's registry among them); a "wine reg add" of a user key that runs
    // meanwhile can fail (seen on a loaded machine as exit status 1 for the graphics driver). So
    // the setup is let finish first: "wineserver -w" waits until the prefix's server has no
    // more programs to serve.
    std::vector<std::string> wait_for_setup = settings_.wineserver_command;
    wait_for_setup.push_back("-w");
    try {
      RunChildToEnd(wait_for_setup, environment);
    } catch (const std::runtime_error&) {
      // No wineserver program: then nothing of wineboot's can still be running either.
    }
    // No debugger on a crash: a crashed host ends at once, so its connection closes and the
    // client reports it, where Wine's default would start winedbg and keep the host (and the
    // client waiting for it) alive. The "debugger" is a command that exits straight away.
    const std::string debugger_key = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";
    wine({"reg", "add", debugger_key, "/v", "Debugger", "/d", "cmd.exe /c exit", "/f"});
    wine({"reg", "add", debugger_key, "/v", "Auto", "/d", "1", "/f"});
  } else {
    // A prefix made by scripts/wine-environment.sh has no record and uses the null driver.
    std::ifstream recorded(graphics_file);
    if (!std::getline(recorded, current_graphics)) {
      current_graphics = GraphicsName(DisplayMode::kNullDriver);
    }
  }
  if (current_graphics != GraphicsName(display)) {
    const int result = display == DisplayMode::kNullDriver
                           ? wine({"reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f"})
                           : wine({"reg", "delete", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/f"});
    // Deleting a value that is not there fails harmlessly; adding one must work.
    if (result != 0 && display == DisplayMode::kNullDriver) {
      // Its last words say why (the key, the server, a missing program).
      std::string last_line;
      std::istringstream written(wine_output);
      for (std::string line; std::getline(written, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
          line.pop_back();
        }
        last_line = line.empty() ? last_line : line;
      }
      throw PlatformError("cannot select Wine's null graphics driver in " + PrefixPath() + " (wine reg exited with " +
                          std::to_string(result) + (last_line.empty() ? "" : ": " + last_line) + ")");
    }
    // A wineserver keeps the graphics setting it started with, and the one that wineboot or
    // "wine reg" started lingers for a while: stop it (it writes the registry out as it
    // goes), so the host starts a server that reads the new setting. It is the server of this
    // client's own prefix only.
    std::vector<std::string> stop = settings_.wineserver_command;
    stop.push_back("-k");
    try {
      RunChildToEnd(stop, environment);
    } catch (const std::runtime_error&) {
      // No wineserver program means no server is running either.
    }
    std::ofstream(graphics_file) << GraphicsName(display) << '\n';
  }
  if (!prefix_ready) {
    std::ofstream(stamp).flush();
  }
}

std::unique_ptr<HostProcess> WinePlatform::StartHost(const HostLaunchOptions& options, std::ostream& status,
                                                     const InterruptCheck& interrupted) {
  const std::vector<HostCandidate> candidates =
      options.host_path.empty() ? settings_.default_hosts : std::vector<HostCandidate>{{options.host_path, ""}};
  if (candidates.empty()) {
    throw PlatformError("no host to start: name pelmora.exe with --host PATH, or use a running host with --port N");
  }
  std::error_code error;
  std::optional<fs::path> found;
  std::string looked;
  for (const HostCandidate& candidate : candidates) {
    const fs::path host = fs::absolute(candidate.path, error).lexically_normal();
    if (IsExecutableFile(host)) {
      found = host;
      break;
    }
    looked += "\n  " + host.string() + (candidate.origin.empty() ? "" : " (" + candidate.origin + ")");
  }
  const char* const remedy =
      "build it with scripts/setup.sh, name it with --host PATH or PELMORA_HOST, or use a running host with --port N";
  if (!found && candidates.size() == 1) {
    const HostCandidate& only = candidates.front();
    throw PlatformError("the host " + fs::absolute(only.path, error).lexically_normal().string() +
                        (only.origin.empty() ? "" : " " + only.origin) + " was not found; " + remedy);
  }
  if (!found) {
    throw PlatformError("no host found; looked for pelmora.exe at:" + looked + "\n" + remedy);
  }
  const fs::path host = *found;
  const fs::path assets = host.parent_path() / "data" / "flutter_assets";
  if (!fs::is_directory(assets, error)) {
    throw PlatformError("the host " + host.string() + " has no data/flutter_assets folder beside it, without which it "
                        "cannot start");
  }
  PreparePrefix(options.display, status);
  // Making a new prefix takes seconds and is not cut short (a half-made prefix would be worse);
  // a Ctrl-C meanwhile is honoured here, before there is a host to stop.
  if (interrupted()) {
    throw InterruptedError();
  }

  std::vector<std::string> command = settings_.wine_command;
  command.push_back(host.string());
  // A fresh secret for every host, handed over in its environment: /proc/PID/environ is readable
  // by this user alone, where every local user can read a command line.
  const embedding::InterfaceSecret secret = NewInterfaceSecret();
  std::vector<std::string> environment = WineEnvironment(options.display);
  environment.push_back(std::string(embedding::kInterfaceSecretVariable) + "=" + embedding::InterfaceSecretText(secret));
  std::unique_ptr<ChildProcess> child;
  try {
    child = std::make_unique<ChildProcess>(command, environment, host.parent_path().string(), ChildOutput::kPipe);
  } catch (const std::runtime_error& failure) {
    throw PlatformError(std::string("cannot start the host under Wine (scripts/setup.sh installs Wine): ") +
                        failure.what());
  }
  auto output = std::make_unique<OutputLines>();
  const int descriptor = child->output_descriptor();
  const auto deadline = std::chrono::steady_clock::now() + settings_.start_timeout;
  while (true) {
    bool open = true;
    if (WaitReadable(descriptor, std::chrono::milliseconds(100))) {
      open = output->ReadAvailable(descriptor);
    }
    if (const std::optional<uint16_t> port = output->bridge_port()) {
      return std::make_unique<WineHostProcess>(std::move(child), std::move(output), *port, secret);
    }
    if (const std::optional<int> exit_code = child->TryWait()) {
      // Whatever it wrote last is in the pipe already, unless a wineserver holds it open.
      if (open) {
        output->ReadAvailable(descriptor);
      }
      throw PlatformError("the host did not start: it exited with code " + std::to_string(*exit_code) +
                              " before its interface bridge listened",
                          output->Recent());
    }
    if (interrupted()) {
      throw InterruptedError();
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw PlatformError("the host did not start: its interface bridge was not listening after " +
                              FormatDuration(settings_.start_timeout.count()),
                          output->Recent());
    }
    if (!open) {
      // The pipe ended but the process lives on: nothing more will be said, wait for its exit.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
}

DriveLetterStatus WinePlatform::CheckDriveLetter(char letter) {
  std::error_code error;
  if (!fs::is_directory(DosDevicesPath(), error)) {
    // The prefix is made on the first start, with C: (its Windows folder) and Z: (the root).
    return letter == 'C' || letter == 'Z' ? DriveLetterStatus::kKnown : DriveLetterStatus::kUnknown;
  }
  const fs::path link = fs::path(DosDevicesPath()) / LetterName(letter);
  return fs::symlink_status(link, error).type() != fs::file_type::not_found && !error ? DriveLetterStatus::kKnown
                                                                                      : DriveLetterStatus::kUnknown;
}

namespace {

// The folder a drive letter will show, without links or "..", so the letter keeps showing it
// whatever the current folder of a later command.
fs::path CanonicalFolder(const std::string& folder) {
  std::error_code error;
  fs::path target = fs::canonical(folder, error);
  if (error) {
    throw PlatformError("cannot use " + folder + ": " + error.message());
  }
  if (!fs::is_directory(target, error)) {
    throw PlatformError(folder + " is not a folder");
  }
  return target;
}

}  // namespace

namespace {

// The file whose locks say which drive letters running commands use: below the root, beside the
// prefix and not in it, since Wine reads every name in dosdevices.
std::string LetterLockPath(const std::string& wine_root, char letter) {
  const fs::path folder = fs::path(wine_root) / "drive-letters";
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    throw PlatformError("cannot create " + folder.string() + ": " + error.message());
  }
  return (folder / (std::string(1, static_cast<char>(letter - 'A' + 'a')) + ".lock")).string();
}

// The letter's lock held alone, for changing the letter; nothing while a running command uses it.
std::optional<FileLock> TakeLetterAlone(const std::string& wine_root, char letter) {
  return FileLock::Try(LetterLockPath(wine_root, letter), LockKind::kExclusive);
}

PlatformError LetterInUse(char letter) {
  return PlatformError(std::string("drive ") + letter +
                       ": is in use by another pelmora-cli command that is running now (it reaches a folder "
                       "through the letter); it can be changed once that command has ended");
}

}  // namespace

std::optional<std::string> WinePlatform::MapDriveLetter(char letter, const std::string& folder,
                                                        std::ostream& status) {
  if (letter == 'C') {
    throw PlatformError("drive C: holds the Wine prefix's Windows folder; choose another letter");
  }
  if (letter == 'Z') {
    throw PlatformError("drive Z: shows the whole Linux file system to Wine; choose another letter");
  }
  const fs::path target = CanonicalFolder(folder);
  std::error_code error;
  if (!fs::is_directory(DosDevicesPath(), error)) {
    PreparePrefix(DisplayMode::kNullDriver, status);
  }
  // Held until the new link is in place, so no command starts to use the letter meanwhile.
  const std::optional<FileLock> alone = TakeLetterAlone(settings_.wine_root, letter);
  if (!alone) {
    throw LetterInUse(letter);
  }
  const std::string name = LetterName(letter);
  const fs::path link = fs::path(DosDevicesPath()) / name;
  std::optional<std::string> previous;
  const fs::file_status existing = fs::symlink_status(link, error);
  if (existing.type() == fs::file_type::symlink) {
    previous = fs::read_symlink(link, error).string();
  } else if (existing.type() != fs::file_type::not_found) {
    throw PlatformError(link.string() + " exists and is not a symbolic link; it is left alone");
  }
  // A new link under a temporary name, then renamed over the old one: a host running meanwhile
  // sees the old letter or the new one, never none.
  const fs::path temporary = fs::path(DosDevicesPath()) / ("." + name + ".pelmora-" + std::to_string(::getpid()));
  fs::remove(temporary, error);
  fs::create_directory_symlink(target, temporary, error);
  if (error) {
    throw PlatformError("cannot create the link " + temporary.string() + ": " + error.message());
  }
  fs::rename(temporary, link, error);
  if (error) {
    fs::remove(temporary, error);
    throw PlatformError("cannot replace " + link.string() + ": " + error.message());
  }
  return previous;
}

std::string WinePlatform::UnmapDriveLetter(char letter) {
  if (letter == 'C' || letter == 'Z') {
    throw PlatformError(std::string("drive ") + letter + ": belongs to the Wine prefix itself and is never removed");
  }
  const fs::path link = fs::path(DosDevicesPath()) / LetterName(letter);
  std::error_code error;
  if (fs::symlink_status(link, error).type() != fs::file_type::symlink) {
    throw PlatformError(std::string("drive ") + letter + ": is not a mapping in " + PrefixPath());
  }
  const std::optional<FileLock> alone = TakeLetterAlone(settings_.wine_root, letter);
  if (!alone) {
    throw LetterInUse(letter);
  }
  const std::string target = fs::read_symlink(link, error).string();
  // Only the link goes; the folder it shows is never touched.
  if (!fs::remove(link, error) || error) {
    throw PlatformError("cannot remove " + link.string() + ": " + error.message());
  }
  return target;
}

std::unique_ptr<DriveLetterMark> WinePlatform::MarkDriveLetterInUse(char letter) {
  std::optional<FileLock> shared = FileLock::Try(LetterLockPath(settings_.wine_root, letter), LockKind::kShared);
  if (!shared) {
    return nullptr;
  }
  return std::make_unique<LetterMark>(std::move(*shared));
}

std::optional<DriveLetterMapping> WinePlatform::MapFreeDriveLetter(const std::string& folder, std::ostream& status) {
  const fs::path target = CanonicalFolder(folder);
  std::error_code error;
  if (!fs::is_directory(DosDevicesPath(), error)) {
    PreparePrefix(DisplayMode::kNullDriver, status);
  }
  // A: and B: are floppy letters some programs treat specially; C: and Z: belong to the prefix.
  for (char letter = 'D'; letter <= 'Y'; ++letter) {
    const std::string name = LetterName(letter);
    // "q::" names the device behind a letter (a CD drive Wine found); such a letter is taken
    // even when it has no folder.
    if (fs::symlink_status(fs::path(DosDevicesPath()) / (name + ":"), error).type() != fs::file_type::not_found) {
      continue;
    }
    // Marked before the link exists, so that no map or unmap takes it between the two; a letter
    // being changed right now is passed over.
    std::unique_ptr<DriveLetterMark> mark = MarkDriveLetterInUse(letter);
    if (!mark) {
      continue;
    }
    // Creating the link is the claim: symlink() fails with EEXIST when the letter has any entry,
    // including one another client made a moment ago, so no check-then-create window exists.
    fs::create_directory_symlink(target, fs::path(DosDevicesPath()) / name, error);
    if (!error) {
      return DriveLetterMapping{letter, target.string(), std::move(mark)};
    }
    if (error != std::errc::file_exists) {
      throw PlatformError("cannot create the link " + (fs::path(DosDevicesPath()) / name).string() + ": " +
                          error.message());
    }
  }
  return std::nullopt;
}

void WinePlatform::RemoveDriveLetterMapping(DriveLetterMapping mapping) noexcept {
  try {
    // This command's own mark goes first; then the letter is taken only when no other running
    // command has marked it since (a folder shown by a letter is used where it is, so another
    // command given the same folder reaches it through this letter).
    mapping.mark.reset();
    const std::optional<FileLock> alone = TakeLetterAlone(settings_.wine_root, mapping.letter);
    if (!alone) {
      return;
    }
    const fs::path link = fs::path(DosDevicesPath()) / LetterName(mapping.letter);
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    // A letter that shows something else now was remapped by someone after the claim: theirs.
    if (!error && target.string() == mapping.target) {
      fs::remove(link, error);
    }
  } catch (...) {
    // The lock file could not be made, or a path not built: the letter stays, which `unmap` can
    // remove.
  }
}

std::optional<std::string> WinePlatform::DriveLetterFolder(char letter) {
  std::error_code error;
  if (!fs::is_directory(DosDevicesPath(), error)) {
    // Not made yet: the first start gives Z: the root, and C: is made with the prefix.
    return letter == 'Z' ? std::optional<std::string>("/") : std::nullopt;
  }
  const fs::path link = fs::path(DosDevicesPath()) / LetterName(letter);
  const fs::path target = fs::read_symlink(link, error);
  if (error) {
    return std::nullopt;
  }
  // Wine reads a relative target ("../drive_c") from the dosdevices folder.
  return (target.is_absolute() ? target : fs::path(DosDevicesPath()) / target).lexically_normal().string();
}

std::optional<FolderIdentity> WinePlatform::DriveLetterIdentity(char letter) {
  std::error_code error;
  if (!fs::is_directory(DosDevicesPath(), error)) {
    return HostPlatform::DriveLetterIdentity(letter);
  }
  // Through the link itself, as Wine opens every path on the letter: whatever the link and the
  // links in its target lead to is what the host reaches.
  return IdentifyFolder((fs::path(DosDevicesPath()) / LetterName(letter)).string());
}

std::vector<std::pair<char, std::string>> WinePlatform::DriveLetterMappings() {
  std::vector<std::pair<char, std::string>> mappings;
  std::error_code error;
  for (fs::directory_iterator entry(DosDevicesPath(), error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    // "q:" is a drive letter; "q::" names the device behind one.
    if (name.size() != 2 || name[1] != ':' || name[0] < 'a' || name[0] > 'z') {
      continue;
    }
    std::error_code link_error;
    const fs::path target = fs::read_symlink(entry->path(), link_error);
    mappings.emplace_back(static_cast<char>(name[0] - 'a' + 'A'), link_error ? std::string("?") : target.string());
  }
  std::sort(mappings.begin(), mappings.end());
  return mappings;
}

}  // namespace pel_mora::cli
