"""tools/release/third_party.py on the Windows build's real link: it lists what the link took
in and nothing else, refuses a linked library it cannot account for, and stops with a library's
name when scripts/setup kept no record of that library's source package."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import windows_build_file

REPO = Path(__file__).resolve().parents[2]
TOOL = REPO / "tools" / "release" / "third_party.py"
sys.path.insert(0, str(TOOL.parent))
import third_party  # noqa: E402

# What the issue that asked for the notices says Vantrel.exe links; libssp comes with
# -fstack-protector-strong.
LINKED = {"libarchive", "libcrypto", "libdeflate", "libpng", "libsodium", "zlib", "nlohmann-json",
          "mingw-w64", "libstdc++", "libgcc"}


@pytest.fixture(scope="module")
def link() -> tuple[Path, str, str]:
    """The build folder, its link map and its header dependencies."""
    link_map = windows_build_file("Vantrel.map")
    build = link_map.parent
    return build, link_map.read_text(errors="replace"), third_party.header_deps(build)


def names(table, build, link_map, deps) -> set[str]:
    return {row["name"] for row in third_party.linked_components(table, build, link_map, deps)}


def test_the_link_takes_in_the_components_it_should(link):
    build, link_map, deps = link
    listed = names(third_party.load_table(), build, link_map, deps)
    assert LINKED <= listed <= LINKED | {"libssp"}


def test_a_linked_library_missing_from_the_table_stops_it_with_its_file(link):
    build, link_map, deps = link
    table = third_party.load_table()
    linked = [row for row in table if row["name"] in names(table, build, link_map, deps)]
    unnoticed = []
    for row in (row for row in linked if "header_only" not in row):
        try:
            third_party.linked_components([r for r in table if r is not row], build, link_map,
                                          deps)
            unnoticed.append(row["name"])
        except third_party.Refusal as refusal:
            assert "which no component of components.json names" in str(refusal)
    assert unnoticed == []


def without_lines(text: str, pattern: str) -> str:
    return "\n".join(line for line in text.splitlines() if not re.search(pattern, line))


@pytest.mark.parametrize("component, map_lines, deps_lines", [
    ("libdeflate", r"libdeflate\.a", None),
    ("libstdc++", r"libstdc\+\+\.a", None),
    ("nlohmann-json", None, r"/nlohmann/"),
])
def test_a_library_the_link_does_not_take_in_is_not_listed(link, component, map_lines, deps_lines):
    build, link_map, deps = link
    table = third_party.load_table()
    assert component in names(table, build, link_map, deps)
    link_map = without_lines(link_map, map_lines) if map_lines else link_map
    deps = without_lines(deps, deps_lines) if deps_lines else deps
    assert component not in names(table, build, link_map, deps)


@pytest.mark.parametrize("record, removed, named", [
    ("libarchive", "copyright", "libarchive: no copyright file"),
    ("libsodium", "*.dsc", "libsodium: no record of its Debian source package"),
    ("libz-mingw-w64-dev", "*", "zlib: no record of its Debian source package"),
])
def test_a_missing_record_stops_it_with_the_library_name(link, tmp_path, record, removed, named):
    build = link[0]
    records = third_party.deps_prefix_of(build) / third_party.RECORDS
    if not (records / record).is_dir():
        pytest.skip(f"scripts/setup kept no records in {records}")
    sources = tmp_path / "sources"
    shutil.copytree(records, sources)
    for path in (sources / record).glob(removed):
        shutil.rmtree(path) if path.is_dir() else path.unlink()
    out = tmp_path / "out"
    out.mkdir()
    done = subprocess.run([sys.executable, "-B", TOOL, "write", "--build", build, "--image",
                           build / "Vantrel.exe", "--out", out, "--sources", sources],
                          capture_output=True, text=True,
                          env={**os.environ, "SOURCE_DATE_EPOCH": "0"})
    assert done.returncode == 1 and named in done.stderr, done.stderr
    assert list(out.iterdir()) == []
