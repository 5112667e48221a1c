#include "plugin/cleanup/recycle_bin_locations.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace pel_mora {
namespace {

struct LocationCase {
  const wchar_t* location;
  std::optional<wchar_t> drive;
};

class DriveOfOriginalLocationTest : public ::testing::TestWithParam<LocationCase> {};

TEST_P(DriveOfOriginalLocationTest, NamesTheDriveTheItemCameFrom) {
  EXPECT_EQ(DriveOfOriginalLocation(GetParam().location), GetParam().drive);
}

INSTANTIATE_TEST_SUITE_P(
    Locations, DriveOfOriginalLocationTest,
    ::testing::Values(LocationCase{L"E:\\Photos", L'E'}, LocationCase{L"e:\\", L'E'}, LocationCase{L"C:", L'C'},
                      // Wine's name for a folder of a drive it does not place: the Unix path below Z.
                      LocationCase{L"Z:\\home\\me\\.wine\\dosdevices\\e:\\Photos", L'E'},
                      LocationCase{L"Z:\\home\\me\\.wine\\dosdevices\\d:", L'D'},
                      LocationCase{L"Z:\\home\\me\\.wine\\DOSDEVICES\\f:\\x", L'F'},
                      // Look-alikes that are folders of drive Z itself.
                      LocationCase{L"Z:\\home\\me\\dosdevices\\e:x", L'Z'},
                      LocationCase{L"Z:\\home\\me\\mydosdevices\\e:\\x", L'Z'},
                      LocationCase{L"Z:\\tmp\\photos", L'Z'},
                      // No drive at all.
                      LocationCase{L"\\\\server\\share\\x", std::nullopt}, LocationCase{L"", std::nullopt},
                      LocationCase{L"Photos", std::nullopt}));

}  // namespace
}  // namespace pel_mora
