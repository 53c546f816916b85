#!/usr/bin/env python3
"""tools/idrovan-licence on its own: what keygen writes, that sign gives only low-S signatures
that verify and refuses what must not be signed, and the result codes of verify on licences
changed in the ways the format refuses. The DLL's side of the same cases runs under Wine
(tests/sdk/run_licence_check.sh); the published vectors are checked here too.

    test_signer.py <source dir>
"""
import os
import stat
import subprocess
import sys
import tempfile

ORDER = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551
APP_ID = "a3f9fd7e4d8a55f3b6137833f3af7fe9"
failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)


def main():
    root = sys.argv[1]
    tool = [sys.executable, os.path.join(root, "tools", "idrovan-licence")]
    vectors = os.path.join(root, "tests", "licence")

    def run(*arguments):
        return subprocess.run(tool + list(arguments), capture_output=True)

    with tempfile.TemporaryDirectory() as work:
        key = os.path.join(work, "k.pem")
        made = run("keygen", "--key-id", "k-1", "--out", key)
        public = made.stdout.decode().strip()
        expect(made.returncode == 0 and public.startswith("k-1:") and len(public) == 4 + 128,
               "keygen prints the public key line")
        expect(stat.S_IMODE(os.stat(key).st_mode) == 0o600, "the private key is 0600")
        expect(run("keygen", "--key-id", "k-1", "--out", key).returncode != 0,
               "keygen never writes over a key")

        def sign(*extra, out=None):
            arguments = ["sign", "--key", key, "--key-id", "k-1", "--licence-id", "L-1",
                         "--application", "Vendor A", "--application-id", APP_ID,
                         "--issued", "2026-01-01T00:00:00Z", "--not-after",
                         "2027-01-01T00:00:00Z"] + list(extra)
            if out:
                arguments += ["--out", out]
            return run(*arguments)

        # Many signatures: every s low, every one verifying.
        for i in range(24):
            result = sign("--features", "pro", "export", "--extra", "x-n=%d" % i)
            text = result.stdout
            s = int(text.rstrip(b"\n")[-64:], 16)
            expect(result.returncode == 0 and 0 < s <= ORDER // 2, "signature %d is low-S" % i)
        licence = os.path.join(work, "l.lic")
        expect(sign("--features", "pro", out=licence).returncode == 0, "sign --out")
        data = open(licence, "rb").read()

        refused = [
            ("--computer-id", "0123456789abcdef0123456789abcdef"),
            ("--features", "a b"),  # a token with a space
            ("--not-before", "2027-01-01T00:00:00Z"),  # not-after not after it
            ("--renew-after", "2026-02-30T00:00:00Z"),
            ("--extra", "colour=red"),
            ("--licensee", " padded"),
            ("--extra", "x-note=hi\nx-seats: 1000"),  # a line break signs a line of its own
            ("--product", "P\rlicensee: Evil"),
            ("--extra", "x-=42"),  # "x-" alone names no field
        ]
        for option, value in refused:
            result = sign(option, value)
            expect(result.returncode != 0 and result.stdout == b"", "sign refuses %s %r" % (option, value))

        def verify(path, *extra, keys=(public,)):
            arguments = ["verify", path, "--application", "Vendor A", "--application-id", APP_ID,
                         "--now", "2026-06-01T00:00:00Z"]
            for k in keys:
                arguments += ["--public-key", k]
            return run(*(arguments + list(extra))).returncode

        twin = data[:-65] + b"%064x\n" % (ORDER - int(data[-65:-1], 16))
        cases = [
            ("as signed", data, (), 0),
            ("BOM and CRLF", b"\xef\xbb\xbf" + data.replace(b"\n", b"\r\n"), (), 0),
            ("feature granted", data, ("--feature", "pro"), 0),
            ("feature not granted", data, ("--feature", "gold"), 11),
            ("another application", data, ("--application", "Vendor B"), 1),
            ("expired", data, ("--now", "2027-01-01T00:00:00Z"), 10),
            ("a clock two days behind issued", data, ("--now", "2025-12-30T00:00:00Z"), 9),
            ("high-S twin", twin, (), 8),
            ("a byte changed", data.replace(b"L-1", b"L-2"), (), 8),
            ("a line after the signature", data + b"x-late: 1\n", (), 7),
            ("a lone CR", data.replace(b"L-1\n", b"L-1\r"), (), 7),
            ("a NUL", data.replace(b"L-1", b"L\x001"), (), 7),
            ("uppercase signature", data[:-129] + data[-129:].upper(), (), 7),
            ("over 8192 bytes", data[:-1] + b" " * 8200 + b"\n", (), 7),
            ("an extension named x- alone", data.replace(b"signature: ", b"x-: 42\nsignature: "),
             (), 7),
            # The caller's own arguments are refused first, as the DLL refuses them (2),
            # whatever the licence holds.
            ("an empty feature", data, ("--feature", ""), 2),
            ("a feature with a space", data, ("--feature", "a b"), 2),
            ("a time off the calendar", b"x", ("--now", "2026-02-30T00:00:00Z"), 2),
        ]
        for what, content, extra, code in cases:
            path = os.path.join(work, "case.lic")
            open(path, "wb").write(content)
            # Later options win: the case's own --application or --now replaces the default.
            got = verify(path, *extra)
            expect(got == code, "verify, %s: %d, expected %d" % (what, got, code))
        expect(verify(licence, keys=("other:" + public[4:],)) == 8, "verify, an untrusted key id")
        expect(verify(licence, keys=("k-1:" + "1" * 128,)) == 8, "verify, a key off the curve")

    # The published vectors verify as docs/licence.md says.
    test_key = open(os.path.join(vectors, "test-key.pub")).read().strip()
    for name in ("full.lic", "permanent.lic"):
        result = run("verify", os.path.join(vectors, name), "--public-key", test_key,
                     "--application", "Vendor A", "--application-id", APP_ID,
                     "--now", "2024-11-05T17:45:30Z").returncode
        expect(result == 0, "the test vector %s verifies" % name)
    print("%d failure(s)" % len(failures) if failures else "all signer checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
