# GLIMRA_PLATFORM_ONLY: the platform layer and its unit test, nothing that
# needs FreeImage. This is how the Windows branch is checked from Linux
# (the windows step of scripts/ci.sh): mingw-w64 has no FreeImage, and the platform
# layer is the one part that differs between the systems.

add_library(glimra_platform STATIC
    src/platform/platform_shared.cpp
    ${GLIMRA_PLATFORM_SOURCE})
target_include_directories(glimra_platform PUBLIC src)
target_link_libraries(glimra_platform PUBLIC glimra_options PRIVATE glimra_warnings)

# No GoogleTest package for the target system: build it from Debian's
# googletest sources with the cross compiler.
set(GLIMRA_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GLIMRA_GTEST_SOURCE_DIR}/googletest
    ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its headers are not ours: our warnings must not apply to them.
set_target_properties(gtest gtest_main PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES
    $<TARGET_PROPERTY:gtest,INTERFACE_INCLUDE_DIRECTORIES>)

add_executable(glimra_platform_tests tests/platform_test.cpp tests/support/files.cpp)
target_include_directories(glimra_platform_tests PRIVATE tests)
target_link_libraries(glimra_platform_tests PRIVATE glimra_platform glimra_warnings gtest_main)

# Under a cross build CTest runs it through CMAKE_CROSSCOMPILING_EMULATOR
# (wine), if one is given.
enable_testing()
add_test(NAME glimra_platform_tests COMMAND glimra_platform_tests)
