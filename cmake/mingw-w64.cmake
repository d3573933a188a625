# Toolchain for the Windows build from Linux: x86_64 MinGW-w64 (POSIX threads) from Debian, and a
# Qt 6.4 built for it, unpacked by scripts/setup-mingw.sh into the folder TAVRIN_QT_MINGW names
# (an environment variable, so that CMake's own trial builds see it too). moc, rcc and uic come from
# Debian's Qt of the same version. Built tests run under Wine, through CMake's emulator hook.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(TAVRIN_QT_MINGW "$ENV{TAVRIN_QT_MINGW}")
if(NOT IS_DIRECTORY "${TAVRIN_QT_MINGW}/lib/cmake/Qt6")
    message(FATAL_ERROR "No Qt for MinGW in \"${TAVRIN_QT_MINGW}\": run scripts/setup-mingw.sh first")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${TAVRIN_QT_MINGW}")
set(CMAKE_PREFIX_PATH "${TAVRIN_QT_MINGW}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# ctest runs each test program through Wine (see tests/wine-run.sh).
get_filename_component(tavrin_toolchain_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${tavrin_toolchain_root}/tests/wine-run.sh")
