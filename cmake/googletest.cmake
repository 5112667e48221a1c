# GoogleTest is built for each tree from the source Debian's googletest package installs, so
# the Windows tree gets a MinGW build of it and the native tree a sanitized one.
set(PELMORA_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source folder")
if(NOT EXISTS ${PELMORA_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest source not found in ${PELMORA_GOOGLETEST_SOURCE}; run scripts/setup.sh")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${PELMORA_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# pelmora_add_test(NAME name SOURCES ... LIBRARIES ...): one test executable, one ctest entry.
# In the Windows tree ctest starts it through the Wine wrapper.
function(pelmora_add_test)
  cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBRARIES} GTest::gmock GTest::gtest_main)
  add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME} --gtest_color=no)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${ARG_NAME} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  if(ARG_LABELS)
    set_tests_properties(${ARG_NAME} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  # The ThreadSanitizer tree builds and runs only these, through this one target.
  if("threads" IN_LIST ARG_LABELS)
    if(NOT TARGET pelmora_threaded_tests)
      add_custom_target(pelmora_threaded_tests)
    endif()
    add_dependencies(pelmora_threaded_tests ${ARG_NAME})
  endif()
endfunction()
