#include "cli/common/drive_table.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/cli/support/fake_bridge_host.h"

namespace pel_mora::cli {
namespace {

using flutter::EncodableList;
using flutter::EncodableValue;
using testing::DriveRecord;

TEST(DriveTableTest, AlignsColumnsAndShowsSizesForReadyDrivesOnly) {
  const EncodableList drives{
      DriveRecord("C", 3, true, "System", "NTFS", 512110190592, 13207024435),
      DriveRecord("D", 5, false, "", "", 0, 0),
      DriveRecord("Q", 4, true, "Br\xC3\xBC" "cke", "ext4", 1048576, 0),
  };
  EXPECT_EQ(FormatDriveTable(EncodableValue(drives)),
            "Drive  Type     Label   File system       Used      Free      Total\n"
            "C:     Fixed    System  NTFS         464.6 GiB  12.3 GiB  476.9 GiB\n"
            "D:     CD-ROM                                -         -          -\n"
            "Q:     Network  Br\xC3\xBC" "cke  ext4           1.0 MiB       0 B    1.0 MiB\n");
}

TEST(DriveTableTest, EmptyListAndWrongShapes) {
  EXPECT_EQ(FormatDriveTable(EncodableValue(EncodableList{})),
            "Drive  Type  Label  File system  Used  Free  Total\n(no drives)\n");
  // A record that is not a map is skipped; a record missing keys shows blanks.
  const EncodableList odd{EncodableValue("junk"), EncodableValue(flutter::EncodableMap{})};
  EXPECT_EQ(FormatDriveTable(EncodableValue(odd)),
            "Drive  Type  Label  File system  Used  Free  Total\n"
            ":      ?                            -     -      -\n");
  EXPECT_THROW(FormatDriveTable(EncodableValue(true)), std::invalid_argument);
}

TEST(DriveTableTest, TypeWords) {
  EXPECT_EQ(DriveTypeName(0), "Unknown");
  EXPECT_EQ(DriveTypeName(2), "Removable");
  EXPECT_EQ(DriveTypeName(6), "RAM disk");
  EXPECT_EQ(DriveTypeName(9), "Type 9");
}

}  // namespace
}  // namespace pel_mora::cli
