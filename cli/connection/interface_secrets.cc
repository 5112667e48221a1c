#include "cli/connection/interface_secrets.h"

#include <optional>

#include "cli/connection/host_platform.h"

namespace pel_mora::cli {

embedding::InterfaceSecret ChooseRunningHostSecret(uint16_t port, const char* variable,
                                                   const std::vector<std::string>& files,
                                                   const std::function<SecretFileReading(const std::string&)>& read_file) {
  const std::string endpoint = "127.0.0.1:" + std::to_string(port);
  if (variable != nullptr && variable[0] != '\0') {
    const std::optional<embedding::InterfaceSecret> secret = embedding::ParseInterfaceSecret(variable);
    if (!secret) {
      throw PlatformError(std::string(embedding::kInterfaceSecretVariable) +
                          " is not 64 hexadecimal digits; set it to the secret the host on " + endpoint +
                          " was started with");
    }
    return *secret;
  }
  std::string looked;
  for (const std::string& file : files) {
    SecretFileReading reading = read_file(file);
    switch (reading.status) {
      case SecretFileReading::Status::kMissing:
        looked += "\n  " + file;
        continue;
      case SecretFileReading::Status::kRefused:
        looked += "\n  " + file + " (not used: " + reading.problem + ")";
        continue;
      case SecretFileReading::Status::kRead:
        break;
    }
    // The host ends the digits with a line break; an editor may add a carriage return too.
    while (!reading.text.empty() && (reading.text.back() == '\n' || reading.text.back() == '\r')) {
      reading.text.pop_back();
    }
    if (const std::optional<embedding::InterfaceSecret> secret = embedding::ParseInterfaceSecret(reading.text)) {
      return *secret;
    }
    looked += "\n  " + file + " (not used: it holds no secret of 64 hexadecimal digits)";
  }
  const std::string advice = "no secret for the host on " + endpoint + ": set " + embedding::kInterfaceSecretVariable +
                             " to the secret it was started with (a host started without one makes its own and "
                             "names the file that holds it)";
  if (looked.empty()) {
    throw PlatformError(advice);
  }
  throw PlatformError(advice + "; this client looked for that file at:" + looked);
}

}  // namespace pel_mora::cli
