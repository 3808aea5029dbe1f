# Cross-compiling to Windows with MinGW-w64 (posix thread model). Included by
# the per-target toolchain files, which set CV_TRIPLE and the processor.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${CV_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CV_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${CV_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CV_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Binaries must run without any MinGW DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
