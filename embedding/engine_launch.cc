#include "embedding/engine_launch.h"

#include "channel/byte_streams.h"
#include "channel/encodable_value.h"
#include "channel/standard_codec_serializer.h"

namespace pel_mora::embedding {

std::vector<uint8_t> EncodeHelloPayload(const EngineLaunch& launch) {
  flutter::EncodableList arguments;
  arguments.reserve(launch.dart_entrypoint_arguments.size());
  for (const std::string& argument : launch.dart_entrypoint_arguments) {
    arguments.emplace_back(argument);
  }
  const flutter::EncodableValue hello(flutter::EncodableMap{
      {flutter::EncodableValue("dartEntrypoint"), flutter::EncodableValue(launch.dart_entrypoint)},
      {flutter::EncodableValue("dartEntrypointArguments"), flutter::EncodableValue(std::move(arguments))},
      {flutter::EncodableValue("assetsPath"), flutter::EncodableValue(launch.assets_path)},
      {flutter::EncodableValue("icuDataPath"), flutter::EncodableValue(launch.icu_data_path)},
      {flutter::EncodableValue("aotLibraryPath"), flutter::EncodableValue(launch.aot_library_path)},
  });
  std::vector<uint8_t> payload;
  flutter::ByteBufferStreamWriter writer(&payload);
  flutter::StandardCodecSerializer::GetInstance().WriteValue(hello, &writer);
  return payload;
}

}  // namespace pel_mora::embedding
