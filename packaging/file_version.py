#!/usr/bin/env python3
"""Prints a Windows program's file version, a.b.c.d, from the fixed part of its version resource.

    file_version.py <program.exe>

Exits 1, with a message, when the program has no version resource. The fixed part follows the
key "VS_VERSION_INFO" (UTF-16) within a few bytes of padding, starts with the signature
0xFEEF04BD and carries the file version as two 32-bit numbers (a.b, c.d).
"""
import struct
import sys

KEY = "VS_VERSION_INFO\0".encode("utf-16-le")
SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def file_version(data):
    key = data.find(KEY)
    if key < 0:
        return None
    at = data.find(SIGNATURE, key + len(KEY), key + len(KEY) + 8)
    if at < 0:
        return None
    high, low = struct.unpack_from("<II", data, at + 8)
    return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: file_version.py <program.exe>")
    with open(sys.argv[1], "rb") as program:
        version = file_version(program.read())
    if version is None:
        sys.exit(f"{sys.argv[1]}: no version resource")
    print(version)


if __name__ == "__main__":
    main()
