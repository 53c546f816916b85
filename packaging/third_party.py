#!/usr/bin/env python3
"""Writes what a package says about the code of others that its programs hold.

    third_party.py --arch <x64|x86> --version <a.b.c.d> --stamp <unix time>
                   --notices <out.txt> --sbom <out.cdx.json> <program>=<linker map>...

The programs are linked statically, so they hold parts of the toolchain's runtime: the
mingw-w64 runtime, winpthreads and GCC's runtime libraries. Which parts is read from each
program's linker map (the archive members and object files the linker took in), which Debian
package each came from and its version from dpkg. Two files come out of that:

  - the third-party notices (plain text): the copyright and licence paragraphs of Debian's
    copyright file for the mingw-w64 package that cover the linked source files, a word on
    GCC's runtime libraries, whose licence exception asks for no notice, and the Hewlett-Packard
    and Silicon Graphics notices that libstdc++'s containers (bits/stl_tree.h and the other
    headers taken from their STL) carry and ask to be reproduced, read from the installed header;
  - a CycloneDX 1.6 bill of materials (JSON): its supplier, authors and the tool that wrote
    it, the programs with their SHA-256, and every linked component with its version, Debian
    package (a purl each), licences and the archives it came from.

Both depend only on the maps, the programs, the installed packages and the arguments, so that
two runs give the same bytes: the BOM's time is the given stamp, and its serial number is
derived from its content.
"""
import argparse
import hashlib
import json
import os
import re
import subprocess
import sys
import time
import uuid
from urllib.parse import quote

# What the programs are. The project's own licence is in LICENSE.
PRODUCT = "Idrovan"
SUPPLIER = "Veltrane"
AUTHORS = "The Idrovan authors"
PROJECT_LICENSE = "MIT"

# Component -> how it is named and licensed where Debian's copyright file does not say it.
GCC_LICENSE = "GPL-3.0-or-later WITH GCC-exception-3.1"
COMPONENTS = {
    "mingw-w64-crt": {"title": "mingw-w64 runtime", "description":
                      "mingw-w64's C runtime: start-up code, msvcrt import library and extras, libmingwex"},
    "winpthreads": {"title": "winpthreads", "description": "mingw-w64's POSIX threads library"},
    "libgcc": {"title": "libgcc", "description": "GCC's low-level runtime and unwinder (libgcc, libgcc_eh)"},
    "libstdc++": {"title": "libstdc++", "description": "GCC's C++ standard library"},
}

# Debian's licence short names -> SPDX identifiers, for the BOM; others go in by name.
SPDX = {"ZPL-2.1": "ZPL-2.1", "expat": "MIT", "BSD-3-clause": "BSD-3-Clause",
        "BSD-2-clause-NetBSD": "BSD-2-Clause", "ISC": "ISC"}

# The copyright file names most files with a licence of their own one by one; a member of a
# runtime archive is matched against those names by its source file's base name, which the
# member's name carries. Of whole folders it must be told which members come from them.
GDTOA = {"arithchk", "dmisc", "dtoa", "g__fmt", "g_dfmt", "g_ffmt", "g_xfmt", "gdtoa", "gethex",
         "gmisc", "hd_init", "hexnan", "misc", "qnan", "smisc", "strtodg", "strtodnrp", "strtof",
         "strtopx", "sum", "ulp"}


def folder_covers(pattern, member):
    """Whether the copyright file's folder pattern covers a linked member."""
    component, archive, stem = member
    if pattern == "*":  # the mingw-w64 sources as a whole, for what no other paragraph claims
        return component == "mingw-w64-crt"
    if pattern == "mingw-w64-crt/crt/*":  # libmingw32 and the start-up objects
        return archive == "libmingw32.a" or re.fullmatch(r"(dll)?crt\d\w*\.o", archive) is not None
    if pattern == "mingw-w64-crt/gdtoa/*":
        return component == "mingw-w64-crt" and stem in GDTOA
    if pattern == "mingw-w64-libraries/winpthreads/*":
        return component == "winpthreads"
    return False


def file_covers(pattern, member):
    """Whether a single-file pattern names a linked member's source (or a header every one of
    its component's sources includes)."""
    component, _, stem = member
    if component == "winpthreads" and pattern.startswith("mingw-w64-libraries/winpthreads/include/pthread"):
        return True
    prefix = {"mingw-w64-crt": "mingw-w64-crt/",
              "winpthreads": "mingw-w64-libraries/winpthreads/src/"}.get(component)
    if prefix is None or not pattern.startswith(prefix) or pattern.startswith("mingw-w64-crt/include/"):
        return False
    # A base name with a wildcard in it ("math/m*") names a group of files in a folder that the
    # member's name does not give; only "name.*" is taken, which is one file in several forms.
    base = os.path.basename(pattern)
    if base.endswith(".*"):
        return base[:-2] == stem
    return base in (stem + ".c", stem + ".S")


# The header of libstdc++ whose comment gives the notices of the STL it descends from, and the
# companies whose notice paragraphs are taken from it.
STL_HEADER = "/bits/stl_tree.h"
STL_NOTICES = ("Silicon Graphics", "Hewlett-Packard")


def fail(message):
    sys.exit("third_party.py: " + message)


def linked_files(map_path):
    """The archive members and object files a linker map says were taken in:
    [(file path as the map gives it, member or None)]."""
    try:
        with open(map_path, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
    except OSError as e:
        fail("cannot read the linker map %s (%s): build the programs again" % (map_path, e.strerror))
    found = []
    in_members = False
    for line in lines:
        if line.startswith("Archive member included"):
            in_members = True
            continue
        if line.startswith(("Discarded input sections", "Memory Configuration")):
            in_members = False
        if in_members and line and not line[0].isspace():
            match = re.match(r"(.+?)\(([^()]+)\)(\s|$)", line)
            if match:
                found.append((match.group(1), match.group(2)))
        elif line.startswith("LOAD ") and line.endswith(".o"):
            found.append((line[5:].strip(), None))
    if not found:
        fail("%s lists no linked archive members: is it a linker map?" % map_path)
    return found


def dpkg(*arguments):
    result = subprocess.run(["dpkg-query"] + list(arguments), capture_output=True, text=True)
    return result.stdout.strip() if result.returncode == 0 else None


def package_of(path, cache={}):
    if path not in cache:
        owner = dpkg("-S", path)
        cache[path] = owner.split(":")[0] if owner else None
    return cache[path]


def classify(path, member):
    """(component, Debian package, the linked file's real path, member stem), or None for the
    project's own code. The map names the project's libraries relative to the link's folder
    and the toolchain's by absolute paths."""
    if not os.path.isabs(path):
        return None
    real = os.path.realpath(path)
    package = package_of(real)
    if package is None:
        if real.startswith(os.getcwd() + os.sep):
            return None  # ours, named by an absolute path
        fail("%s is linked but belongs to no installed package" % real)
    name = os.path.basename(real)
    if name in ("libwinpthread.a", "libpthread.a"):
        component = "winpthreads"
    elif re.fullmatch(r"mingw-w64-[a-z0-9-]+-dev", package):
        component = "mingw-w64-crt"
    elif name.startswith("libstdc++"):
        component = "libstdc++"
    elif re.fullmatch(r"libgcc(_eh)?\.a|crtbegin\.o|crtend\.o", name):
        component = "libgcc"
    else:
        fail("%s (Debian package %s) is linked, and this script does not know what it is" % (real, package))
    stem = re.sub(r"\.o(bj)?$", "", member or name)
    stem = re.sub(r"^(lib(32|64)_)?lib\w+?_(a|la)-", "", stem)
    return component, package, real, stem


def parse_copyright(path):
    """Debian's machine-readable copyright file: its paragraphs, each a list of lines."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    paragraphs = [p.splitlines() for p in re.split(r"\n\s*\n", text) if p.strip()]
    return paragraphs


def field(paragraph, name):
    """A field's value and continuation lines, as one list of stripped lines."""
    values = []
    taking = False
    for line in paragraph:
        if line[:1].isspace():
            if taking:
                values.append(line.strip())
        else:
            taking = line.startswith(name + ":")
            if taking:
                values.append(line[len(name) + 1:].strip())
    return values


def without_files(paragraph):
    """The paragraph without its Files field."""
    kept = []
    skipping = False
    for line in paragraph:
        if not line[:1].isspace():
            skipping = line.startswith("Files:")
        if not skipping:
            kept.append(line)
    return kept


def license_names(paragraph):
    first = field(paragraph, "License")[0]
    return [n for n in re.split(r"\s+(?:and|or)\s+", first) if n]


def select_notices(copyright_path, members):
    """The paragraphs of the copyright file that cover the linked members, in the file's order,
    each with the Files patterns that cover them, and the stand-alone licence texts they refer
    to."""
    paragraphs = parse_copyright(copyright_path)
    chosen = []
    for paragraph in paragraphs:
        patterns = field(paragraph, "Files")
        if not patterns or not field(paragraph, "License"):
            continue
        matched = [pattern for pattern in patterns
                   if any((folder_covers if pattern == "*" or pattern.endswith("/*") else file_covers)(pattern, m)
                          for m in members)]
        if matched:
            chosen.append((paragraph, matched))
    # A paragraph whose License field is only a name refers to the licence text given once in
    # a paragraph of its own.
    standalone = {field(p, "License")[0]: p for p in paragraphs
                  if not field(p, "Files") and field(p, "License")}
    referred = []
    for paragraph, _ in chosen:
        if len(field(paragraph, "License")) == 1:
            for name in license_names(paragraph):
                if name not in standalone:
                    fail("%s refers to the licence %s but does not give its text" % (copyright_path, name))
                if standalone[name] not in referred:
                    referred.append(standalone[name])
    return chosen, referred


def stl_notices(package):
    """The copyright and permission paragraphs of the STL's authors, as the libstdc++ header
    installed by the package gives them: [(company, [lines])]."""
    files = (dpkg("-L", package) or "").splitlines()
    header = next((f for f in files if f.endswith(STL_HEADER)), None)
    if header is None:
        fail("the Debian package %s has no %s to take the STL's notices from" % (package, STL_HEADER))
    with open(header, encoding="utf-8") as f:
        lines = f.read().splitlines()
    # The comment block: " * " lines, paragraphs separated by lines of a lone "*"; each notice
    # starts with its "Copyright (c)" line.
    body = []
    for line in lines:
        match = re.match(r"^ \*( (.*)|)$", line)
        if match is None:
            if body:
                break
            continue
        body.append((match.group(2) or "").rstrip())
    notices = []
    for start in (i for i, line in enumerate(body) if line.startswith("Copyright (c)")):
        end = start
        while end < len(body) and not (body[end] == "" and end + 1 < len(body) and body[end + 1] == ""):
            end += 1
        notices.append(body[start:end])
    chosen = []
    for company in STL_NOTICES:
        notice = next((n for n in notices if any(company in line for line in n[:3])), None)
        if notice is None:
            fail("%s gives no notice of %s" % (header, company))
        chosen.append((company, notice))
    return header, chosen


def upstream(version):
    """The upstream part of a Debian version: no epoch, no Debian revision."""
    return re.sub(r"^\d+:", "", version).rsplit("-", 1)[0]


def distro():
    fields = {}
    try:
        with open("/etc/os-release") as f:
            for line in f:
                key, _, value = line.strip().partition("=")
                fields[key] = value.strip('"')
    except OSError:
        return None
    if "ID" in fields and "VERSION_ID" in fields:
        return "%s-%s" % (fields["ID"], fields["VERSION_ID"])
    return None


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--arch", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--stamp", required=True, type=int)
    parser.add_argument("--notices", required=True)
    parser.add_argument("--sbom", required=True)
    parser.add_argument("programs", nargs="+", metavar="program=map")
    args = parser.parse_args()

    programs = []  # (name, path, {component: {package, archives}})
    components = {}  # component -> {"package", "archives", "paths", "members"}
    for pair in args.programs:
        program, _, map_path = pair.partition("=")
        if not map_path:
            fail("expected <program>=<linker map>, not %s" % pair)
        used = {}
        for path, member in linked_files(map_path):
            described = classify(path, member)
            if described is None:
                continue
            component, package, real, stem = described
            archive = os.path.basename(real)
            entry = components.setdefault(component, {"package": package, "archives": set(), "paths": set(),
                                                      "members": set()})
            if entry["package"] != package:
                fail("%s comes from both %s and %s" % (component, entry["package"], package))
            entry["archives"].add(archive)
            entry["paths"].add(real)
            entry["members"].add((component, archive, stem))
            used[component] = True
        programs.append((os.path.basename(program), program, sorted(used)))

    for name, entry in components.items():
        entry["version"] = dpkg("-W", "-f=${Version}", entry["package"])
        entry["architecture"] = dpkg("-W", "-f=${Architecture}", entry["package"])
        if not entry["version"]:
            fail("cannot read the version of the Debian package %s" % entry["package"])

    write_notices(args, programs, components)
    write_sbom(args, programs, components)


def write_notices(args, programs, components):
    runtime = [c for c in ("mingw-w64-crt", "winpthreads") if c in components]
    gcc = [c for c in ("libgcc", "libstdc++") if c in components]
    out = []
    say = out.append
    say("Third-party notices: %s %s (%s)" % (PRODUCT, args.version, args.arch))
    say("")
    names = [name for name, _, _ in programs]
    say("%s %s linked statically: %s contain parts of these" % (
        ", ".join(names[:-1]) + " and " + names[-1] if len(names) > 1 else names[0],
        "are" if len(names) > 1 else "is", "they" if len(names) > 1 else "it"))
    say("libraries, as Debian builds them (Debian package and its version in brackets):")
    say("")
    for c in sorted(components, key=list(COMPONENTS).index):
        entry = components[c]
        say("  %s %s (%s %s)" % (COMPONENTS[c]["title"], upstream(entry["version"]),
                                  entry["package"], entry["version"]))
    if gcc:
        say("")
        say("GCC's runtime libraries (%s) are licensed under the GNU General Public" % ", ".join(
            COMPONENTS[c]["title"] for c in gcc))
        say("License, version 3 or later, with the GCC Runtime Library Exception, version 3.1. The")
        say("exception allows a program compiled with GCC to be distributed under terms of its")
        say("own choice and asks for no notice; they are named here for completeness only.")
    if "libstdc++" in components:
        entry = components["libstdc++"]
        header, notices = stl_notices(entry["package"])
        say("")
        say("=" * 78)
        say("libstdc++'s containers")
        say("")
        say("libstdc++'s containers and algorithms (bits/stl_tree.h, behind std::map and std::set,")
        say("and the other headers that descend from the STL of Hewlett-Packard and Silicon")
        say("Graphics) carry these notices, which ask to appear in all copies. As given by")
        say("%s" % header)
        say("(Debian package %s %s):" % (entry["package"], entry["version"]))
        for _, notice in notices:
            say("")
            out.extend("  " + line if line else "" for line in notice)
    for c in runtime:
        entry = components[c]
        copyright_path = "/usr/share/doc/%s/copyright" % entry["package"]
        chosen, referred = select_notices(copyright_path, entry["members"])
        say("")
        say("=" * 78)
        say("%s %s" % (COMPONENTS[c]["title"], upstream(entry["version"])))
        say("")
        say("The paragraphs of %s" % copyright_path)
        say("(Debian package %s %s) that cover the parts the programs contain;" % (
            entry["package"], entry["version"]))
        say("each Files field names only the source files of those parts.")
        for paragraph, matched in chosen:
            say("")
            say("Files: " + matched[0])
            out.extend("       " + pattern for pattern in matched[1:])
            out.extend(line.rstrip() for line in without_files(paragraph))
        for paragraph in referred:
            say("")
            out.extend(line.rstrip() for line in paragraph)
    with open(args.notices, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


def licenses_of(component, entry):
    if component in ("libgcc", "libstdc++"):
        return [{"expression": GCC_LICENSE}]
    copyright_path = "/usr/share/doc/%s/copyright" % entry["package"]
    chosen, _ = select_notices(copyright_path, entry["members"])
    names = []
    for paragraph, _ in chosen:
        for name in license_names(paragraph):
            if name not in names:
                names.append(name)
    return [{"license": {"id": SPDX[n]} if n in SPDX else {"name": n}} for n in names]


def purl_of(component, components):
    """The component's package URL: its Debian package's. A component that shares the package
    with one named before it (winpthreads, in mingw-w64's -dev package with the runtime) is
    told apart by a subpath, the archive it was linked from within the package."""
    entry = components[component]
    purl = "pkg:deb/debian/%s@%s?arch=%s" % (quote(entry["package"], safe=""), quote(entry["version"], safe=""),
                                             entry["architecture"])
    if distro():
        purl += "&distro=%s" % distro()
    order = list(COMPONENTS)
    if any(components[c]["package"] == entry["package"] for c in components if order.index(c) < order.index(component)):
        if len(entry["paths"]) != 1:
            fail("%s shares the Debian package %s with another component and was linked from %s, not from one archive"
                 % (component, entry["package"], " ".join(sorted(entry["paths"]))))
        purl += "#" + "/".join(quote(part, safe="") for part in next(iter(entry["paths"])).strip("/").split("/"))
    return purl


def write_sbom(args, programs, components):
    parts = []
    for name, path, _ in programs:
        parts.append({
            "bom-ref": name,
            "type": "application",
            "supplier": {"name": SUPPLIER},
            "name": name,
            "version": args.version,
            "hashes": [{"alg": "SHA-256", "content": sha256(path)}],
            "licenses": [{"license": {"id": PROJECT_LICENSE}}],
        })
    for c in sorted(components, key=list(COMPONENTS).index):
        entry = components[c]
        parts.append({
            "bom-ref": c,
            "type": "library",
            "name": c,
            "version": upstream(entry["version"]),
            "description": COMPONENTS[c]["description"],
            "licenses": licenses_of(c, entry),
            "purl": purl_of(c, components),
            "properties": [
                {"name": "idrovan:debian-package", "value": "%s %s" % (entry["package"], entry["version"])},
                {"name": "idrovan:linked-from", "value": " ".join(sorted(entry["archives"]))},
            ],
        })
    bom = {
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "version": 1,
        "metadata": {
            "timestamp": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(args.stamp)),
            # Who made this document and with what: the product's supplier, its authors, and
            # this script, which is part of the product's sources and carries its version.
            "tools": {"components": [{
                "type": "application",
                "supplier": {"name": SUPPLIER},
                "authors": [{"name": AUTHORS}],
                "name": "idrovan packaging/third_party.py",
                "version": args.version,
            }]},
            "authors": [{"name": AUTHORS}],
            "supplier": {"name": SUPPLIER},
            "component": {
                "bom-ref": "idrovan",
                "type": "application",
                "supplier": {"name": SUPPLIER},
                "authors": [{"name": AUTHORS}],
                "name": PRODUCT,
                "version": args.version,
                "properties": [{"name": "idrovan:architecture", "value": args.arch}],
            },
        },
        "components": parts,
        "dependencies": [{"ref": "idrovan", "dependsOn": [name for name, _, _ in programs]}] + [
            {"ref": name, "dependsOn": used} for name, _, used in programs] + [
            {"ref": c, "dependsOn": []} for c in sorted(components, key=list(COMPONENTS).index)],
    }
    # Same content, same serial number: a rebuild gives the same bytes.
    digest = hashlib.sha256(json.dumps(bom, sort_keys=True).encode()).hexdigest()
    serial = "urn:uuid:%s" % uuid.uuid5(uuid.NAMESPACE_URL, "idrovan-sbom:" + digest)
    bom = {"bomFormat": bom.pop("bomFormat"), "specVersion": bom.pop("specVersion"),
           "serialNumber": serial, **bom}
    with open(args.sbom, "w", encoding="utf-8") as f:
        json.dump(bom, f, indent=2, ensure_ascii=False)
        f.write("\n")


if __name__ == "__main__":
    main()
