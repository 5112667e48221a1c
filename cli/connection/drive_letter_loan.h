#pragma once

// A Linux folder reached through a drive letter for the length of one command: the host sees
// folders only through drive letters, and a person should not have to map one first.

#include <optional>
#include <ostream>
#include <string>

#include "cli/connection/host_platform.h"

namespace pel_mora::cli {

class DriveLetterLoan {
 public:
  // A letter that already shows `folder` (the same folder by identity, whatever the spelling or
  // links of either path) is used as it is and stays; otherwise the first free letter is mapped
  // to it and removed again when the loan ends. `folder` must be an existing folder. Throws
  // PlatformError when it cannot be mapped or every letter is taken.
  static DriveLetterLoan ForFolder(HostPlatform& platform, const std::string& folder, std::ostream& status);

  DriveLetterLoan(DriveLetterLoan&& other) noexcept;
  DriveLetterLoan& operator=(DriveLetterLoan&&) = delete;
  DriveLetterLoan(const DriveLetterLoan&) = delete;
  DriveLetterLoan& operator=(const DriveLetterLoan&) = delete;
  ~DriveLetterLoan();

  char letter() const { return letter_; }
  // Whether the letter was mapped for this loan (and goes with it), or was there already.
  bool mapped_for_loan() const { return mapping_.has_value(); }

 private:
  DriveLetterLoan(HostPlatform* platform, char letter, std::optional<DriveLetterMapping> mapping)
      : platform_(platform), letter_(letter), mapping_(std::move(mapping)) {}

  HostPlatform* platform_;
  char letter_;
  std::optional<DriveLetterMapping> mapping_;
};

}  // namespace pel_mora::cli
