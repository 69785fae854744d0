# Windows builds, native or cross-compiled with mingw-w64: the system's
# headers at the level the component layer needs, the C++ run-time linked in
# when nothing else needs it shared, GoogleTest built from source when it is
# not installed, and (when cross-compiling) Wine to run the tests.

add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE)

if(MINGW AND NOT MONVIA_WITH_QT)
  # libstdc++, libgcc and winpthreads are linked into every program and
  # library, so that they depend on system libraries only. (The Qt programs
  # share the run-time that comes with Qt instead.)
  add_link_options(-static)
endif()

# Where GoogleTest's sources are when it is not installed for the target; on
# Debian the googletest package puts them here.
set(MONVIA_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree, built with the project")
if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest QUIET)
endif()
if(NOT GTest_FOUND AND EXISTS "${MONVIA_GTEST_SOURCE_DIR}/CMakeLists.txt")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory("${MONVIA_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  # GoogleTest's own build names its targets GTest::gtest and GTest::gtest_main too.
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()

if(CMAKE_CROSSCOMPILING)
  # Tests (and their discovery) run under Wine in a prefix of their own
  # inside the build folder; scripts/test.sh removes it after the run.
  set(MONVIA_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix the tests run in")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh;${MONVIA_WINEPREFIX}")
endif()
