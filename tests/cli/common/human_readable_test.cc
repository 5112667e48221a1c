#include "cli/common/human_readable.h"

#include <gtest/gtest.h>

#include <limits>

namespace pel_mora::cli {
namespace {

TEST(FormatSizeTest, BinaryUnitsWithOneDecimal) {
  struct Case {
    uint64_t bytes;
    const char* text;
  };
  const Case cases[] = {
      {0, "0 B"},
      {1023, "1023 B"},
      {1024, "1.0 KiB"},
      {1536, "1.5 KiB"},
      {1075, "1.0 KiB"},              // 1.0498: rounds down
      {1076, "1.1 KiB"},              // 1.0508: rounds up
      {1048575, "1.0 MiB"},           // 1023.999 KiB would read "1024.0 KiB"
      {1048576, "1.0 MiB"},
      {13207024435, "12.3 GiB"},
      {uint64_t{1} << 40, "1.0 TiB"},
      {uint64_t{1} << 60, "1.0 EiB"},
      {std::numeric_limits<uint64_t>::max(), "16.0 EiB"},
  };
  for (const Case& test_case : cases) {
    EXPECT_EQ(FormatSize(test_case.bytes), test_case.text) << test_case.bytes;
  }
}

TEST(FormatSizeTest, SignedCountsKeepTheirSignWithoutOverflow) {
  EXPECT_EQ(FormatSize(int64_t{1536}), "1.5 KiB");
  EXPECT_EQ(FormatSize(int64_t{-1536}), "-1.5 KiB");
  EXPECT_EQ(FormatSize(std::numeric_limits<int64_t>::max()), "8.0 EiB");
  EXPECT_EQ(FormatSize(std::numeric_limits<int64_t>::min()), "-8.0 EiB");
}

TEST(FormatCountTest, ThousandsSeparators) {
  EXPECT_EQ(FormatCount(uint64_t{0}), "0");
  EXPECT_EQ(FormatCount(uint64_t{999}), "999");
  EXPECT_EQ(FormatCount(uint64_t{1000}), "1,000");
  EXPECT_EQ(FormatCount(uint64_t{1234567}), "1,234,567");
  EXPECT_EQ(FormatCount(std::numeric_limits<uint64_t>::max()), "18,446,744,073,709,551,615");
  EXPECT_EQ(FormatCount(int64_t{-1234}), "-1,234");
  EXPECT_EQ(FormatCount(std::numeric_limits<int64_t>::min()), "-9,223,372,036,854,775,808");
}

TEST(FormatDurationTest, PicksAReadableUnit) {
  EXPECT_EQ(FormatDuration(0), "0 ms");
  EXPECT_EQ(FormatDuration(999), "999 ms");
  EXPECT_EQ(FormatDuration(1000), "1.0 s");
  EXPECT_EQ(FormatDuration(12345), "12.3 s");
  EXPECT_EQ(FormatDuration(59999), "60.0 s");
  EXPECT_EQ(FormatDuration(60000), "1 min 00 s");
  EXPECT_EQ(FormatDuration(245000), "4 min 05 s");
  EXPECT_EQ(FormatDuration(7380000), "2 h 03 min");
  EXPECT_EQ(FormatDuration(-5), "0 ms");
}

}  // namespace
}  // namespace pel_mora::cli
