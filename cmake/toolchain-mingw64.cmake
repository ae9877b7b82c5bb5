# Cross-builds for 64-bit Windows with Debian's MinGW-w64 (the POSIX thread model, which
# std::thread and std::mutex need). Libraries built for Windows by scripts/build-windows.sh
# live in VELLUMCAST_WINDOWS_PREFIX; everything found by find_* comes from there or from
# the MinGW sysroot, never from the Linux host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELLUMCAST_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELLUMCAST_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELLUMCAST_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELLUMCAST_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${VELLUMCAST_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${VELLUMCAST_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "Ranlib")

# Toolchain files are read again by every try_compile; the prefix has to travel with them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELLUMCAST_WINDOWS_PREFIX VELLUMCAST_WINEPREFIX)
if(NOT VELLUMCAST_WINDOWS_PREFIX AND DEFINED ENV{VELLUMCAST_WINDOWS_PREFIX})
  set(VELLUMCAST_WINDOWS_PREFIX "$ENV{VELLUMCAST_WINDOWS_PREFIX}")
endif()
set(VELLUMCAST_WINDOWS_PREFIX "${VELLUMCAST_WINDOWS_PREFIX}" CACHE PATH
    "Where Expat and GoogleTest built for Windows are installed")

set(CMAKE_FIND_ROOT_PATH /usr/${VELLUMCAST_MINGW_TRIPLE} ${VELLUMCAST_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config would otherwise report the host's Linux libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${VELLUMCAST_WINDOWS_PREFIX}/lib/pkgconfig:/usr/${VELLUMCAST_MINGW_TRIPLE}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Everything linked in, the C and C++ runtimes and winpthreads included, so an .exe runs
# under Wine or on a bare Windows without DLLs beside it. zlib's import library would pull
# in zlib1.dll; its static archive is wanted.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(ZLIB_USE_STATIC_LIBS ON)

# Test discovery and ctest run the .exe files through Wine when it is installed, with a
# prefix of the build's own so nothing touches the user's ~/.wine.
find_program(VELLUMCAST_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VELLUMCAST_WINE)
  if(NOT VELLUMCAST_WINEPREFIX)
    if(DEFINED ENV{WINEPREFIX})
      set(VELLUMCAST_WINEPREFIX "$ENV{WINEPREFIX}")
    else()
      set(VELLUMCAST_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
    endif()
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEDEBUG=-all WINEPREFIX=${VELLUMCAST_WINEPREFIX} WINEDLLOVERRIDES=mscoree,mshtml= ${VELLUMCAST_WINE})
endif()
