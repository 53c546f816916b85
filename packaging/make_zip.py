#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on the files' names and contents.

    make_zip.py <out.zip> <unix time> <file>...

Entries are the files' base names, sorted, each stamped with the given time (UTC; zip
stores local times without a zone, so the UTC fields are written as they are) and fixed
permissions, so that two runs over the same files give the same zip byte for byte.
"""
import os
import sys
import time
import zipfile

# The earliest time a zip entry can carry.
ZIP_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC


def main():
    if len(sys.argv) < 4:
        sys.exit("usage: make_zip.py <out.zip> <unix time> <file>...")
    out, stamp, files = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    names = [os.path.basename(f) for f in files]
    if len(set(names)) != len(names):
        sys.exit("make_zip.py: two files share a name: %s" % " ".join(sorted(names)))
    date_time = time.gmtime(max(stamp, ZIP_EPOCH))[:6]
    partial = out + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        for name, path in sorted(zip(names, files)):
            entry = zipfile.ZipInfo(name, date_time)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3  # Unix, so that the permissions below are honoured
            mode = 0o755 if name.lower().endswith(".exe") else 0o644
            entry.external_attr = (0o100000 | mode) << 16
            with open(path, "rb") as source:
                archive.writestr(entry, source.read(), compresslevel=9)
    os.replace(partial, out)


if __name__ == "__main__":
    main()
