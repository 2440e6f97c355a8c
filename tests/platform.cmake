# Tests of the Linux platform layer (included from tests/CMakeLists.txt).
find_package(GTest)
if(NOT GTest_FOUND OR NOT TARGET platform)
  return()
endif()

# A plug-in-like shared object: the tests load it and ask it for its path.
add_library(platform_test_module MODULE
            ${CMAKE_CURRENT_LIST_DIR}/platform_test_module.cpp)
target_link_libraries(platform_test_module PRIVATE
                      "$<LINK_LIBRARY:WHOLE_ARCHIVE,platform>")
set_target_properties(platform_test_module PROPERTIES PREFIX "")
target_link_options(platform_test_module PRIVATE -Wl,-Bsymbolic)

# Memory, files, text, and the module and the clock.
add_executable(platform_tests ${CMAKE_CURRENT_LIST_DIR}/platform_memory_test.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/platform_file_test.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/platform_text_test.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/platform_module_test.cpp)
target_link_libraries(platform_tests PRIVATE platform GTest::gtest_main
                                             ${CMAKE_DL_LIBS})
target_compile_definitions(platform_tests PRIVATE
  TEST_MODULE_PATH="$<TARGET_FILE:platform_test_module>")
add_dependencies(platform_tests platform_test_module)
include(GoogleTest)
gtest_discover_tests(platform_tests DISCOVERY_TIMEOUT 60)
