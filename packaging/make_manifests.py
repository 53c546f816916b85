#!/usr/bin/env python3
"""Writes the winget and Scoop manifests of a release from the packages just built.

    make_manifests.py --dist <folder> --version <a.b.c.d> [--out <folder>]

Reads from <folder> (build/dist) the MSIs and zips of both architectures,
idrovan-<version>-<x64|x86>.<msi|zip>, and writes into --out (default <folder>/manifests):

  winget/Veltrane.Idrovan.yaml               the version file      } winget's multi-file
  winget/Veltrane.Idrovan.installer.yaml     both MSIs              } manifest, schema 1.10.0
  winget/Veltrane.Idrovan.locale.en-US.yaml  the default locale     }
  scoop/idrovan.json                         both zips

What the manifests say of the packages is read from the packages: the version (each MSI's
ProductVersion must be the one given), their SHA-256, each MSI's ProductCode, UpgradeCode,
Manufacturer and ProductName, and the file names. Only what describes the product is written
here, once.

The settings, from the environment:
  IDROVAN_RELEASE_URL        required: the https address under which the release's files lie
                             (e.g. https://downloads.example.com/idrovan/2.1.31.0/); the
                             download addresses are it followed by the file names
  IDROVAN_HOMEPAGE           optional: the product's web page
  IDROVAN_LICENSE_URL        optional: the licence's address
  IDROVAN_RELEASE_NOTES_URL  optional: the release notes' address
Every address must be https: a package manager fetches and runs what it names, and a plain
http address would let anyone on the way swap the file and its hash. Anything else is refused
(exit 2) and nothing is written.
"""
import argparse
import hashlib
import json
import os
import re
import subprocess
import sys
from urllib.parse import urlsplit, urlunsplit

try:
    import yaml
except ImportError:
    sys.exit("make_manifests.py: python3-yaml is missing (scripts/setup.sh installs it)")

IDENTIFIER = "Veltrane.Idrovan"
PACKAGE_NAME = "Idrovan"
MANIFEST_VERSION = "1.10.0"
LOCALE = "en-US"
LICENSE = "MIT"
SHORT_DESCRIPTION = ("Shows this computer's stable ID (32 hexadecimal digits) in a dialog "
                     "and prints it from the console.")
TAGS = ["computer-id", "machine-id", "hardware-id", "licensing", "inventory"]
MONIKER = "idrovan"
SCOOP_NOTES = ("A standard user's ID: run 'idrovan-cli --no-write' (the dialog asks for "
               "administrator rights).")
# Windows Installer's own quiet switches, as the README documents them; winget's defaults for
# wix would be /quiet and /passive. No restart: a file in use is replaced at the next one.
SWITCHES = {"Silent": "/qn /norestart", "SilentWithProgress": "/qb /norestart"}
# Architecture: winget's name, Scoop's name.
ARCHS = {"x64": "64bit", "x86": "32bit"}
VERSION_PATTERN = re.compile(r"^\d+\.\d+\.\d+\.\d+$")


class Refused(Exception):
    """A setting or a package that the manifests cannot be made from."""


def https_address(name, value, folder=False):
    """The setting's address, checked: https, a host, no query or fragment; a folder address
    ends in a slash, so that file names can be appended."""
    parts = urlsplit(value)
    if parts.scheme.lower() != "https" or not parts.netloc:
        raise Refused(f"{name} must be an https address (https://host/...), not '{value}'")
    if any(c.isspace() or c in '"<>\\^`{|}$' for c in value):
        raise Refused(f"{name} holds a character an address cannot carry as it is: '{value}'")
    if folder and (parts.query or parts.fragment):
        raise Refused(f"{name} is the folder the files lie in: no query or fragment: '{value}'")
    if folder and not parts.path.endswith("/"):
        value = urlunsplit(parts._replace(path=parts.path + "/"))
    return value


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def msi_properties(path):
    """The MSI's Property table, from msiinfo (msitools)."""
    try:
        table = subprocess.run(["msiinfo", "export", path, "Property"], check=True,
                               capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        raise Refused(f"cannot read the Property table of {path} with msiinfo: {error}")
    rows = (line.rstrip("\r").split("\t", 1) for line in table.splitlines()[3:])
    return {row[0]: row[1] for row in rows if len(row) == 2}


def read_packages(dist, version):
    """Architecture -> what the manifests say of its MSI and zip."""
    packages = {}
    for arch in ARCHS:
        msi = f"idrovan-{version}-{arch}.msi"
        archive = f"idrovan-{version}-{arch}.zip"
        for name in (msi, archive):
            if not os.path.isfile(os.path.join(dist, name)):
                raise Refused(f"{name} is not in {dist}: the manifests name both architectures' packages")
        properties = msi_properties(os.path.join(dist, msi))
        for needed in ("ProductCode", "UpgradeCode", "ProductVersion", "Manufacturer", "ProductName"):
            if not properties.get(needed):
                raise Refused(f"{msi} has no {needed}")
        if properties["ProductVersion"] != version:
            raise Refused(f"{msi} is version {properties['ProductVersion']}, the release {version}")
        packages[arch] = {"msi": msi, "msi_sha256": sha256(os.path.join(dist, msi)),
                          "zip": archive, "zip_sha256": sha256(os.path.join(dist, archive)),
                          "properties": properties}
    publishers = {p["properties"]["Manufacturer"] for p in packages.values()}
    if len(publishers) != 1:
        raise Refused(f"the MSIs name different publishers: {sorted(publishers)}")
    return packages


def scoop_address_pattern(base, version):
    """The release address with $version for the version, and Scoop's checkver for it: a GitHub
    release's latest tag; else the listing of the folder that holds one folder per version;
    else, where the address does not name the version, its own listing of the files."""
    parts = urlsplit(base)
    segments = parts.path.split("/")
    at = next((i for i in reversed(range(len(segments))) if version in segments[i]), None)
    if at is None:
        checkver = {"url": base, "regex": r"idrovan-(\d+\.\d+\.\d+\.\d+)-x64\.zip"}
        return base, checkver
    pattern_segments = list(segments)
    pattern_segments[at] = segments[at].replace(version, "$version")
    pattern = urlunsplit(parts._replace(path="/".join(pattern_segments)))
    github = re.fullmatch(r"/([^/]+)/([^/]+)/releases/download/[^/]+/", parts.path)
    if parts.netloc.lower() == "github.com" and github:
        return pattern, {"github": f"https://github.com/{github.group(1)}/{github.group(2)}"}
    listing = urlunsplit(parts._replace(path="/".join(segments[:at]) + "/"))
    before, _, after = segments[at].partition(version)
    regex = re.escape(before) + r"(\d+\.\d+\.\d+\.\d+)" + re.escape(after) + "/"
    return pattern, {"url": listing, "regex": regex, "reverse": True}


def winget_manifests(version, packages, settings):
    """File name -> (schema name, content) of the three winget files."""
    common = {"PackageIdentifier": IDENTIFIER, "PackageVersion": version}
    first = next(iter(packages.values()))["properties"]
    locale = dict(common, PackageLocale=LOCALE, Publisher=first["Manufacturer"],
                  PackageName=PACKAGE_NAME)
    if settings["homepage"]:
        locale["PackageUrl"] = settings["homepage"]
    locale["License"] = LICENSE
    if settings["license_url"]:
        locale["LicenseUrl"] = settings["license_url"]
    locale.update(ShortDescription=SHORT_DESCRIPTION, Moniker=MONIKER, Tags=TAGS)
    if settings["release_notes_url"]:
        locale["ReleaseNotesUrl"] = settings["release_notes_url"]
    installers = []
    for arch, package in packages.items():
        properties = package["properties"]
        installers.append({
            "Architecture": arch,
            "InstallerUrl": settings["release_url"] + package["msi"],
            "InstallerSha256": package["msi_sha256"].upper(),
            "ProductCode": properties["ProductCode"],
            "AppsAndFeaturesEntries": [{"DisplayName": properties["ProductName"],
                                        "UpgradeCode": properties["UpgradeCode"]}],
        })
    installer = dict(common, InstallerType="wix", Scope="machine", InstallerSwitches=SWITCHES,
                     UpgradeBehavior="install", Commands=["idrovan-cli"],
                     ElevationRequirement="elevatesSelf", Installers=installers)
    version_file = dict(common, DefaultLocale=LOCALE)
    return {
        f"{IDENTIFIER}.yaml": ("version", dict(version_file, ManifestType="version")),
        f"{IDENTIFIER}.installer.yaml": ("installer", dict(installer, ManifestType="installer")),
        f"{IDENTIFIER}.locale.{LOCALE}.yaml": ("defaultLocale", dict(locale, ManifestType="defaultLocale")),
    }


def scoop_manifest(version, packages, settings):
    pattern, checkver = scoop_address_pattern(settings["release_url"], version)
    manifest = {"version": version, "description": SHORT_DESCRIPTION,
                # Scoop's schema requires a homepage: the release's address stands in for one.
                "homepage": settings["homepage"] or settings["release_url"],
                "license": ({"identifier": LICENSE, "url": settings["license_url"]}
                            if settings["license_url"] else LICENSE),
                "notes": SCOOP_NOTES,
                "architecture": {}}
    autoupdate = {}
    for arch, package in packages.items():
        manifest["architecture"][ARCHS[arch]] = {"url": settings["release_url"] + package["zip"],
                                                 "hash": package["zip_sha256"]}
        autoupdate[ARCHS[arch]] = {"url": pattern + package["zip"].replace(version, "$version")}
    manifest.update(bin="idrovan-cli.exe", shortcuts=[["idrovan.exe", PACKAGE_NAME]],
                    checkver=checkver,
                    autoupdate={"architecture": autoupdate, "hash": {"url": "$baseurl/SHA256SUMS"}})
    return manifest


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dist", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--out")
    options = parser.parse_args()
    out = options.out or os.path.join(options.dist, "manifests")
    try:
        if not VERSION_PATTERN.match(options.version):
            raise Refused(f"the version must be a.b.c.d: '{options.version}'")
        if not os.environ.get("IDROVAN_RELEASE_URL"):
            raise Refused("IDROVAN_RELEASE_URL is not set: the manifests need the https address "
                          "under which the release's files will lie")
        settings = {"release_url": https_address("IDROVAN_RELEASE_URL",
                                                 os.environ["IDROVAN_RELEASE_URL"], folder=True)}
        for key, name in (("homepage", "IDROVAN_HOMEPAGE"), ("license_url", "IDROVAN_LICENSE_URL"),
                          ("release_notes_url", "IDROVAN_RELEASE_NOTES_URL")):
            value = os.environ.get(name, "")
            settings[key] = https_address(name, value) if value else ""
        packages = read_packages(options.dist, options.version)
    except Refused as refusal:
        print(f"make_manifests.py: no manifests written: {refusal}", file=sys.stderr)
        return 2
    for name, (schema, content) in winget_manifests(options.version, packages, settings).items():
        header = (f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{schema}."
                  f"{MANIFEST_VERSION}.schema.json\n\n")
        content["ManifestVersion"] = MANIFEST_VERSION
        write(os.path.join(out, "winget", name),
              header + yaml.safe_dump(content, sort_keys=False, allow_unicode=True, width=1000))
    write(os.path.join(out, "scoop", "idrovan.json"),
          json.dumps(scoop_manifest(options.version, packages, settings), indent=4) + "\n")
    print(f"make_manifests.py: winget and Scoop manifests of {options.version} in {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
