# Windows builds, native or cross-compiled with mingw-w64: the system's
# headers at the level the component layer needs, the C++ run-time linked in
# when nothing else needs it shared, GoogleTest built from source when it is
# not installed, and (when cross-compiling) Wine to run the tests.

add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE)

# The Qt for a cross build. MONVIA_QT_DIR names either a folder holding the
# archive of a Qt 6 built for the target (qt6.<version>-mingw-w64-x86_64.tar.xz
# for 64-bit, qt6.<version>-mingw-w64-i686.tar.xz for 32-bit Windows; the one
# of this build's bitness is unpacked into the build folder here, again
# whenever the archive changes) or such a Qt already unpacked (with
# lib/cmake/Qt6). Debian's own Qt of the same version supplies the host tools
# (moc, rcc, uic).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(MONVIA_WINDOWS_ARCH i686)
else()
  set(MONVIA_WINDOWS_ARCH x86_64)
endif()
if(CMAKE_CROSSCOMPILING AND MONVIA_WITH_QT)
  set(MONVIA_QT_DIR "${CMAKE_SOURCE_DIR}/../shared/qt-mingw" CACHE PATH
      "Qt 6 for ${MONVIA_WINDOWS_ARCH}-w64-mingw32: a folder holding its qt6.*-mingw-w64-${MONVIA_WINDOWS_ARCH}.tar.xz, or the unpacked Qt")
  get_filename_component(qt_from "${MONVIA_QT_DIR}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
  file(GLOB qt_archives "${qt_from}/qt6*-mingw-w64-${MONVIA_WINDOWS_ARCH}.tar.xz")
  if(EXISTS "${qt_from}/lib/cmake/Qt6/Qt6Config.cmake")
    set(MONVIA_QT_ROOT "${qt_from}")
  elseif(qt_archives)
    list(SORT qt_archives)
    list(GET qt_archives -1 qt_archive)
    set(MONVIA_QT_ROOT "${CMAKE_BINARY_DIR}/qt-mingw")
    file(SHA256 "${qt_archive}" qt_sum)
    set(qt_stamp "${CMAKE_BINARY_DIR}/qt-mingw.unpacked")
    set(qt_unpacked "")
    if(EXISTS "${qt_stamp}")
      file(READ "${qt_stamp}" qt_unpacked)
    endif()
    if(NOT qt_unpacked STREQUAL qt_sum OR NOT EXISTS "${MONVIA_QT_ROOT}/lib/cmake/Qt6/Qt6Config.cmake")
      message(STATUS "Unpacking ${qt_archive} into ${MONVIA_QT_ROOT}")
      file(REMOVE_RECURSE "${MONVIA_QT_ROOT}" "${qt_stamp}")
      file(ARCHIVE_EXTRACT INPUT "${qt_archive}" DESTINATION "${CMAKE_BINARY_DIR}")
      if(NOT EXISTS "${MONVIA_QT_ROOT}/lib/cmake/Qt6/Qt6Config.cmake")
        message(FATAL_ERROR "${qt_archive} did not unpack to a Qt in ${MONVIA_QT_ROOT}")
      endif()
      file(WRITE "${qt_stamp}" "${qt_sum}")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${qt_archive}")
  else()
    message(FATAL_ERROR "No Qt for Windows in MONVIA_QT_DIR (${qt_from}): it holds neither a "
                        "qt6*-mingw-w64-${MONVIA_WINDOWS_ARCH}.tar.xz nor an unpacked Qt (lib/cmake/Qt6). Set -DMONVIA_QT_DIR=<folder>, "
                        "or build without the Qt programs: -DMONVIA_WITH_QT=OFF")
  endif()
  list(APPEND CMAKE_FIND_ROOT_PATH "${MONVIA_QT_ROOT}")
  list(APPEND CMAKE_PREFIX_PATH "${MONVIA_QT_ROOT}")
  set(QT_HOST_PATH "/usr" CACHE PATH "Qt's host tools (Debian's Qt of the same version)")
  set(QT_HOST_PATH_CMAKE_DIR "/usr/lib/${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu/cmake" CACHE PATH
      "CMake packages of Qt's host tools")
endif()

if(MINGW)
  # libstdc++, libgcc and winpthreads are linked into every program and
  # library, so that they depend on system libraries only, except where Qt
  # is linked: those share the run-time that Qt itself was built against,
  # shipped beside them. Linking Qt marks a target (through Qt6::Core's
  # interface) as one with the shared run-time.
  if(MONVIA_WITH_QT)
    find_package(Qt6 REQUIRED COMPONENTS Core)
    set_property(TARGET Qt6::Core APPEND PROPERTY INTERFACE_MONVIA_SHARED_RUNTIME ON)
    set_property(TARGET Qt6::Core APPEND PROPERTY COMPATIBLE_INTERFACE_BOOL MONVIA_SHARED_RUNTIME)
  endif()
  add_link_options("$<$<NOT:$<BOOL:$<TARGET_PROPERTY:MONVIA_SHARED_RUNTIME>>>:-static>")
  # On 32-bit Windows the COM entry points are stdcall functions, decorated
  # (DllGetClassObject@12); the servers' .def files export them by their
  # plain names, which the linker maps to the decorated ones as meant.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_link_options("LINKER:--enable-stdcall-fixup")
  endif()
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
