# What the mingw-w64 toolchain files share (the posix thread model, which std::thread in the
# tests needs; tests run under Wine). Each file sets `triple` and `symbol_prefix` (the leading
# underscore that 32-bit Windows puts before C names) and then includes this one.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every function and datum in a section of its own, so that the linker can drop whatever no
# executable reaches (ours and the static runtime's alike).
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
# Release code is optimised for size: the programs wait on the user, the system and Wine, not on
# their own code. The digest, whose speed matters, opts back in (identification/CMakeLists.txt).
# Cache entries, because CMake would append its own -O3 to the _INIT values.
set(CMAKE_C_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "Flags used by the C compiler in Release builds.")
set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "Flags used by the C++ compiler in Release builds.")

# Nothing but Windows system DLLs at run time, byte-identical rebuilds, and no unreachable code.
# std::terminate goes straight to abort (which reports "abnormal program termination" itself):
# the static runtime's default handler would first print the exception's demangled type name,
# and its demangler alone is some 45 KiB of every program.
# --tsaware: GNU ld leaves TERMINAL_SERVER_AWARE unset where Microsoft's linker sets it. Without
# it, GetWindowsDirectoryA answers a private per-user folder on a Remote Desktop host, and each
# user there could get another ID (Microsoft, "GetSystemWindowsDirectoryW function"). Programs
# only: a DLL's flag is ignored, the loader follows the program that hosts it.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp -Wl,--gc-sections \
-Wl,--tsaware \
-Wl,--defsym=${symbol_prefix}_ZN9__gnu_cxx27__verbose_terminate_handlerEv=${symbol_prefix}abort")

# Tests run through the Wine loader of their own bitness, named: Debian's `wine` command picks the
# 32-bit loader wherever 32-bit Wine is installed.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL i686)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-loaders/wine32)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-loaders/wine64)
endif()
