#!/usr/bin/env python3
"""Derives the computer ID that idrovan.exe must show, from machine facts the test chose.

Written apart from the program's C++ so that the end-to-end test compares the dialog
against an independent derivation:

    expected_id.py --serial 00abcdef --root-time 2019-03-04T09:05:07.042 --marker <32 hex>

prints the 32 lowercase hexadecimal digits. The digest is MD5 with one twist: each
block byte is widened as a signed char before it is ORed into its word, so a byte of
0x80 or more at offset 0, 1 or 2 of a word sets all the bits above it.
"""
import argparse
import datetime
import math
import struct

WEEKDAYS = ["Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"]
MONTHS = ["January", "February", "March", "April", "May", "June", "July", "August",
          "September", "October", "November", "December"]

MASK = 0xFFFFFFFF
SHIFTS = [7, 12, 17, 22] * 4 + [5, 9, 14, 20] * 4 + [4, 11, 16, 23] * 4 + [6, 10, 15, 21] * 4
CONSTANTS = [int(abs(math.sin(i + 1)) * 2 ** 32) & MASK for i in range(64)]


def signed_byte(b):
    return (b - 256 if b >= 128 else b) & MASK


def block_words(block):
    words = []
    for i in range(16):
        b0, b1, b2, b3 = block[4 * i:4 * i + 4]
        w = signed_byte(b3)
        for b in (b2, b1, b0):
            w = ((w << 8) & MASK) | signed_byte(b)
        words.append(w)
    return words


def rotate_left(x, n):
    return ((x << n) | (x >> (32 - n))) & MASK


def digest_text(data):
    a0, b0, c0, d0 = 0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476
    bit_length = (8 * len(data)) & 0xFFFFFFFFFFFFFFFF
    padded = data + b"\x80" + b"\x00" * ((55 - len(data)) % 64) + struct.pack("<Q", bit_length)
    for offset in range(0, len(padded), 64):
        m = block_words(padded[offset:offset + 64])
        a, b, c, d = a0, b0, c0, d0
        for i in range(64):
            if i < 16:
                f, g = (b & c) | (~b & d), i
            elif i < 32:
                f, g = (d & b) | (~d & c), (5 * i + 1) % 16
            elif i < 48:
                f, g = b ^ c ^ d, (3 * i + 5) % 16
            else:
                f, g = c ^ (b | (~d & MASK)), (7 * i) % 16
            f = (f + a + CONSTANTS[i] + m[g]) & MASK
            a, d, c = d, c, b
            b = (b + rotate_left(f, SHIFTS[i])) & MASK
        a0, b0, c0, d0 = [(x + y) & MASK for x, y in zip((a0, b0, c0, d0), (a, b, c, d))]
    return struct.pack("<4I", a0, b0, c0, d0).hex()


def time_text(moment):
    """The day, date and time of a UTC moment to the millisecond, in the program's format."""
    return "%s %s %02d %04d (%02d_%02d_%04d) %02d:%02d:%02d:%d" % (
        WEEKDAYS[moment.weekday()], MONTHS[moment.month - 1], moment.day, moment.year,
        moment.month, moment.day, moment.year, moment.hour, moment.minute, moment.second,
        moment.microsecond // 1000)


def scramble(text):
    count = len(text)
    if count == 0:
        return ""
    third = count // 3
    return text[:third + 1] + "%d" % (7 * count) + text[third:]


def computer_id(root_time, serial, file_system, marker):
    combined = time_text(root_time) + ("%X" % serial) + file_system + marker
    return digest_text(scramble(combined).encode("ascii"))


def self_check():
    # A wrong digest here would make every expected ID wrong in the same way as a
    # broken program, so the script refuses to answer.
    known = {b"abc": "900150983cd24fb0d6963f7d28e17f72", b"a": "463d5e090825a89b4230e0890ac06495",
             b"0123456789abcdef": "34dd45b8241c8c157810f6442e957e93"}
    for data, text in known.items():
        if digest_text(data) != text:
            raise SystemExit("expected_id.py: digest self-check failed for %r" % data)
    if scramble("abc") != "ab21bc":
        raise SystemExit("expected_id.py: scramble self-check failed")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--serial", required=True, help="volume serial number, hexadecimal")
    parser.add_argument("--root-time", required=True, help="root creation time, ISO 8601, UTC")
    parser.add_argument("--marker", required=True)
    parser.add_argument("--file-system", default="NTFS")
    args = parser.parse_args()
    self_check()
    moment = datetime.datetime.fromisoformat(args.root_time)
    print(computer_id(moment, int(args.serial, 16), args.file_system, args.marker))


if __name__ == "__main__":
    main()
