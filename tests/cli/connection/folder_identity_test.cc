// A folder is told apart by the file system's identity of it, not by the spelling of its path.

#include "cli/connection/folder_identity.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace pel_mora::cli {
namespace {

namespace fs = std::filesystem;

TEST(FolderIdentityTest, OneFolderHasOneIdentityWhateverItsPathAndAnotherInItsPlaceHasAnother) {
  const fs::path root = fs::temp_directory_path() / "pelmora-folder-identity";
  fs::remove_all(root);
  fs::create_directories(root / "Photos" / "2024");
  fs::create_directories(root / "Music");

  const std::optional<FolderIdentity> photos = IdentifyFolder((root / "Photos").string());
  ASSERT_TRUE(photos.has_value());
  EXPECT_EQ(IdentifyFolder((root / "Photos" / "2024" / "..").string()), photos);
  EXPECT_EQ(IdentifyFolder((root / "Photos" / ".").string()), photos);
  EXPECT_NE(IdentifyFolder((root / "Music").string()), photos);

  // Another folder put in its place under the same name; the first one still exists, so nothing
  // can hand its identity on.
  fs::rename(root / "Photos", root / "Photos-before");
  fs::create_directories(root / "Photos");
  EXPECT_NE(IdentifyFolder((root / "Photos").string()), photos);
  EXPECT_EQ(IdentifyFolder((root / "Photos-before").string()), photos);

  EXPECT_FALSE(IdentifyFolder((root / "absent").string()).has_value());
  EXPECT_FALSE(IdentifyFolder("").has_value());
  fs::remove_all(root);
}

}  // namespace
}  // namespace pel_mora::cli
