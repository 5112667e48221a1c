#include "embedding/engine_launch.h"

#include <gtest/gtest.h>

#include "channel/byte_streams.h"
#include "channel/encodable_value.h"
#include "channel/standard_codec_serializer.h"

namespace pel_mora::embedding {
namespace {

flutter::EncodableValue Decode(const std::vector<uint8_t>& bytes) {
  flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
  flutter::EncodableValue value = flutter::StandardCodecSerializer::GetInstance().ReadValue(&reader);
  EXPECT_EQ(reader.RemainingBytes(), 0u) << "bytes left after the hello value";
  return value;
}

TEST(EngineLaunchTest, HelloPayloadIsOneMapOfTheLaunch) {
  EngineLaunch launch;
  launch.dart_entrypoint = "main";
  launch.dart_entrypoint_arguments = {"--verbose", "two words", "\xC3\xA9t\xC3\xA9"};
  launch.assets_path = "data\\flutter_assets";
  launch.icu_data_path = "data\\icudtl.dat";
  launch.aot_library_path = "data\\app.so";

  const flutter::EncodableValue expected(flutter::EncodableMap{
      {flutter::EncodableValue("dartEntrypoint"), flutter::EncodableValue("main")},
      {flutter::EncodableValue("dartEntrypointArguments"),
       flutter::EncodableValue(flutter::EncodableList{flutter::EncodableValue("--verbose"),
                                                      flutter::EncodableValue("two words"),
                                                      flutter::EncodableValue("\xC3\xA9t\xC3\xA9")})},
      {flutter::EncodableValue("assetsPath"), flutter::EncodableValue("data\\flutter_assets")},
      {flutter::EncodableValue("icuDataPath"), flutter::EncodableValue("data\\icudtl.dat")},
      {flutter::EncodableValue("aotLibraryPath"), flutter::EncodableValue("data\\app.so")},
  });
  EXPECT_EQ(Decode(EncodeHelloPayload(launch)), expected);
}

TEST(EngineLaunchTest, DefaultEntrypointAndNoArgumentsStayEmptyValuesOfTheirTypes) {
  const flutter::EncodableValue hello = Decode(EncodeHelloPayload(EngineLaunch{}));
  const auto* map = std::get_if<flutter::EncodableMap>(&hello);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->size(), 5u);
  EXPECT_EQ(map->at(flutter::EncodableValue("dartEntrypoint")), flutter::EncodableValue(std::string()));
  EXPECT_EQ(map->at(flutter::EncodableValue("dartEntrypointArguments")),
            flutter::EncodableValue(flutter::EncodableList{}));
}

}  // namespace
}  // namespace pel_mora::embedding
