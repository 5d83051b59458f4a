# The Windows side of the platform layer, cross-compiled with mingw-w64 in a build tree of its own
# (tests/windows is that tree's project: no Qt) whenever this tree builds, so a shim that no
# longer compiles fails the build. Its tests, run under Wine, join this tree's CTest run under the
# "windows" label.
find_program(DOREDORADAR_MINGW_CXX x86_64-w64-mingw32-g++-posix)
if(NOT DOREDORADAR_MINGW_CXX)
    message(STATUS "mingw-w64 is missing: the Windows side is not compiled")
    add_test(NAME windows.cross_build COMMAND sh -c
        "echo 'mingw-w64 is not installed (scripts/install-deps.sh installs it)'; exit 77")
    set_tests_properties(windows.cross_build PROPERTIES LABELS windows SKIP_RETURN_CODE 77)
    return()
endif()

include(ExternalProject)
set(_windows_build ${CMAKE_BINARY_DIR}/windows-cross)
ExternalProject_Add(windows_cross
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/tests/windows
    BINARY_DIR ${_windows_build}
    CMAKE_ARGS
        --toolchain ${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
        -DCMAKE_BUILD_TYPE=Release
        -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/windows_cross_tests.cmake "subdirs(\"${_windows_build}\")\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
    ${CMAKE_CURRENT_BINARY_DIR}/windows_cross_tests.cmake)
