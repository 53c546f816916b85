# Cross compiling the 64-bit Windows programs with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(symbol_prefix "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
