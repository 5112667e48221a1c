#include "cli/connection/drive_letter_loan.h"

#include <utility>

namespace pel_mora::cli {

DriveLetterLoan DriveLetterLoan::ForFolder(HostPlatform& platform, const std::string& folder, std::ostream& status) {
  // By identity, so "~/Photos", a link to it and the folder's real path all find the letter.
  const std::optional<FolderIdentity> wanted = IdentifyFolder(folder);
  if (!wanted) {
    throw PlatformError("cannot use " + folder + ": it cannot be looked at");
  }
  for (const auto& [letter, target] : platform.DriveLetterMappings()) {
    if (platform.DriveLetterIdentity(letter) != wanted) {
      continue;
    }
    std::unique_ptr<DriveLetterMark> mark = platform.MarkDriveLetterInUse(letter);
    // Looked at again once marked: until the mark held, another client could still change it.
    if (mark == nullptr || platform.DriveLetterIdentity(letter) != wanted) {
      continue;
    }
    return DriveLetterLoan(&platform, letter, folder, true, wanted, std::move(mark), std::nullopt);
  }
  std::optional<DriveLetterMapping> mapping = platform.MapFreeDriveLetter(folder, status);
  if (!mapping) {
    throw PlatformError("every drive letter from D: to Y: is taken in " + platform.SettingsLocation() +
                        "; free one with: pelmora-cli unmap LETTER");
  }
  const char letter = mapping->letter;
  DriveLetterLoan loan(&platform, letter, folder, true, wanted, nullptr, std::move(mapping));
  // Someone who does not mark letters (by hand, or an older client) could have put another
  // folder in its place already; the loan then gives it back at once.
  if (std::optional<std::string> change = loan.WhatChanged()) {
    throw PlatformError("drive " + std::string(1, letter) + ": was changed as soon as it was lent: " + *change);
  }
  return loan;
}

DriveLetterLoan DriveLetterLoan::ForLetter(HostPlatform& platform, char letter) {
  std::unique_ptr<DriveLetterMark> mark = platform.MarkDriveLetterInUse(letter);
  if (mark == nullptr) {
    throw PlatformError(std::string("drive ") + letter +
                        ": is being changed by another pelmora-cli (map or unmap) at this moment; try again");
  }
  const std::optional<std::string> folder = platform.DriveLetterFolder(letter);
  std::optional<FolderIdentity> identity = folder ? platform.DriveLetterIdentity(letter) : std::nullopt;
  // A letter the settings do not have leads nowhere, and must go on doing so: whatever it showed
  // by the act would be a folder the command never saw. Only a letter the settings have but the
  // client cannot follow (C: before the first start has made it) is left to the host.
  const bool pinned = folder.has_value() || platform.CheckDriveLetter(letter) == DriveLetterStatus::kUnknown;
  return DriveLetterLoan(&platform, letter, folder.value_or(""), pinned, identity, std::move(mark), std::nullopt);
}

DriveLetterLoan::DriveLetterLoan(HostPlatform* platform, char letter, std::string folder, bool pinned,
                                 std::optional<FolderIdentity> identity, std::unique_ptr<DriveLetterMark> mark,
                                 std::optional<DriveLetterMapping> mapping)
    : platform_(platform),
      letter_(letter),
      folder_(std::move(folder)),
      pinned_(pinned),
      identity_(identity),
      mark_(std::move(mark)),
      mapping_(std::move(mapping)) {}

DriveLetterLoan::DriveLetterLoan(DriveLetterLoan&& other) noexcept
    : platform_(other.platform_),
      letter_(other.letter_),
      folder_(std::move(other.folder_)),
      pinned_(other.pinned_),
      identity_(other.identity_),
      mark_(std::move(other.mark_)),
      mapping_(std::move(other.mapping_)) {
  other.mapping_.reset();
}

DriveLetterLoan::~DriveLetterLoan() {
  if (mapping_) {
    platform_->RemoveDriveLetterMapping(std::move(*mapping_));
  }
}

std::optional<std::string> DriveLetterLoan::WhatChanged() const {
  if (!pinned_) {
    return std::nullopt;
  }
  const std::optional<FolderIdentity> now = platform_->DriveLetterIdentity(letter_);
  if (now == identity_) {
    return std::nullopt;
  }
  const std::string drive = std::string("drive ") + letter_ + ":";
  if (!identity_) {
    return drive + " leads to a folder now, and led nowhere when this command began";
  }
  if (!now) {
    return drive + " no longer shows " + folder_ + " (it leads nowhere now)";
  }
  return drive + " no longer shows " + folder_ + " (it was changed while this command ran)";
}

}  // namespace pel_mora::cli
