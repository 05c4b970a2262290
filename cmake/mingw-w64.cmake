# Cross build of the Windows plug-in on a Debian host with the mingw-w64
# toolchain, posix thread model, for 64-bit Windows (the default) or 32-bit
# Windows (OW_WIN_ARCH=i686, for agents that run as 32-bit processes):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake [-DOW_WIN_ARCH=i686]
# OW_WIN_ARCH is also taken from the environment.
if(NOT OW_WIN_ARCH)
  set(OW_WIN_ARCH "$ENV{OW_WIN_ARCH}")
endif()
if(NOT OW_WIN_ARCH)
  set(OW_WIN_ARCH x86_64)
endif()
if(NOT OW_WIN_ARCH MATCHES "^(x86_64|i686)$")
  message(FATAL_ERROR "OW_WIN_ARCH is ${OW_WIN_ARCH}; x86_64 or i686")
endif()
# The checks' own projects read this file again and need the same target.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OW_WIN_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${OW_WIN_ARCH})

set(OW_MINGW_TRIPLE ${OW_WIN_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${OW_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OW_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OW_MINGW_TRIPLE}-windres)

# Headers, libraries and packages come from the target tree only, so that
# host installs (ACE, GoogleTest...) are never picked up for Windows;
# programs (code generators and the like) still come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${OW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# This toolchain's run-time libraries (libstdc++, libgcc, and winpthread of
# the posix thread model) are not on the Windows machines the plug-in goes
# to: link them all in. System DLLs are still imported, through their
# import libraries.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
