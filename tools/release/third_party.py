"""The third-party notices and the CycloneDX SBOM of a release's Vantrel.exe.

What is linked comes from the link itself: every file the link map names (and, for a
header-only library, the headers that the linked objects included) is the project's own or
belongs to a component of components.json; anything else stops the release. Each
component's text and versions come from the record scripts/setup kept of the Debian source
package it was built from (the .dsc, debian/copyright, the upstream licence files).

    third_party.py debian-packages
        the Debian packages whose records scripts/setup keeps
    third_party.py write --build DIR --image FILE --out DIR [--sources DIR]
        the notices and the SBOM of FILE, linked in build folder DIR
    third_party.py carry --earlier FILE --image FILE --out DIR
        the files written beside an earlier image, for the same image signed
"""

from __future__ import annotations

import argparse
import fnmatch
import functools
import hashlib
import json
import os
import re
import subprocess
import sys
import textwrap
import uuid
from dataclasses import dataclass
from datetime import datetime, timezone
from pathlib import Path

NOTICES = "THIRD-PARTY-NOTICES.txt"
SBOM_SUFFIX = ".cdx.json"
TABLE = Path(__file__).with_name("components.json")
# Where scripts/setup keeps its records, under the dependency prefix.
RECORDS = Path("share/vantrel-setup/sources")
SUPPLIER = {"name": "Debian", "url": ["https://www.debian.org/"]}
GCC_EXCEPTION_LINE = "Under the GCC Runtime Library Exception 3.1: no notice is required."
RULE = "=" * 78


class Refusal(Exception):
    """A reason to stop the release."""


@dataclass(frozen=True)
class Component:
    entry: dict  # its row of components.json
    version: str  # the exact version built (of the binary package, for an installed one)
    source: str  # the Debian source package
    source_version: str
    dsc_name: str
    dsc_sha256: str
    texts: list[tuple[str, str]]  # (title, text): debian/copyright, then the licence files

    @property
    def name(self) -> str:
        return self.entry["name"]

    @property
    def purl(self) -> str:
        return f"pkg:deb/debian/{self.source}@{self.source_version}?arch=source"


def load_table() -> list[dict]:
    return json.loads(TABLE.read_text())["components"]


# --- what the link took in ----------------------------------------------------------------------

def linked_inputs(link_map: str) -> tuple[set[str], set[tuple[str, str]]]:
    """The object files loaded whole, and the (archive, member) pairs taken from archives."""
    members, objects, in_members = set(), set(), False
    for line in link_map.splitlines():
        if line.startswith("Archive member included"):
            in_members = True
        elif line and not line[0].isspace() and not line.startswith("LOAD "):
            found = re.match(r"(.+?\.a)\(([^()]+)\)", line) if in_members else None
            if found:
                members.add((os.path.normpath(found[1]), found[2]))
            else:
                in_members = False
        if line.startswith("LOAD ") and not line.endswith(".a") and line != "LOAD dll stuff":
            objects.add(os.path.normpath(line[5:]))
    return objects, members


def own_objects(objects: set[str], members: set[tuple[str, str]], deps: str) -> set[str]:
    """The build's own linked objects as `ninja -t deps` names them."""
    compiled = re.findall(r"^(\S.*?): #deps", deps, re.M)
    own = {o for o in objects if not os.path.isabs(o)}
    for archive, member in members:
        if os.path.isabs(archive):
            continue
        target = Path(archive).name.removeprefix("lib").removesuffix(".a")
        folder = os.path.join(os.path.dirname(archive), "CMakeFiles", target + ".dir") + "/"
        own.update(o for o in compiled if o.startswith(folder) and Path(o).name == member)
    return own


def included_headers(deps: str, objects: set[str]) -> set[str]:
    """The headers the objects included, each also by its real path."""
    headers, current = set(), None
    for line in deps.splitlines():
        if line and not line[0].isspace():
            current = line.split(": #deps")[0]
        elif line.strip() and current in objects:
            headers.add(os.path.normpath(line.strip()))
    return headers | {os.path.realpath(header) for header in headers}


@functools.cache
def package_files(package: str) -> frozenset[str]:
    listed = subprocess.run(["dpkg-query", "-L", package], capture_output=True, text=True)
    if listed.returncode != 0:
        raise Refusal(f"the Debian package {package} is not installed (run scripts/setup)")
    return frozenset(line for line in listed.stdout.splitlines() if line)


def linked_components(table: list[dict], build: Path, link_map: str, deps: str) -> list[dict]:
    """The rows of the table the link in build folder BUILD took in; refuses a file that is
    neither the build's own nor named by a row."""
    objects, members = linked_inputs(link_map)
    owners = {row["package"]: package_files(row["package"]) for row in table if "package" in row}
    built_folder = os.path.realpath(deps_prefix_of(build) / "lib")
    build_folder = os.path.realpath(build)

    def takes(row: dict, path: str) -> bool:
        real = os.path.realpath(path)
        built = os.path.dirname(real) == built_folder
        patterns = row.get("files", ["*"])
        return ("header_only" not in row and built == ("built" in row)
                and any(fnmatch.fnmatch(os.path.basename(path), p) for p in patterns)
                and (built or not {path, real}.isdisjoint(owners[row["package"]])))

    found = {}
    for path in sorted(objects | {archive for archive, _ in members}):
        if not os.path.isabs(path) or os.path.realpath(path).startswith(build_folder + "/"):
            continue  # the build's own
        row = next((row for row in table if takes(row, path)), None)
        if row is None:
            raise Refusal(f"the image links {path}, which no component of {TABLE.name} names")
        found[row["name"]] = row
    headers = included_headers(deps, own_objects(objects, members, deps))
    for row in table:
        if "header_only" in row and headers & owners[row["package"]]:
            found[row["name"]] = row
    return sorted(found.values(), key=lambda row: row["name"])


# --- the records scripts/setup kept -------------------------------------------------------------

def read_text(path: Path) -> str:
    data = path.read_bytes()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        text = data.decode("latin-1")
    return text.replace("\r\n", "\n").rstrip("\n") + "\n"


def dsc_field(dsc: str, name: str) -> str:
    found = re.search(rf"^{name}: *(\S+)$", dsc, re.M)
    return found[1] if found else ""


def installed(package: str) -> tuple[str, str, str]:
    """The binary version, the source package and the source version of an installed package."""
    shown = subprocess.run(["dpkg-query", "-W", "-f=${Version} ${source:Package} ${source:Version}",
                            package], capture_output=True, text=True)
    if shown.returncode != 0:
        raise Refusal(f"the Debian package {package} is not installed (run scripts/setup)")
    version, source, source_version = shown.stdout.split()
    return version, source, source_version


def component(row: dict, sources: Path) -> Component:
    name = row["name"]
    record = sources / (row.get("built") or row["package"])
    dscs = sorted(record.glob("*.dsc"))
    if len(dscs) != 1:
        raise Refusal(f"{name}: no record of its Debian source package in {record} "
                      f"(run scripts/setup)")
    if not (record / "copyright").is_file():
        raise Refusal(f"{name}: no copyright file in {record} (run scripts/setup)")
    dsc = dscs[0].read_text(errors="replace")
    source, source_version = dsc_field(dsc, "Source"), dsc_field(dsc, "Version")
    version = source_version
    if "package" in row:
        version, installed_source, installed_version = installed(row["package"])
        if (installed_source, installed_version) != (source, source_version):
            raise Refusal(f"{name}: {row['package']} is now built from {installed_source} "
                          f"{installed_version}, its record is of {source} {source_version} "
                          f"(run scripts/setup)")
    texts = [("debian/copyright", read_text(record / "copyright"))]
    licenses = record / "licenses"
    if licenses.is_dir():
        texts += [(f.name, read_text(f)) for f in sorted(licenses.iterdir()) if f.is_file()]
    return Component(row, version, source, source_version, dscs[0].name,
                     hashlib.sha256(dscs[0].read_bytes()).hexdigest(), texts)


# --- the files written --------------------------------------------------------------------------

def notices(image_name: str, components: list[Component]) -> str:
    width = max(len(c.name) for c in components) + 2
    lines = [f"Third-party software in {image_name}", "",
             textwrap.fill(f"{image_name} contains the components below, each as the exact "
                           "version that was built, with the copyright and licence texts of the "
                           "Debian source package it came from.", len(RULE)), ""]
    lines += [f"  {c.name:<{width}}{c.version:<32}{c.entry['license']}" for c in components]
    for c in components:
        lines += ["", RULE, f"{c.name} {c.version}", f"Licence: {c.entry['license']}",
                  f"Debian source package: {c.source} {c.source_version}"]
        if "description" in c.entry:
            lines.append(c.entry["description"] + ".")
        if c.entry.get("gcc_exception"):
            lines.append(GCC_EXCEPTION_LINE)
            continue
        for title, text in c.texts:
            lines += ["", f"--- {title} ---", text.rstrip("\n")]
    return "\n".join(lines) + "\n"


def sha256_of(path: Path) -> str:
    return hashlib.sha256(path.read_bytes()).hexdigest()


def product(image: Path) -> dict:
    """The shipped file as the SBOM's subject, named and versioned by its version resource."""
    import pefile

    pe = pefile.PE(str(image), fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    strings = {}
    for info in getattr(pe, "FileInfo", None) or []:
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    pe.close()
    if "ProductVersion" not in strings:
        raise Refusal(f"{image} has no ProductVersion in its version resource")
    return {"type": "application", "bom-ref": image.name, "name": image.name,
            "version": strings["ProductVersion"],
            "description": strings.get("ProductName", image.name),
            "supplier": {"name": strings.get("CompanyName", "")},
            "hashes": [{"alg": "SHA-256", "content": sha256_of(image)}]}


def build_time() -> str:
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch.isdigit():
        raise Refusal("SOURCE_DATE_EPOCH must be set to the build's time")
    return datetime.fromtimestamp(int(epoch), timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def sbom(subject: dict, components: list[dict], stamp: str) -> str:
    """CycloneDX 1.5 JSON, with a serial number made from its content."""
    body = {"bomFormat": "CycloneDX", "specVersion": "1.5", "version": 1,
            "metadata": {"timestamp": stamp, "component": subject},
            "components": components,
            "dependencies": [{"ref": subject["bom-ref"],
                              "dependsOn": [c["bom-ref"] for c in components]}]}
    content = json.dumps(body, sort_keys=True, ensure_ascii=False)
    serial = uuid.uuid5(uuid.NAMESPACE_URL, "sha256:" + hashlib.sha256(content.encode()).hexdigest())
    return json.dumps({"$schema": "http://cyclonedx.org/schema/bom-1.5.schema.json",
                       "bomFormat": "CycloneDX", "specVersion": "1.5",
                       "serialNumber": serial.urn, **body}, indent=2, ensure_ascii=False) + "\n"


def sbom_component(c: Component) -> dict:
    described = {"description": c.entry["description"]} if "description" in c.entry else {}
    return {"type": "library", "bom-ref": c.name, "supplier": SUPPLIER, "name": c.name,
            "version": c.version, **described, "licenses": [{"expression": c.entry["license"]}],
            "purl": c.purl, "hashes": [{"alg": "SHA-256", "content": c.dsc_sha256}],
            "properties": [{"name": "vantrel:hashed-source-file", "value": c.dsc_name}]}


def write_file(path: Path, text: str) -> None:
    path.write_bytes(text.encode("utf-8"))


def deps_prefix_of(build: Path) -> Path:
    """The dependency prefix a Windows build folder was configured with."""
    cache = (build / "CMakeCache.txt").read_text()
    found = re.search(r"^VANTREL_DEPS_PREFIX:PATH=(.*)$", cache, re.M)
    if not found:
        raise Refusal(f"{build} has no VANTREL_DEPS_PREFIX: not a Windows build folder")
    return Path(found[1])


def header_deps(build: Path) -> str:
    """The headers each object of the build included, as `ninja -t deps` lists them."""
    return subprocess.run(["ninja", "-C", str(build), "-t", "deps"], capture_output=True,
                          text=True, check=True).stdout


def write(build: Path, image: Path, out: Path, sources: Path | None) -> None:
    deps_prefix = deps_prefix_of(build)
    link_map = (build / (image.stem + ".map")).read_text(errors="replace")
    rows = linked_components(load_table(), build, link_map, header_deps(build))
    components = [component(row, sources or deps_prefix / RECORDS) for row in rows]
    write_file(out / NOTICES, notices(image.name, components))
    write_file(out / (image.name + SBOM_SUFFIX),
               sbom(product(image), [sbom_component(c) for c in components], build_time()))


def carry(earlier: Path, image: Path, out: Path) -> None:
    """The notices as they were, and the SBOM made again for the new image's bytes (its time
    stays the build's)."""
    folder = earlier.parent
    try:
        old_notices = (folder / NOTICES).read_text()
        old = json.loads((folder / (earlier.name + SBOM_SUFFIX)).read_text())
    except (OSError, ValueError) as error:
        raise Refusal(f"the notices and SBOM of {earlier} are not beside it, as scripts/release "
                      f"writes them: {error}") from None
    if old["metadata"]["component"]["hashes"] != [{"alg": "SHA-256",
                                                   "content": sha256_of(earlier)}]:
        raise Refusal(f"the SBOM beside {earlier} describes other bytes")
    write_file(out / NOTICES, old_notices)
    write_file(out / (image.name + SBOM_SUFFIX), sbom(product(image), old["components"],
                                                            old["metadata"]["timestamp"]))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("debian-packages")
    made = commands.add_parser("write")
    made.add_argument("--build", type=Path, required=True)
    made.add_argument("--sources", type=Path)
    carried = commands.add_parser("carry")
    carried.add_argument("--earlier", type=Path, required=True)
    for command in (made, carried):
        command.add_argument("--image", type=Path, required=True)
        command.add_argument("--out", type=Path, required=True)
    args = parser.parse_args()
    try:
        if args.command == "debian-packages":
            packages = dict.fromkeys(row["package"] for row in load_table() if "package" in row)
            print("\n".join(packages))
        elif args.command == "write":
            write(args.build, args.image, args.out, args.sources)
        else:
            carry(args.earlier, args.image, args.out)
    except Refusal as refusal:
        print(f"release: error: {refusal}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
