# 32-bit Windows (PE32): the product, Uninstall.exe.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CV_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
