#!/usr/bin/env python3
"""Writes the SDK of one architecture: idrovan-sdk-<version>-<arch>.zip.

    make_sdk.py --arch <x64|x86> --version <a.b.c.d> --stamp <unix time> --out <zip>
                --dll <idrovan.dll> --debug <idrovan.dll.debug> --implib <libidrovan.dll.a>
                --def <idrovan.def> --header <idrovan.h> --guide <library.md>
                --license <LICENSE> --notices <THIRD-PARTY-NOTICES.txt>

Everything sits under one folder, idrovan-sdk-<version>-<arch>/:

    include/idrovan.h                     the C API
    src/idrovan_licence.c, .h             the licence check as source, to compile in (the file
                                          the DLL's idrovan_verify_licence is built from)
    src/idrovan_licence_win32.c, .h       its services on Windows: CNG, the DLL's ID, the clock
    bin/idrovan.dll                       ship it beside the program that uses it
    bin/idrovan.dll.debug                 its symbols (the DLL's GNU debug link names this file)
    lib/libidrovan.dll.a                  import library for MinGW (GCC, clang in MinGW mode)
    lib/idrovan.lib                       import library for the MSVC ABI (cl, clang-cl, lld-link)
    lib/cmake/Idrovan/IdrovanConfig.cmake find_package(Idrovan CONFIG): Idrovan::idrovan
    lib/cmake/Idrovan/IdrovanConfigVersion.cmake   the same major version is compatible
    lib/pkgconfig/idrovan.pc              pkg-config
    example/example.c, CMakeLists.txt     the guide's C example, with a CMake project that finds
                                          the SDK it lies in
    library.txt                           the guide (docs/library.md) as plain text
    LICENSE.txt, THIRD-PARTY-NOTICES.txt

The example is the guide's own (the C block it marks "docs-check: example application-id-c",
which the documentation tests compile and run), so the two cannot drift apart; the text guide is
made by packaging/make_guide.py --page.

The MSVC import library is made from the .def file with llvm-dlltool (Debian's llvm). The zip
is reproducible as packaging/make_zip.py's are: sorted entries, one time stamp, fixed
permissions, so that two runs over the same files give the same bytes.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_guide  # noqa: E402  (beside this script)

# The licence check's source, taken from the tree this script belongs to: the very files the
# DLL is built from.
LICENCE_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "api", "licence")
ZIP_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC, the earliest time a zip entry can carry

MACHINE = {"x64": "i386:x86-64", "x86": "i386"}
POINTER_SIZE = {"x64": "8", "x86": "4"}

CONFIG = """\
# Idrovan's SDK for {arch} Windows: find_package(Idrovan CONFIG) gives the imported target
# Idrovan::idrovan (idrovan.h, idrovan.dll and the import library that fits the compiler).
# idrovan.dll must lie beside the program that uses it; copy it there, e.g.
#   add_custom_command(TARGET app POST_BUILD COMMAND ${{CMAKE_COMMAND}} -E copy_if_different
#                      $<TARGET_FILE:Idrovan::idrovan> $<TARGET_FILE_DIR:app>)
get_filename_component(_idrovan_root "${{CMAKE_CURRENT_LIST_DIR}}/../../.." ABSOLUTE)
if(NOT TARGET Idrovan::idrovan)
  add_library(Idrovan::idrovan SHARED IMPORTED)
  # MSVC and clang-cl take the MSVC-style import library, MinGW its own.
  if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
    set(_idrovan_implib "${{_idrovan_root}}/lib/idrovan.lib")
  else()
    set(_idrovan_implib "${{_idrovan_root}}/lib/libidrovan.dll.a")
  endif()
  set_target_properties(Idrovan::idrovan PROPERTIES
    IMPORTED_LOCATION "${{_idrovan_root}}/bin/idrovan.dll"
    IMPORTED_IMPLIB "${{_idrovan_implib}}"
    INTERFACE_INCLUDE_DIRECTORIES "${{_idrovan_root}}/include")
  unset(_idrovan_implib)
endif()
# Idrovan::licence: the licence check compiled into the program that links it (src/), with its
# Windows services; docs/licence.md says when to prefer it to the DLL's idrovan_verify_licence.
if(NOT TARGET Idrovan::licence)
  add_library(Idrovan::licence INTERFACE IMPORTED)
  set_target_properties(Idrovan::licence PROPERTIES
    INTERFACE_SOURCES "${{_idrovan_root}}/src/idrovan_licence.c;${{_idrovan_root}}/src/idrovan_licence_win32.c"
    INTERFACE_INCLUDE_DIRECTORIES "${{_idrovan_root}}/src"
    INTERFACE_LINK_LIBRARIES Idrovan::idrovan)
endif()
unset(_idrovan_root)
"""

CONFIG_VERSION = """\
# Idrovan {version} for {arch} Windows. Within a major version no export is removed and no
# meaning changes: any {major}.x at least as new as the one asked for is compatible.
set(PACKAGE_VERSION "{version}")
if(PACKAGE_FIND_VERSION)
  if(PACKAGE_FIND_VERSION_MAJOR STREQUAL "{major}" AND
     NOT PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)
    set(PACKAGE_VERSION_COMPATIBLE TRUE)
    if(PACKAGE_FIND_VERSION VERSION_EQUAL PACKAGE_VERSION)
      set(PACKAGE_VERSION_EXACT TRUE)
    endif()
  else()
    set(PACKAGE_VERSION_COMPATIBLE FALSE)
  endif()
else()
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
endif()
# The {arch} DLL serves {arch} programs only.
if(CMAKE_SIZEOF_VOID_P AND NOT CMAKE_SIZEOF_VOID_P STREQUAL "{pointer_size}")
  set(PACKAGE_VERSION "${{PACKAGE_VERSION}} ({arch})")
  set(PACKAGE_VERSION_UNSUITABLE TRUE)
endif()
"""

PKG_CONFIG = """\
prefix=${{pcfiledir}}/../..
includedir=${{prefix}}/include
libdir=${{prefix}}/lib
bindir=${{prefix}}/bin

Name: idrovan
Description: Idrovan's computer ID for Windows programs ({arch}); ship bin/idrovan.dll beside the program
Version: {version}
Cflags: -I${{includedir}}
Libs: -L${{libdir}} -lidrovan
"""


EXAMPLE_CMAKE = """\
# Idrovan's C example for {arch} Windows, built against the SDK it lies in:
#   cmake -S example -B example-build -DCMAKE_TOOLCHAIN_FILE=<your toolchain file>
#   cmake --build example-build
# Another SDK: -DIdrovan_DIR=<sdk>/lib/cmake/Idrovan. A folder named directly is taken as it is,
# also where a cross toolchain file sets CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY and so keeps
# find_package from searching CMAKE_PREFIX_PATH.
cmake_minimum_required(VERSION 3.13)
project(idrovan_example C)
set(Idrovan_DIR "${{CMAKE_CURRENT_LIST_DIR}}/../lib/cmake/Idrovan" CACHE PATH
    "The folder of Idrovan's CMake package")
find_package(Idrovan {major}.{minor} CONFIG REQUIRED)
add_executable(idrovan_example example.c)
target_link_libraries(idrovan_example PRIVATE Idrovan::idrovan)
# The DLL beside the program, as it will be shipped.
add_custom_command(TARGET idrovan_example POST_BUILD COMMAND ${{CMAKE_COMMAND}} -E copy_if_different
                   $<TARGET_FILE:Idrovan::idrovan> $<TARGET_FILE_DIR:idrovan_example>)
"""

EXAMPLE_MARK = "<!-- docs-check: example application-id-c -->"


def example_source(guide):
    """The C block that follows EXAMPLE_MARK in the guide."""
    match = re.search(re.escape(EXAMPLE_MARK) + r"\s*\n```c\n(.*?)\n```", guide, re.S)
    if not match:
        fail("the guide has no C block after " + EXAMPLE_MARK)
    return match.group(1) + "\n"


def fail(message):
    sys.exit("make_sdk.py: " + message)


def dlltool():
    for candidate in ("llvm-dlltool", "llvm-dlltool-14", "/usr/lib/llvm-14/bin/llvm-dlltool"):
        found = shutil.which(candidate)
        if found:
            return found
    fail("llvm-dlltool is missing (Debian package llvm; scripts/setup.sh installs it)")


def main():
    parser = argparse.ArgumentParser()
    for option in ("arch", "version", "stamp", "out", "dll", "debug", "implib", "def", "header",
                   "guide", "license", "notices"):
        parser.add_argument("--" + option, required=True)
    args = parser.parse_args()
    if args.arch not in MACHINE:
        fail("--arch takes x64 or x86")
    top = "idrovan-sdk-%s-%s/" % (args.version, args.arch)
    with tempfile.TemporaryDirectory() as work:
        msvc_implib = os.path.join(work, "idrovan.lib")
        result = subprocess.run([dlltool(), "-m", MACHINE[args.arch], "-d", getattr(args, "def"),
                                 "-l", msvc_implib], capture_output=True, text=True)
        if result.returncode != 0:
            fail("llvm-dlltool could not make idrovan.lib: " + result.stderr.strip())

        def read(path):
            with open(path, "rb") as f:
                return f.read()

        def crlf(path):
            text = read(path).decode("utf-8").replace("\r\n", "\n")
            return text.replace("\n", "\r\n").encode("utf-8")

        fields = {"arch": args.arch, "version": args.version,
                  "major": args.version.split(".")[0], "minor": args.version.split(".")[1],
                  "pointer_size": POINTER_SIZE[args.arch]}
        guide_text = read(args.guide).decode("utf-8")
        # The guide as plain text, made the way the packages' README.txt is.
        try:
            guide_plain = make_guide.make_page(os.path.dirname(os.path.abspath(args.guide)),
                                               os.path.basename(args.guide), args.version)
        except make_guide.GuideError as error:
            fail("library.txt: %s" % error)
        entries = {
            "include/idrovan.h": read(args.header),
            "src/idrovan_licence.c": read(os.path.join(LICENCE_SOURCE, "idrovan_licence.c")),
            "src/idrovan_licence.h": read(os.path.join(LICENCE_SOURCE, "idrovan_licence.h")),
            "src/idrovan_licence_win32.c": read(os.path.join(LICENCE_SOURCE, "idrovan_licence_win32.c")),
            "src/idrovan_licence_win32.h": read(os.path.join(LICENCE_SOURCE, "idrovan_licence_win32.h")),
            "bin/idrovan.dll": read(args.dll),
            "bin/idrovan.dll.debug": read(args.debug),
            "example/example.c": example_source(guide_text).replace("\n", "\r\n").encode(),
            "example/CMakeLists.txt": EXAMPLE_CMAKE.format(**fields).encode(),
            "library.txt": guide_plain.replace("\n", "\r\n").encode("utf-8"),
            "lib/libidrovan.dll.a": read(args.implib),
            "lib/idrovan.lib": read(msvc_implib),
            "lib/cmake/Idrovan/IdrovanConfig.cmake": CONFIG.format(**fields).encode(),
            "lib/cmake/Idrovan/IdrovanConfigVersion.cmake": CONFIG_VERSION.format(**fields).encode(),
            "lib/pkgconfig/idrovan.pc": PKG_CONFIG.format(**fields).encode(),
            "LICENSE.txt": crlf(args.license),
            "THIRD-PARTY-NOTICES.txt": crlf(args.notices),
        }
    date_time = time.gmtime(max(int(args.stamp), ZIP_EPOCH))[:6]
    partial = args.out + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        for name in sorted(entries):
            entry = zipfile.ZipInfo(top + name, date_time)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3  # Unix, so that the permissions below are honoured
            mode = 0o755 if name.endswith(".dll") else 0o644
            entry.external_attr = (0o100000 | mode) << 16
            archive.writestr(entry, entries[name], compresslevel=9)
    os.replace(partial, args.out)


if __name__ == "__main__":
    main()
