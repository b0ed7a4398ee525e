# QUARNEL_RELEASE_WINDOWS: a Linux build that also builds the Windows program with MinGW-w64 in
# its windows/ folder, runs that build's tests under Wine as one test of its own, and packages it
# (cmake/packaging.cmake). What `cmake --workflow --preset release` uses to build both at once.
option(QUARNEL_RELEASE_WINDOWS "Also build, test and package the Windows program" OFF)
if(NOT QUARNEL_RELEASE_WINDOWS OR WIN32)
    return()
endif()
include(ExternalProject)
set(QUARNEL_WINDOWS_BINARY_DIR ${PROJECT_BINARY_DIR}/windows)
ExternalProject_Add(quarnel_windows
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${QUARNEL_WINDOWS_BINARY_DIR}
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
        -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
        -DQUARNEL_TESTS=${QUARNEL_TESTS}
    INSTALL_COMMAND ""
    # Its own build decides what is out of date.
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
if(QUARNEL_TESTS)
    add_test(NAME windows_build_under_wine
        COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-ctest.sh ${QUARNEL_WINDOWS_BINARY_DIR})
    set_tests_properties(windows_build_under_wine PROPERTIES TIMEOUT 3600 RUN_SERIAL ON)
endif()
