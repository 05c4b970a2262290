# Cross build of the Windows plug-in (64-bit) on a Debian host with the
# mingw-w64 toolchain, posix thread model:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OW_MINGW_TRIPLE x86_64-w64-mingw32)
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
