// Whether a path given to a command exists where the client can see it: Linux paths as given,
// drive paths below the folder of their letter, matched as Wine matches names.

#include "cli/connection/local_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace pel_mora::cli {
namespace {

namespace fs = std::filesystem;

class LocalPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("pelmora-local-paths-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "Photos" / "2024");
    std::ofstream(root_ / "Photos" / "2024" / "Beach.JPG") << "x";
  }
  void TearDown() override { fs::remove_all(root_); }

  // Drive P: shows the fixture; no other letter is known.
  DriveFolderLookup Drives() const {
    return [root = root_.string()](char letter) -> std::optional<std::string> {
      return letter == 'P' ? std::optional<std::string>(root) : std::nullopt;
    };
  }

  fs::path root_;
};

struct PresenceCase {
  std::string path;  // "ROOT" stands for the fixture's Linux path
  LocalPresence expected;
};

TEST_F(LocalPathsTest, TellsPresentMissingAndUnknownPaths) {
  const PresenceCase cases[] = {
      {"ROOT/Photos/2024/Beach.JPG", LocalPresence::kPresent},
      {"ROOT/Photos/2024/beach.jpg", LocalPresence::kMissing},  // Linux names keep their case
      {"ROOT/Photos/absent", LocalPresence::kMissing},
      {"P:\\Photos\\2024\\Beach.JPG", LocalPresence::kPresent},
      {"p:/photos/2024/BEACH.jpg", LocalPresence::kPresent},  // Wine ignores the case of A to Z
      {"P:\\", LocalPresence::kPresent},
      {"P:", LocalPresence::kPresent},
      {"P:\\Photos\\.\\absent\\..\\2024", LocalPresence::kPresent},
      {"P:\\Photos\\absent.jpg", LocalPresence::kMissing},
      {"P:\\Photos\\absent\\2024", LocalPresence::kMissing},
      {"P:\\PHOTOS~1\\2024", LocalPresence::kUnknown},  // a short name: only the host can tell
      {"Q:\\anything", LocalPresence::kUnknown},        // a letter the client cannot see
      {"\\\\server\\share\\x", LocalPresence::kUnknown},
      {"", LocalPresence::kUnknown},
  };
  for (const PresenceCase& test_case : cases) {
    std::string path = test_case.path;
    if (path.rfind("ROOT", 0) == 0) {
      path = root_.string() + path.substr(4);
    }
    EXPECT_EQ(CheckLocalPresence(path, Drives()), test_case.expected) << path;
  }
}

// The Linux path found is the one on the disk, spelled as the disk spells it, so that what is
// there can be looked at.
TEST_F(LocalPathsTest, FindsTheLinuxPathADrivePathNames) {
  EXPECT_EQ(FindLocalPath("p:/photos/2024/BEACH.jpg", Drives()).path,
            (root_ / "Photos" / "2024" / "Beach.JPG").string());
  EXPECT_EQ(FindLocalPath("P:\\Photos\\.\\absent\\..\\2024", Drives()).path, (root_ / "Photos" / "2024").string());
  const std::string linux_path = (root_ / "Photos").string();
  EXPECT_EQ(FindLocalPath(linux_path, Drives()).path, linux_path);
  for (const char* nowhere : {"P:\\Photos\\absent.jpg", "Q:\\anything", "P:\\PHOTOS~1"}) {
    EXPECT_EQ(FindLocalPath(nowhere, Drives()).path, "") << nowhere;
  }
}

TEST_F(LocalPathsTest, ADriveWhoseFolderIsGoneHasNothingOnIt) {
  const DriveFolderLookup gone = [this](char) -> std::optional<std::string> { return (root_ / "gone").string(); };
  EXPECT_EQ(CheckLocalPresence("P:\\", gone), LocalPresence::kMissing);
  EXPECT_EQ(CheckLocalPresence("P:\\Photos", nullptr), LocalPresence::kUnknown);
}

}  // namespace
}  // namespace pel_mora::cli
