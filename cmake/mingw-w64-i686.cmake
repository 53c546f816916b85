# Cross compiling the 32-bit Windows programs with mingw-w64. Their tests run under Wine where
# 32-bit Wine works.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
set(symbol_prefix "_")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
