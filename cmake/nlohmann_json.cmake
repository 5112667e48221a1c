# nlohmann/json is header-only; Debian's nlohmann-json3-dev puts it below /usr/include. The
# Windows tree must not search /usr/include (the Linux C library's headers would shadow
# MinGW's), so every tree gets an include folder of its own that holds nothing but a link to
# the library's folder.
set(PELMORA_NLOHMANN_JSON_INCLUDE /usr/include CACHE PATH "Folder that holds nlohmann/json.hpp")
if(NOT EXISTS ${PELMORA_NLOHMANN_JSON_INCLUDE}/nlohmann/json.hpp)
  message(FATAL_ERROR "nlohmann/json.hpp not found in ${PELMORA_NLOHMANN_JSON_INCLUDE}; run scripts/setup.sh")
endif()
set(pelmora_third_party_include ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${pelmora_third_party_include})
file(CREATE_LINK ${PELMORA_NLOHMANN_JSON_INCLUDE}/nlohmann ${pelmora_third_party_include}/nlohmann SYMBOLIC)
add_library(pelmora_nlohmann_json INTERFACE)
target_include_directories(pelmora_nlohmann_json SYSTEM INTERFACE ${pelmora_third_party_include})
