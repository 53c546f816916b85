#!/usr/bin/env python3
"""Writes the winget and Scoop manifests of a release from the packages just built.

    make_manifests.py --dist <folder> --version <a.b.c.d> [--release-date YYYY-MM-DD]
                      [--out <folder>]

Reads from <folder> (build/dist) the MSIs and zips of both architectures,
idrovan-<version>-<x64|x86>.<msi|zip>, and writes into --out (default <folder>/manifests):

  winget/Veltrane.Idrovan.yaml               the version file      } winget's multi-file
  winget/Veltrane.Idrovan.installer.yaml     both MSIs              } manifest, schema 1.10.0
  winget/Veltrane.Idrovan.locale.en-US.yaml  the default locale     }
  scoop/idrovan.json                         both zips

scoop/idrovan.json is published twice: beside the release's packages, and at the release
channel's fixed address (IDROVAN_CHANNEL_URL), where each release replaces the one before.
Scoop reads a manifest again from the address it was installed from, so only an installation
from the fixed address sees the next release on `scoop update`; checkver reads the version
from there too (jsonpath $.version): a folder listing is not served by every host, and its
order puts 2.9 after 2.10.

What the manifests say of the packages is read from the packages: the version (each MSI's
ProductVersion must be the one given), their SHA-256, each MSI's ProductCode, UpgradeCode,
Manufacturer and ProductName, and the file names. Only what describes the product is written
here, once.

The settings, from the environment:
  IDROVAN_RELEASE_URL        required: the https address under which the release's files lie
                             (e.g. https://downloads.example.com/idrovan/2.1.31.0/); the
                             download addresses are it followed by the file names
  IDROVAN_HOMEPAGE           required: the product's web page (winget's PackageUrl, Scoop's
                             homepage, which its schema requires; a release folder is no
                             homepage)
  IDROVAN_CHANNEL_URL        required: the fixed https folder of the release channel (e.g.
                             https://downloads.example.com/idrovan/stable/) that holds the
                             newest release's idrovan.json
  IDROVAN_PUBLISHER_URL      optional: the publisher's web page
  IDROVAN_LICENSE_URL        optional: the licence's address
  IDROVAN_RELEASE_NOTES_URL  optional: the release notes' address
Every address must be https: a package manager fetches and runs what it names, and a plain
http address would let anyone on the way swap the file and its hash. Anything else is refused
(exit 2) and nothing is written.

--release-date is winget's ReleaseDate; scripts/package.sh gives the date of the time the zips
are stamped with (the last commit's, or SOURCE_DATE_EPOCH), so that a rebuild writes the same.
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
# A Scoop installation runs nothing elevated, so it makes no marker: until a run with
# administrator rights has made one, no program gives an ID, not even the dialog started from
# the Start menu by an administrator (it does not ask for elevation).
SCOOP_NOTES = [
    "Once per computer, make its marker: run 'idrovan-cli --first-run' (it asks for "
    "administrator rights), or run 'idrovan-cli' once in a console opened as administrator.",
    "Then every user gets the ID: 'idrovan-cli --no-write', or the Idrovan shortcut.",
]
# Windows Installer's own quiet switches, as the README documents them; winget's defaults for
# MSIs would be /quiet and /passive. No restart: a file in use is replaced at the next one.
# No InstallLocation: `winget install --location` is not offered. INSTALLDIR would take a folder,
# but the package does not remember it, so the next version's upgrade would install into
# Program Files and leave the chosen folder behind (and Wine's msi, given one, left its files on
# uninstall).
SWITCHES = {"Silent": "/qn /norestart", "SilentWithProgress": "/qb /norestart"}
# What winget shows after installing. Its default (/qb) raises the UAC prompt itself; a quiet
# install (/qn: --silent, or an --override with /qn) cannot ask, and fails with 1603 (error
# 1925) unless winget itself runs elevated.
INSTALLATION_NOTES = (
    "The installation makes this computer's marker: every user then gets the ID with "
    "'idrovan-cli --no-write'. --silent, 'upgrade --all --silent' and an --override with /qn "
    "need a console opened as administrator (otherwise 1603, error 1925).")
# Architecture: winget's name, Scoop's name.
ARCHS = {"x64": "64bit", "x86": "32bit"}
VERSION_PATTERN = re.compile(r"^\d+\.\d+\.\d+\.\d+$")
DATE_PATTERN = re.compile(r"^\d{4}-\d{2}-\d{2}$")


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
    """The release address with $version for the version (in the folder that names it; the file
    names name it anyway), for Scoop's autoupdate."""
    parts = urlsplit(base)
    segments = parts.path.split("/")
    at = next((i for i in reversed(range(len(segments))) if version in segments[i]), None)
    if at is None:
        return base
    segments[at] = segments[at].replace(version, "$version")
    return urlunsplit(parts._replace(path="/".join(segments)))


def winget_manifests(version, packages, settings):
    """File name -> (schema name, content) of the three winget files."""
    common = {"PackageIdentifier": IDENTIFIER, "PackageVersion": version}
    first = next(iter(packages.values()))["properties"]
    locale = dict(common, PackageLocale=LOCALE, Publisher=first["Manufacturer"])
    if settings["publisher_url"]:
        locale["PublisherUrl"] = settings["publisher_url"]
    locale.update(PackageName=PACKAGE_NAME, PackageUrl=settings["homepage"], License=LICENSE)
    if settings["license_url"]:
        locale["LicenseUrl"] = settings["license_url"]
    locale.update(ShortDescription=SHORT_DESCRIPTION, Moniker=MONIKER, Tags=TAGS,
                  InstallationNotes=INSTALLATION_NOTES)
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
    # msi, not wix: the packages are made by wixl (msitools), and winget's moderators classify
    # an installer by the application that made it.
    installer = dict(common, InstallerType="msi", Scope="machine", InstallerSwitches=SWITCHES,
                     UpgradeBehavior="install", Commands=["idrovan-cli"],
                     ElevationRequirement="elevatesSelf")
    if settings["release_date"]:
        installer["ReleaseDate"] = settings["release_date"]
    installer["Installers"] = installers
    version_file = dict(common, DefaultLocale=LOCALE)
    return {
        f"{IDENTIFIER}.yaml": ("version", dict(version_file, ManifestType="version")),
        f"{IDENTIFIER}.installer.yaml": ("installer", dict(installer, ManifestType="installer")),
        f"{IDENTIFIER}.locale.{LOCALE}.yaml": ("defaultLocale", dict(locale, ManifestType="defaultLocale")),
    }


def scoop_manifest(version, packages, settings):
    pattern = scoop_address_pattern(settings["release_url"], version)
    checkver = {"url": settings["channel_url"] + "idrovan.json", "jsonpath": "$.version"}
    manifest = {"version": version, "description": SHORT_DESCRIPTION,
                "homepage": settings["homepage"],
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
    parser.add_argument("--release-date", help="winget's ReleaseDate, YYYY-MM-DD")
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
        if not os.environ.get("IDROVAN_HOMEPAGE"):
            raise Refused("IDROVAN_HOMEPAGE is not set: winget and Scoop show the product's web "
                          "page, and a release folder is none")
        settings["homepage"] = https_address("IDROVAN_HOMEPAGE", os.environ["IDROVAN_HOMEPAGE"])
        if not os.environ.get("IDROVAN_CHANNEL_URL"):
            raise Refused("IDROVAN_CHANNEL_URL is not set: the fixed https folder where each "
                          "release's idrovan.json replaces the one before, for scoop update")
        settings["channel_url"] = https_address("IDROVAN_CHANNEL_URL",
                                                os.environ["IDROVAN_CHANNEL_URL"], folder=True)
        if settings["channel_url"] == settings["release_url"]:
            raise Refused("IDROVAN_CHANNEL_URL must differ from IDROVAN_RELEASE_URL: it stays the "
                          "same from release to release")
        for key, name in (("publisher_url", "IDROVAN_PUBLISHER_URL"),
                          ("license_url", "IDROVAN_LICENSE_URL"),
                          ("release_notes_url", "IDROVAN_RELEASE_NOTES_URL")):
            value = os.environ.get(name, "")
            settings[key] = https_address(name, value) if value else ""
        if options.release_date and not DATE_PATTERN.match(options.release_date):
            raise Refused(f"the release date must be YYYY-MM-DD: '{options.release_date}'")
        settings["release_date"] = options.release_date or ""
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
