# Cross-builds the Windows program with mingw-w64 from Debian.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DVELTRANE_MINGW_ARCH=i686 ...
# VELTRANE_MINGW_ARCH: x86_64 (the default) or i686. The -posix compilers,
# since GoogleTest needs the standard thread library; everything is linked
# statically, so veltrane.exe needs no DLL beside the system's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

if(NOT VELTRANE_MINGW_ARCH)
  set(VELTRANE_MINGW_ARCH x86_64)
endif()
if(NOT VELTRANE_MINGW_ARCH MATCHES "^(x86_64|i686)$")
  message(FATAL_ERROR "VELTRANE_MINGW_ARCH must be x86_64 or i686, not ${VELTRANE_MINGW_ARCH}")
endif()
# try_compile reads this file again: hand the choice on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELTRANE_MINGW_ARCH)

set(CMAKE_SYSTEM_PROCESSOR ${VELTRANE_MINGW_ARCH})
set(triple ${VELTRANE_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# -O2 rather than -O3 for Release: GCC 12's -O3 warns falsely about
# std::string's memcpy (-Wrestrict, GCC bug 105651).
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
# GCC 12 warns falsely that std::string's assignment from a short literal may
# overlap itself once inlined at -O2 (GCC bug 105651); nothing here overlaps.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
set(CMAKE_C_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
