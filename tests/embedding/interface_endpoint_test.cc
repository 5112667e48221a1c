#include "embedding/interface_endpoint.h"

#include <gtest/gtest.h>

namespace pel_mora::embedding {
namespace {

TEST(InterfaceEndpointTest, PortTextIsDecimalFrom1To65535) {
  const struct {
    const char* text;
    std::optional<uint16_t> port;
  } cases[] = {
      {"", std::nullopt},
      {"1", 1},
      {"8080", 8080},
      {"65535", 65535},
      {"0080", 80},
      {"0", std::nullopt},
      {"65536", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"-1", std::nullopt},
      {"+80", std::nullopt},
      {" 80", std::nullopt},
      {"80 ", std::nullopt},
      {"80a", std::nullopt},
      {"0x50", std::nullopt},
  };
  for (const auto& test_case : cases) {
    EXPECT_EQ(ParseInterfacePort(test_case.text), test_case.port) << "text: \"" << test_case.text << "\"";
  }
}

}  // namespace
}  // namespace pel_mora::embedding
