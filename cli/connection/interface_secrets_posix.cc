#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "cli/connection/host_platform.h"
#include "cli/connection/interface_secrets.h"
#include "cli/connection/wine_platform.h"

namespace pel_mora::cli {

namespace {

namespace fs = std::filesystem;

// Where a host under Wine with the prefix `prefix` publishes the secret it made: the local
// application data of each Windows user of the prefix (Wine names the user after the Unix one).
void AddPublishedSecretFiles(const fs::path& prefix, uint16_t port, std::vector<std::string>* files) {
  const std::string name = "interface-bridge-" + std::to_string(port) + ".secret";
  std::error_code error;
  for (fs::directory_iterator user(prefix / "drive_c" / "users", error), end; !error && user != end;
       user.increment(error)) {
    files->push_back((user->path() / "AppData" / "Local" / "Pelmora" / name).string());
  }
}

SecretFileReading ReadSecretFile(const std::string& path) {
  SecretFileReading reading;
  // Never through a link: the file must be the one the host made, where it made it.
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return reading;
    }
    reading.status = SecretFileReading::Status::kRefused;
    reading.problem = std::generic_category().message(errno);
    return reading;
  }
  struct stat status {};
  const bool described = ::fstat(descriptor, &status) == 0;
  reading.status = SecretFileReading::Status::kRefused;
  if (!described) {
    reading.problem = "fstat failed: " + std::generic_category().message(errno);
  } else if (!S_ISREG(status.st_mode)) {
    reading.problem = "not a regular file";
  } else if (status.st_uid != ::geteuid()) {
    reading.problem = "it belongs to another user";
  } else if ((status.st_mode & S_IRWXO) != 0) {
    // Wine gives the owning group the owner's bits; on Debian that group is the user's own.
    reading.problem = "other users may read it";
  } else {
    char buffer[256];
    const ssize_t count = ::read(descriptor, buffer, sizeof(buffer));
    if (count < 0) {
      reading.problem = "read failed: " + std::generic_category().message(errno);
    } else {
      reading.status = SecretFileReading::Status::kRead;
      reading.text.assign(buffer, static_cast<size_t>(count));
    }
  }
  ::close(descriptor);
  return reading;
}

}  // namespace

embedding::InterfaceSecret NewInterfaceSecret() {
  embedding::InterfaceSecret secret{};
  size_t filled = 0;
  while (filled < secret.size()) {
    // Blocks only until the kernel's pool is first initialised, early in boot.
    const ssize_t count = ::getrandom(secret.data() + filled, secret.size() - filled, 0);
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw PlatformError("getrandom failed: " + std::generic_category().message(errno));
    }
    filled += static_cast<size_t>(count);
  }
  return secret;
}

embedding::InterfaceSecret RunningHostSecret(uint16_t port) {
  std::vector<std::string> files;
  const fs::path own_prefix = fs::path(DefaultWineRoot()) / "prefix";
  AddPublishedSecretFiles(own_prefix, port, &files);
  fs::path other_prefix;
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && prefix[0] != '\0') {
    other_prefix = prefix;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    other_prefix = fs::path(home) / ".wine";
  }
  if (!other_prefix.empty() && other_prefix.lexically_normal() != own_prefix.lexically_normal()) {
    AddPublishedSecretFiles(other_prefix, port, &files);
  }
  return ChooseRunningHostSecret(port, std::getenv(embedding::kInterfaceSecretVariable), files, ReadSecretFile);
}

}  // namespace pel_mora::cli
