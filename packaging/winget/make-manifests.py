#!/usr/bin/env python3
"""Writes winget's manifests of a release and validates them.

Usage: make-manifests.py VERSION SETUP MSI OUTDIR
       make-manifests.py --check FOLDER SETUP MSI   (validates only)

The templates beside this script (Veltrane.Veltrane.*.yaml) get the version
and the SHA-256 of the built setup and MSI; the manifests go to
OUTDIR/manifests/v/Veltrane/Veltrane/VERSION/, as in the winget-pkgs
repository. Each is validated against winget's JSON schema of its kind
(schemas/, committed: no network), and the set against itself: one package
and version, no placeholder left, the installers' addresses naming the files
built. Exit status 1 on any fault, each named on standard error.
"""
import hashlib
import json
import pathlib
import re
import sys

import jsonschema
import yaml

HERE = pathlib.Path(__file__).resolve().parent
PACKAGE = "Veltrane.Veltrane"
SCHEMA_VERSION = "1.10.0"


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest().upper()


def validate(folder, built):
    """The faults of the manifests in folder, as texts."""
    faults = []
    manifests = {}
    for path in sorted(folder.glob("*.yaml")):
        manifest = yaml.safe_load(path.read_text(encoding="utf-8"))
        kind = manifest.get("ManifestType")
        schema_file = HERE / "schemas" / f"manifest.{kind}.{SCHEMA_VERSION}.json"
        if not schema_file.exists():
            faults.append(f"{path.name}: no schema for ManifestType {kind!r}")
            continue
        schema = json.loads(schema_file.read_text(encoding="utf-8-sig"))
        for error in jsonschema.Draft7Validator(schema).iter_errors(manifest):
            where = "/".join(str(p) for p in error.absolute_path) or "(top)"
            faults.append(f"{path.name}: {where}: {error.message}")
        if re.search(r"@[A-Z0-9_]+@", json.dumps(manifest)):
            faults.append(f"{path.name}: a placeholder is left")
        manifests[kind] = manifest
    for kind in ("version", "installer", "defaultLocale"):
        if kind not in manifests:
            faults.append(f"no {kind} manifest")
    ids = {(m.get("PackageIdentifier"), m.get("PackageVersion")) for m in manifests.values()}
    if len(ids) != 1:
        faults.append(f"the manifests name more than one package or version: {sorted(ids)}")
    for installer in manifests.get("installer", {}).get("Installers", []):
        name = installer.get("InstallerUrl", "").rsplit("/", 1)[-1]
        if built.get(name) != installer.get("InstallerSha256"):
            faults.append(f"installer {name}: SHA-256 {installer.get('InstallerSha256')} is not the built file's")
    return faults


def report(faults):
    for fault in faults:
        print(f"winget: {fault}", file=sys.stderr)
    return 1 if faults else 0


def main(argv):
    if len(argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    if argv[1] == "--check":
        folder, setup, msi = (pathlib.Path(a) for a in argv[2:])
        return report(validate(folder, {setup.name: sha256(setup), msi.name: sha256(msi)}))
    version, setup, msi, outdir = argv[1], pathlib.Path(argv[2]), pathlib.Path(argv[3]), pathlib.Path(argv[4])
    built = {setup.name: sha256(setup), msi.name: sha256(msi)}
    folder = outdir / "manifests" / PACKAGE[0].lower() / PACKAGE.replace(".", "/") / version
    folder.mkdir(parents=True, exist_ok=True)
    for template in sorted(HERE.glob(f"{PACKAGE}*.yaml")):
        text = template.read_text(encoding="utf-8")
        text = text.replace("@VERSION@", version)
        text = text.replace("@SETUP_SHA256@", built[setup.name]).replace("@MSI_SHA256@", built[msi.name])
        (folder / template.name).write_text(text, encoding="utf-8")
    if report(validate(folder, built)):
        return 1
    print(f"winget manifests of {PACKAGE} {version}, valid against schema {SCHEMA_VERSION}: {folder}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
