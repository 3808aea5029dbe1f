# 64-bit Windows (PE32+): the same sources, for hosts that cannot run 32-bit
# code and to keep the library clean for 64-bit callers.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CV_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
