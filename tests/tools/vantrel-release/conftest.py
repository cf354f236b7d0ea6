"""Fixtures of the release tool's tests.

VANTREL_NATIVE_BUILD_DIR  the native build folder holding vantrel-release (default build/native)

The live-host checks use the end-to-end tests' HTTPS server, test CA and nginx host.

The real minisign is the reference: releases signed with it must pass `verify`, and what
`publish` signs must pass `minisign -V`.
"""

from __future__ import annotations

import gzip
import hashlib
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
from dataclasses import dataclass
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[3]
KEYS = REPO / "tests" / "keys"
sys.path.insert(0, str(REPO / "tests" / "e2e"))
LAUNCHER_NAME = "vantrel-launcher.exe"
FIXED_TIME = "1765267200"


def fake_launcher(size: int = 4096, machine: int = 0x8664, pe_offset: int = 128) -> bytes:
    """Bytes that pass the setup's executable check: "MZ", e_lfanew, "PE\\0\\0", machine."""
    image = bytearray(os.urandom(size))
    image[0:2] = b"MZ"
    image[60:64] = struct.pack("<I", pe_offset)
    if pe_offset + 6 <= size:
        image[pe_offset : pe_offset + 6] = b"PE\0\0" + struct.pack("<H", machine)
    return bytes(image[:size])  # the header fields may reach past a tiny image


def artifact_names(version: str) -> list[str]:
    archive = f"vantrel-launcher-{version}-x86_64-windows.tar.gz"
    return [archive, archive + ".sha256", archive + ".minisig", archive + ".sha256.minisig"]


def manifest_of(version: str) -> dict:
    archive, checksum, signature, checksum_signature = artifact_names(version)
    return {
        "schema": 1,
        "version": version,
        "platforms": {
            "windows_x86_64": {
                "archive": archive,
                "checksum": checksum,
                "signature": signature,
                "checksum_signature": checksum_signature,
            }
        },
    }


@dataclass
class Tree:
    """A published tree: DIR/vantrel/launcher/<version>/ and the stable manifest."""

    root: Path
    version: str

    @property
    def folder(self) -> Path:
        return self.root / "vantrel" / "launcher" / self.version

    @property
    def manifest(self) -> Path:
        return self.root / "vantrel" / "launcher" / "stable" / "manifest.json"

    def file(self, index: int) -> Path:
        return self.folder / artifact_names(self.version)[index]


@dataclass
class Tools:
    release: Path
    minisign: str

    def run(self, *args, stdin: bytes | None = None, env: dict | None = None, cwd=None):
        return subprocess.run(
            [str(self.release), *map(str, args)],
            input=stdin if stdin is not None else b"",
            capture_output=True,
            env={**os.environ, "SOURCE_DATE_EPOCH": FIXED_TIME, **(env or {})},
            cwd=cwd,
            timeout=300,
        )

    def minisign_sign(self, key: Path, file: Path, out: Path, legacy: bool = False,
                      comment: str | None = None) -> None:
        command = [self.minisign, "-S", "-s", str(key), "-m", str(file), "-x", str(out)]
        command += ["-l"] if legacy else []
        command += ["-t", comment] if comment else []
        subprocess.run(command, check=True, capture_output=True, stdin=subprocess.DEVNULL,
                       timeout=60)

    def minisign_verify(self, public_key: Path, file: Path, signature: Path | None = None):
        command = [self.minisign, "-V", "-p", str(public_key), "-m", str(file)]
        command += ["-x", str(signature)] if signature else []
        return subprocess.run(command, capture_output=True, text=True, timeout=60)


@pytest.fixture(scope="session")
def tools() -> Tools:
    build = Path(os.environ.get("VANTREL_NATIVE_BUILD_DIR", REPO / "build" / "native"))
    release = build / "vantrel-release"
    if not release.is_file():
        pytest.skip(f"vantrel-release is not built ({release} is missing)")
    minisign = shutil.which("minisign")
    if minisign is None:
        pytest.skip("minisign is not installed; it is the reference for every signature")
    return Tools(release, minisign)


def publish(tools: Tools, secret: Path, version: str, launcher: bytes, out: Path, *extra,
            stdin: bytes | None = None):
    launcher_file = out.parent / f"launcher-{version}-{len(launcher)}.exe"
    launcher_file.write_bytes(launcher)
    return tools.run("publish", "--secret", secret, "--version", version, "--launcher",
                     launcher_file, "--out", out, *extra, stdin=stdin)


def last_line(output: bytes) -> str:
    lines = output.decode().splitlines()
    return lines[-1] if lines else ""


def package_of(launcher: bytes, name: str = LAUNCHER_NAME) -> bytes:
    """A package made by another tar and gzip writer than the release tool's."""
    tar_bytes = io.BytesIO()
    with tarfile.open(fileobj=tar_bytes, mode="w", format=tarfile.USTAR_FORMAT) as archive:
        entry = tarfile.TarInfo(name)
        entry.size = len(launcher)
        entry.mode = 0o755
        archive.addfile(entry, io.BytesIO(launcher))
    return gzip.compress(tar_bytes.getvalue())


def minisign_release(tools: Tools, root: Path, version: str, launcher: bytes,
                     key: Path = KEYS / "release-test.key", legacy: bool = False) -> Tree:
    """A release tree made without the release tool: Python's tar, sha256 and minisign -S."""
    tree = Tree(root, version)
    tree.folder.mkdir(parents=True)
    tree.manifest.parent.mkdir(parents=True)
    package = package_of(launcher)
    tree.file(0).write_bytes(package)
    digest = hashlib.sha256(package).hexdigest()
    tree.file(1).write_bytes(f"{digest}  {tree.file(0).name}\n".encode())
    tools.minisign_sign(key, tree.file(0), tree.file(2), legacy=legacy)
    tools.minisign_sign(key, tree.file(1), tree.file(3), legacy=legacy)
    tree.manifest.write_text(json.dumps(manifest_of(version)))
    return tree


@pytest.fixture(scope="session")
def test_ca(tmp_path_factory):
    from support import certificates

    if shutil.which("openssl") is None:
        pytest.skip("openssl is not installed; it makes the test CA")
    return certificates.create(tmp_path_factory.mktemp("ca"))


@pytest.fixture
def served_root():
    """A folder that nginx's workers (nobody, when run as root) can read: not under pytest's
    private temporary folders."""
    root = Path(tempfile.mkdtemp(prefix="vantrel-release-served-"))
    root.chmod(0o755)
    yield root
    shutil.rmtree(root)
