#include "cli/connection/drive_letter_loan.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace pel_mora::cli {

DriveLetterLoan DriveLetterLoan::ForFolder(HostPlatform& platform, const std::string& folder, std::ostream& status) {
  for (const auto& [letter, target] : platform.DriveLetterMappings()) {
    const std::optional<std::string> shown = platform.DriveLetterFolder(letter);
    std::error_code error;
    // By identity, so "~/Photos", a link to it and the folder's real path all find the letter.
    if (shown && std::filesystem::equivalent(*shown, folder, error) && !error) {
      return DriveLetterLoan(&platform, letter, std::nullopt);
    }
  }
  std::optional<DriveLetterMapping> mapping = platform.MapFreeDriveLetter(folder, status);
  if (!mapping) {
    throw PlatformError("every drive letter from D: to Y: is taken in " + platform.SettingsLocation() +
                        "; free one with: pelmora-cli unmap LETTER");
  }
  const char letter = mapping->letter;
  return DriveLetterLoan(&platform, letter, std::move(mapping));
}

DriveLetterLoan::DriveLetterLoan(DriveLetterLoan&& other) noexcept
    : platform_(other.platform_), letter_(other.letter_), mapping_(std::move(other.mapping_)) {
  other.mapping_.reset();
}

DriveLetterLoan::~DriveLetterLoan() {
  if (mapping_) {
    platform_->RemoveDriveLetterMapping(*mapping_);
  }
}

}  // namespace pel_mora::cli
