# Cross-compiling for 64-bit Windows from Debian with mingw-w64 (the posix
# thread model compilers, for std::thread and std::mutex).
#
# MONVIA_QT_DIR names a Qt 6 built for this target (for example
# ../shared/qt-mingw); it is searched for packages as well as the
# toolchain's own root.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(MONVIA_QT_DIR "" CACHE PATH "Qt 6 for x86_64-w64-mingw32 (only with MONVIA_WITH_QT)")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
if(MONVIA_QT_DIR)
  list(APPEND CMAKE_FIND_ROOT_PATH "${MONVIA_QT_DIR}")
  list(APPEND CMAKE_PREFIX_PATH "${MONVIA_QT_DIR}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
