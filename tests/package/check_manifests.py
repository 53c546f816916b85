#!/usr/bin/env python3
"""Checks the winget and Scoop manifests that packaging/make_manifests.py wrote against the
published schemas and against the packages they describe.

    check_manifests.py --dist <folder> --version <a.b.c.d> [--manifests <folder>]
                       [--release-url <address>] [--channel-url <address>]

<folder> holds the packages (build/dist); the manifests are in --manifests (default
<folder>/manifests: winget/ with the three YAML files, scoop/idrovan.json). With --release-url,
every download address must be that address followed by the file's name; with --channel-url,
Scoop's checkver must read the version (jsonpath $.version) from the idrovan.json there.

The schemas are read from IDROVAN_SCHEMAS_DIR, by default ../shared/schemas beside the
repository (winget/manifest.{version,installer,defaultLocale}.1.10.0.json, scoop/schema.json).
Where they are missing the schema part prints SKIPPED with the reason and every other check
still runs: each winget file is YAML; identifier, version and manifest version agree across the
files and with the release; both architectures are there, each once; every hash is the file's
SHA-256; every ProductCode and UpgradeCode is the MSI's; the installer says msi, per machine,
elevates itself, silent switches without a restart, no install location (the MSI keeps none),
a release date, idrovan-cli; the locale names the product's page; Scoop's bin and
shortcut name programs that its zips hold, its notes tell the one-time elevated run and then
--no-write, its homepage is not the release folder, checkver reads the version with a jsonpath
from a fixed address (not from a folder listing), and its autoupdate addresses give the
release's for this version; every address is https. Prints one FAIL line per fault and exits 1 if there is any.
"""
import argparse
import datetime
import hashlib
import json
import os
import subprocess
import sys
import zipfile
from urllib.parse import urlsplit

import yaml

IDENTIFIER = "Veltrane.Idrovan"
MANIFEST_VERSION = "1.10.0"
ARCHS = {"x64": "64bit", "x86": "32bit"}
WINGET_FILES = {f"{IDENTIFIER}.yaml": "version", f"{IDENTIFIER}.installer.yaml": "installer",
                f"{IDENTIFIER}.locale.en-US.yaml": "defaultLocale"}


class Check:
    def __init__(self):
        self.faults = 0

    def expect(self, condition, message):
        if not condition:
            print(f"FAIL: {message}")
            self.faults += 1
        return condition


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def msi_properties(path):
    table = subprocess.run(["msiinfo", "export", path, "Property"], check=True,
                           capture_output=True, text=True).stdout
    rows = (line.rstrip("\r").split("\t", 1) for line in table.splitlines()[3:])
    return {row[0]: row[1] for row in rows if len(row) == 2}


def addresses(value):
    """Every string in a manifest that names an address with a scheme."""
    if isinstance(value, dict):
        for item in value.values():
            yield from addresses(item)
    elif isinstance(value, list):
        for item in value:
            yield from addresses(item)
    elif isinstance(value, str) and "://" in value:
        yield value


def load_manifests(check, folder):
    """File name -> parsed content (None where missing or unreadable)."""
    loaded = {}
    for name in WINGET_FILES:
        path = os.path.join(folder, "winget", name)
        try:
            with open(path, encoding="utf-8") as f:
                content = yaml.safe_load(f)
            check.expect(isinstance(content, dict), f"{name} is not a YAML mapping")
            loaded[name] = content if isinstance(content, dict) else None
        except (OSError, yaml.YAMLError) as error:
            check.expect(False, f"{name} is not readable YAML: {error}")
            loaded[name] = None
    path = os.path.join(folder, "scoop", "idrovan.json")
    try:
        with open(path, encoding="utf-8") as f:
            loaded["idrovan.json"] = json.load(f)
    except (OSError, ValueError) as error:
        check.expect(False, f"idrovan.json is not readable JSON: {error}")
        loaded["idrovan.json"] = None
    return loaded


def check_schemas(check, loaded):
    # The import stays here: without the schemas the other checks need no jsonschema.
    schemas = os.environ.get("IDROVAN_SCHEMAS_DIR") or os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "shared", "schemas")
    schemas = os.path.normpath(schemas)
    files = {name: os.path.join(schemas, "winget", f"manifest.{kind}.{MANIFEST_VERSION}.json")
             for name, kind in WINGET_FILES.items()}
    files["idrovan.json"] = os.path.join(schemas, "scoop", "schema.json")
    missing = [path for path in files.values() if not os.path.isfile(path)]
    if missing:
        print(f"SKIPPED: the manifests against winget's and Scoop's schemas: {schemas} lacks "
              f"{', '.join(os.path.relpath(path, schemas) for path in missing)} "
              f"(IDROVAN_SCHEMAS_DIR names the folder; default ../shared/schemas beside the repository)")
        return
    import jsonschema
    for name, path in files.items():
        if loaded[name] is None:
            continue
        with open(path, encoding="utf-8") as f:
            schema = json.load(f)
        validator_class = jsonschema.validators.validator_for(schema)
        validator_class.check_schema(schema)
        validator = validator_class(schema, format_checker=validator_class.FORMAT_CHECKER)
        for error in validator.iter_errors(loaded[name]):
            location = "/".join(str(p) for p in error.absolute_path) or "(top)"
            check.expect(False, f"{name} does not match its schema at {location}: {error.message}")
    print(f"schemas: {', '.join(sorted(set(files.values())))}")


def check_winget(check, loaded, dist, version, release_url, msis):
    documents = {name: loaded[name] for name in WINGET_FILES}
    if None in documents.values():
        return
    for name, kind in WINGET_FILES.items():
        document = documents[name]
        check.expect(document.get("PackageIdentifier") == IDENTIFIER,
                     f"{name}: PackageIdentifier {document.get('PackageIdentifier')!r}, not {IDENTIFIER}")
        check.expect(document.get("PackageVersion") == version,
                     f"{name}: PackageVersion {document.get('PackageVersion')!r}, the release's version is {version}")
        check.expect(document.get("ManifestType") == kind, f"{name}: ManifestType {document.get('ManifestType')!r}, not {kind}")
        check.expect(document.get("ManifestVersion") == MANIFEST_VERSION,
                     f"{name}: ManifestVersion {document.get('ManifestVersion')!r}, not {MANIFEST_VERSION}")
    version_file = documents[f"{IDENTIFIER}.yaml"]
    locale = documents[f"{IDENTIFIER}.locale.en-US.yaml"]
    check.expect(version_file.get("DefaultLocale") == locale.get("PackageLocale") == "en-US",
                 f"DefaultLocale {version_file.get('DefaultLocale')!r} and the locale file's "
                 f"PackageLocale {locale.get('PackageLocale')!r} are not both en-US")
    check.expect(bool(locale.get("PackageUrl")), "the locale names no PackageUrl (the product's page)")
    check.expect("--no-write" in str(locale.get("InstallationNotes")) and
                 "1925" in str(locale.get("InstallationNotes")),
                 "the locale's InstallationNotes do not tell --no-write and that a quiet install "
                 f"needs elevation (error 1925): {locale.get('InstallationNotes')!r}")
    publishers = {m.get("Manufacturer") for m in msis.values()}
    check.expect(publishers == {locale.get("Publisher")},
                 f"Publisher {locale.get('Publisher')!r}, the MSIs' Manufacturer {sorted(map(str, publishers))}")

    installer = documents[f"{IDENTIFIER}.installer.yaml"]
    entries = installer.get("Installers") or []
    listed = sorted(str(e.get("Architecture")) for e in entries if isinstance(e, dict))
    check.expect(listed == sorted(ARCHS), f"installer architectures {listed}, not each of {sorted(ARCHS)} once")
    for entry in (e for e in entries if isinstance(e, dict) and e.get("Architecture") in ARCHS):
        arch = entry["Architecture"]

        def value(key):
            return entry.get(key, installer.get(key))

        name = f"idrovan-{version}-{arch}.msi"
        url = str(value("InstallerUrl"))
        check.expect(url.rsplit("/", 1)[-1] == name, f"{arch} InstallerUrl {url} does not name {name}")
        if release_url:
            check.expect(url == release_url + name, f"{arch} InstallerUrl {url} is not {release_url}{name}")
        path = os.path.join(dist, name)
        if not check.expect(os.path.isfile(path) and arch in msis, f"{name} is not in {dist}"):
            continue
        digest = sha256(path)
        check.expect(str(value("InstallerSha256")).lower() == digest,
                     f"{arch} InstallerSha256 {value('InstallerSha256')} is not {name}'s SHA-256 {digest}")
        properties = msis[arch]
        check.expect(properties.get("ProductVersion") == version,
                     f"{name}: ProductVersion {properties.get('ProductVersion')}, the release's version is {version}")
        check.expect(value("ProductCode") == properties.get("ProductCode"),
                     f"{arch} ProductCode {value('ProductCode')!r} is not {name}'s {properties.get('ProductCode')}")
        upgrade_codes = [e.get("UpgradeCode") for e in value("AppsAndFeaturesEntries") or [] if isinstance(e, dict)]
        check.expect(upgrade_codes == [properties.get("UpgradeCode")],
                     f"{arch} AppsAndFeaturesEntries' UpgradeCode {upgrade_codes} is not {name}'s {properties.get('UpgradeCode')}")
        for key, wanted in (("InstallerType", "msi"), ("Scope", "machine"), ("UpgradeBehavior", "install"),
                            ("ElevationRequirement", "elevatesSelf")):
            check.expect(value(key) == wanted, f"{arch} {key} {value(key)!r}, not {wanted}")
        check.expect("idrovan-cli" in (value("Commands") or []), f"{arch} Commands {value('Commands')} lack idrovan-cli")
        switches = value("InstallerSwitches") or {}
        for mode, quiet in (("Silent", "/qn"), ("SilentWithProgress", "/qb")):
            words = str(switches.get(mode)).split()
            check.expect(quiet in words and "/norestart" in words,
                         f"{arch} InstallerSwitches {mode} {switches.get(mode)!r}: not {quiet} /norestart")
        # The package keeps no folder chosen at install (an upgrade would go to Program Files):
        # winget must not offer --location.
        check.expect("InstallLocation" not in switches,
                     f"{arch} InstallerSwitches offer an InstallLocation, which the MSI does not keep")
        date = str(value("ReleaseDate"))
        try:
            datetime.date.fromisoformat(date)
        except ValueError:
            check.expect(False, f"{arch} ReleaseDate {value('ReleaseDate')!r} is not a date YYYY-MM-DD")


def check_scoop(check, manifest, dist, version, release_url, channel_url):
    if manifest is None:
        return
    check.expect(manifest.get("version") == version,
                 f"idrovan.json: version {manifest.get('version')!r}, the release's version is {version}")
    architectures = manifest.get("architecture") or {}
    check.expect(sorted(architectures) == sorted(ARCHS.values()),
                 f"idrovan.json: architectures {sorted(architectures)}, not {sorted(ARCHS.values())}")
    auto = (manifest.get("autoupdate") or {}).get("architecture") or {}
    bins = manifest.get("bin")
    bins = [bins] if isinstance(bins, str) else bins or []
    shortcut_targets = [s[0] for s in manifest.get("shortcuts") or [] if isinstance(s, list) and s]
    check.expect(bins == ["idrovan-cli.exe"], f"idrovan.json: bin {bins}, not idrovan-cli.exe")
    check.expect(shortcut_targets == ["idrovan.exe"], f"idrovan.json: shortcuts to {shortcut_targets}, not idrovan.exe")
    # A Scoop installation runs nothing elevated and so makes no marker: the notes must tell the
    # one run that makes it, before the read-only run that everyone can do.
    notes = manifest.get("notes")
    notes = " ".join(notes) if isinstance(notes, list) else str(notes)
    check.expect("--first-run" in notes and "--no-write" in notes and
                 notes.find("--first-run") < notes.find("--no-write"),
                 f"idrovan.json: the notes do not tell --first-run and then --no-write: {notes!r}")
    homepage = str(manifest.get("homepage"))
    check.expect(not (release_url and homepage.rstrip("/") == release_url.rstrip("/")) and version not in homepage,
                 f"idrovan.json: homepage {homepage} is a release's folder, not the product's page")
    # scoop update finds a release only through a fixed address; a folder listing may not be
    # served, and its order is not the versions' (2.9 after 2.10).
    checkver = manifest.get("checkver")
    if check.expect(isinstance(checkver, dict), f"idrovan.json: checkver {checkver!r} is not an object"):
        url = str(checkver.get("url"))
        check.expect(checkver.get("jsonpath") == "$.version" and url.endswith("/idrovan.json") and
                     version not in url and not {"regex", "re", "reverse", "github"} & set(checkver),
                     f"idrovan.json: checkver {checkver} does not read $.version from a fixed idrovan.json")
        if channel_url:
            check.expect(url == channel_url + "idrovan.json",
                         f"idrovan.json: checkver url {url} is not {channel_url}idrovan.json")
    for arch, key in ARCHS.items():
        entry = architectures.get(key)
        if not isinstance(entry, dict):
            continue
        name = f"idrovan-{version}-{arch}.zip"
        url = str(entry.get("url"))
        check.expect(url.rsplit("/", 1)[-1] == name, f"idrovan.json: {key} url {url} does not name {name}")
        if release_url:
            check.expect(url == release_url + name, f"idrovan.json: {key} url {url} is not {release_url}{name}")
        pattern = str((auto.get(key) or {}).get("url"))
        check.expect(pattern.replace("$version", version) == url and "$version" in pattern,
                     f"idrovan.json: {key} autoupdate url {pattern} does not give {url} for {version}")
        path = os.path.join(dist, name)
        if not check.expect(os.path.isfile(path), f"{name} is not in {dist}"):
            continue
        digest = sha256(path)
        listed = str(entry.get("hash")).lower()
        check.expect(listed.removeprefix("sha256:") == digest,
                     f"idrovan.json: {key} hash {entry.get('hash')} is not {name}'s SHA-256 {digest}")
        with zipfile.ZipFile(path) as archive:
            held = set(archive.namelist())
        check.expect(set(bins + shortcut_targets) <= held,
                     f"{name} does not hold {sorted(set(bins + shortcut_targets) - held)}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dist", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--manifests")
    parser.add_argument("--release-url")
    parser.add_argument("--channel-url")
    options = parser.parse_args()
    folder = options.manifests or os.path.join(options.dist, "manifests")
    check = Check()
    loaded = load_manifests(check, folder)
    check_schemas(check, loaded)
    for name, document in loaded.items():
        for address in addresses(document):
            check.expect(urlsplit(address).scheme.lower() == "https", f"{name}: {address} is not an https address")
    msis = {}
    for arch in ARCHS:
        path = os.path.join(options.dist, f"idrovan-{options.version}-{arch}.msi")
        if os.path.isfile(path):
            msis[arch] = msi_properties(path)
    check_winget(check, loaded, options.dist, options.version, options.release_url, msis)
    check_scoop(check, loaded["idrovan.json"], options.dist, options.version, options.release_url,
                options.channel_url)
    if check.faults:
        print(f"{check.faults} fault(s) in the manifests in {folder}")
        return 1
    print(f"the manifests in {folder} describe the packages of {options.version}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
