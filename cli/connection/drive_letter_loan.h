#pragma once

// A drive letter a command lends or acts through, for the length of that command: the host sees
// folders only through drive letters, and a person should not have to map one first.
//
// Between the moment a command resolves its letter and the moment it asks the host to act on a
// path through it (recycle, open, clean, scan), the letter could be made to show another folder
// (another client's map, or anyone with the Wine settings), and the act would land on another
// folder's file of the same name. So the loan marks the letter as in use (MarkDriveLetterInUse:
// other clients' map and unmap refuse it), keeps the identity of the folder it showed, and every
// act first asks WhatChanged.

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "cli/connection/folder_identity.h"
#include "cli/connection/host_platform.h"

namespace pel_mora::cli {

class DriveLetterLoan {
 public:
  // A letter that already shows `folder` (the same folder by identity, whatever the spelling or
  // links of either path) is used as it is and stays; otherwise the first free letter is mapped
  // to it and removed again when the loan ends. `folder` must be an existing folder. Throws
  // PlatformError when it cannot be mapped or every letter is taken.
  static DriveLetterLoan ForFolder(HostPlatform& platform, const std::string& folder, std::ostream& status);

  // A letter the command was given (a drive, or a path on one), used as it is: marked, and the
  // folder it shows now kept when the platform can see it; a letter the settings do not have is
  // kept as leading nowhere. A letter the settings have but the platform cannot follow is left
  // to the host, as for a host with letters of its own. Throws PlatformError while another
  // client is changing the letter.
  static DriveLetterLoan ForLetter(HostPlatform& platform, char letter);

  DriveLetterLoan(DriveLetterLoan&& other) noexcept;
  DriveLetterLoan& operator=(DriveLetterLoan&&) = delete;
  DriveLetterLoan(const DriveLetterLoan&) = delete;
  DriveLetterLoan& operator=(const DriveLetterLoan&) = delete;
  ~DriveLetterLoan();

  char letter() const { return letter_; }
  // Whether the letter was mapped for this loan (and goes with it), or was there already.
  bool mapped_for_loan() const { return mapping_.has_value(); }

  // Nothing while the letter shows the very folder it showed when the loan began (or when the
  // platform could not see it then); otherwise what happened to it, as a sentence for the person
  // ("drive D: no longer shows /home/ann/Photos, ..."). Asked right before every act through the
  // letter, which is refused when there is an answer.
  std::optional<std::string> WhatChanged() const;

 private:
  DriveLetterLoan(HostPlatform* platform, char letter, std::string folder, bool pinned,
                  std::optional<FolderIdentity> identity, std::unique_ptr<DriveLetterMark> mark,
                  std::optional<DriveLetterMapping> mapping);

  HostPlatform* platform_;
  char letter_;
  // The folder the letter showed when the loan began, for messages.
  std::string folder_;
  // Whether the platform could see the letter's folder when the loan began, and its identity
  // then (nothing: the letter led nowhere).
  bool pinned_;
  std::optional<FolderIdentity> identity_;
  // The mark of a letter used as it was; a lent letter's mark is its mapping's.
  std::unique_ptr<DriveLetterMark> mark_;
  std::optional<DriveLetterMapping> mapping_;
};

}  // namespace pel_mora::cli
