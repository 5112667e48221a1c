#pragma once

// What the engine was started with, as the interface process is told in the hello frame.

#include <cstdint>
#include <string>
#include <vector>

namespace pel_mora::embedding {

// All text UTF-8; the paths exactly as they were handed to the engine (relative paths stay
// relative).
struct EngineLaunch {
  std::string dart_entrypoint;
  std::vector<std::string> dart_entrypoint_arguments;
  std::string assets_path;
  std::string icu_data_path;
  std::string aot_library_path;
};

// The hello payload: one standard-codec map with the keys "dartEntrypoint",
// "dartEntrypointArguments" (a list of strings), "assetsPath", "icuDataPath" and "aotLibraryPath".
std::vector<uint8_t> EncodeHelloPayload(const EngineLaunch& launch);

}  // namespace pel_mora::embedding
