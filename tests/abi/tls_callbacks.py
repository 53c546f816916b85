#!/usr/bin/env python3
"""The TLS callbacks of PE images: the loader calls each at the image's load and unload and at
the start and end of every thread of the process.

    tls_callbacks.py <reference.dll> <image>...

prints each image's count and fails when an image has more than the reference (a bare DLL of
the same toolchain: the C runtime's own callbacks)."""
import struct
import sys


def tls_callbacks(path):
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    optional = pe + 24
    wide = struct.unpack_from("<H", data, optional)[0] == 0x20B
    pointer, step = ("<Q", 8) if wide else ("<I", 4)
    image_base, = struct.unpack_from(pointer, data, optional + (24 if wide else 28))
    directories = optional + (112 if wide else 96)
    table = [struct.unpack_from("<8sIIII", data, optional + optional_size + 40 * i)
             for i in range(sections)]

    def offset(rva):
        for _, size, start, raw_size, raw in table:
            if start <= rva < start + max(size, raw_size):
                return raw + rva - start
        raise ValueError("RVA 0x%x lies in no section of %s" % (rva, path))

    rva, size = struct.unpack_from("<II", data, directories + 9 * 8)  # IMAGE_DIRECTORY_ENTRY_TLS
    if size == 0:
        return 0
    # IMAGE_TLS_DIRECTORY: raw data start and end, index address, then AddressOfCallBacks (a
    # virtual address of a null-terminated array of virtual addresses).
    array, = struct.unpack_from(pointer, data, offset(rva) + 3 * step)
    if array == 0:
        return 0
    at, count = offset(array - image_base), 0
    while struct.unpack_from(pointer, data, at + count * step)[0]:
        count += 1
    return count


def main():
    reference, images = sys.argv[1], sys.argv[2:]
    allowed = tls_callbacks(reference)
    faults = 0
    for image in images:
        count = tls_callbacks(image)
        print("%s: %d TLS callback(s); a bare DLL of the toolchain has %d" % (image, count, allowed))
        if count > allowed:
            print("%s registers TLS callbacks beyond the C runtime's own" % image)
            faults += 1
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
