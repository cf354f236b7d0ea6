"""scripts/release: reproducible production builds, and Authenticode signing that a throwaway
certificate authority made here verifies and whose removal gives back the unsigned bytes; the
notices, the SBOM (valid against the CycloneDX schema) and the checksums that go with each."""

from __future__ import annotations

import hashlib
import json
import os
import re
import shutil
import subprocess
import time
from pathlib import Path
from urllib.parse import urljoin

import pefile
import pytest

from support import pe_image

REPO = Path(__file__).resolve().parents[2]
RELEASE = REPO / "scripts" / "release"
KEY = REPO / "tests" / "keys" / "other-test.pub"
HOST = "downloads.example.com"
PASSWORD = "release test password"
RELEASE_FILES = ("Vantrel.exe", "Vantrel.exe.sha256", "THIRD-PARTY-NOTICES.txt",
                 "Vantrel.exe.cdx.json", "SHA256SUMS")
# scripts/setup unpacks the schemas of @cyclonedx/cyclonedx-library here.
CYCLONEDX_SCHEMAS = Path("/var/cache/vantrel-deps/cyclonedx-schema")

# One worker makes the two builds and runs every case that uses them.
pytestmark = pytest.mark.xdist_group("release_builds")


def release(*args, tmp: Path, env: dict[str, str] | None = None) -> subprocess.CompletedProcess:
    return subprocess.run([RELEASE, *map(str, args)], env={**os.environ, "TMPDIR": str(tmp),
                                                          **(env or {})},
                          capture_output=True, text=True, timeout=1800)


@pytest.fixture(scope="module")
def two_builds(tmp_path_factory):
    """The same commit built twice, in different build folders and at different times."""
    if shutil.which("x86_64-w64-mingw32-g++-posix") is None:
        pytest.skip("the mingw-w64 cross compiler is not installed")
    images = []
    for name in ("first", "second"):
        work = tmp_path_factory.mktemp(name) / "a build folder with a longer path"
        work.mkdir()
        done = release("--host", HOST, "--key", KEY, "--out", work / "out", tmp=work,
                       env={"SOURCE_DATE_EPOCH": "1767225600"})
        assert done.returncode == 0, done.stderr
        images.append(work / "out")
        time.sleep(1)
    return images


def test_two_builds_of_one_commit_are_the_same_bytes(two_builds):
    for name in RELEASE_FILES:
        assert (two_builds[0] / name).read_bytes() == (two_builds[1] / name).read_bytes(), name
    first = (two_builds[0] / "Vantrel.exe").read_bytes()
    image = pefile.PE(data=first, fast_load=True)
    assert image.FILE_HEADER.TimeDateStamp == 1767225600
    assert image.OPTIONAL_HEADER.CheckSum == image.generate_checksum()
    assert str(REPO).encode() not in first and b"a build folder" not in first
    digest = (two_builds[0] / "Vantrel.exe.sha256").read_text()
    assert digest.endswith("  Vantrel.exe\n") and len(digest.split()[0]) == 64


@pytest.mark.parametrize("check", pe_image.HARDENING_CHECKS.values(),
                         ids=pe_image.HARDENING_CHECKS.keys())
def test_the_production_image_is_hardened(two_builds, check):
    check(pefile.PE(str(two_builds[0] / "Vantrel.exe")))


@pytest.fixture
def code_signing(tmp_path) -> tuple[Path, Path, Path]:
    """A CA, and a code-signing certificate it issued, as a password-protected PKCS#12 file."""
    if shutil.which("osslsigncode") is None or shutil.which("openssl") is None:
        pytest.skip("osslsigncode and openssl are needed to sign")

    def openssl(*args):
        subprocess.run(["openssl", *map(str, args)], check=True, capture_output=True)

    ca_key, ca, key, request, cert = (tmp_path / n for n in
                                      ("ca.key", "ca.pem", "sign.key", "sign.csr", "sign.pem"))
    extensions = tmp_path / "ext.cnf"
    extensions.write_text("basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\n"
                          "extendedKeyUsage=codeSigning\n")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca,
            "-days", "2", "-subj", "/CN=Vantrel test signing CA")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", request,
            "-subj", "/CN=Orvanis test publisher")
    openssl("x509", "-req", "-in", request, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial",
            "-out", cert, "-days", "1", "-extfile", extensions)
    bundle, password = tmp_path / "sign.p12", tmp_path / "password"
    password.write_text(PASSWORD)
    openssl("pkcs12", "-export", "-inkey", key, "-in", cert, "-certfile", ca, "-out", bundle,
            "-passout", f"pass:{PASSWORD}")
    return bundle, password, ca


def test_a_signed_release_verifies_and_unsigns_to_the_same_bytes(two_builds, code_signing,
                                                                 tmp_path):
    bundle, password, ca = code_signing
    unsigned = two_builds[0] / "Vantrel.exe"
    done = release("--image", unsigned, "--out", tmp_path / "signed", "--sign", bundle,
                   "--password-file", password, "--ca-file", ca, tmp=tmp_path)
    assert done.returncode == 0, done.stderr
    signed = tmp_path / "signed" / "Vantrel.exe"
    assert signed.read_bytes() != unsigned.read_bytes()
    check = subprocess.run(["osslsigncode", "verify", "-in", signed, "-CAfile", ca],
                           capture_output=True, text=True)
    assert check.returncode == 0, check.stdout + check.stderr
    stripped = tmp_path / "stripped.exe"
    subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", stripped],
                   check=True, capture_output=True)
    assert stripped.read_bytes() == unsigned.read_bytes()
    sbom = check_release_files(tmp_path / "signed")
    assert sbom["components"] == json.loads(
        (two_builds[0] / "Vantrel.exe.cdx.json").read_text())["components"]
    assert (tmp_path / "signed" / "THIRD-PARTY-NOTICES.txt").read_bytes() == (
        two_builds[0] / "THIRD-PARTY-NOTICES.txt").read_bytes()

    other_ca = tmp_path / "other-ca.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                    tmp_path / "other.key", "-out", other_ca, "-days", "1", "-subj", "/CN=Other"],
                   check=True, capture_output=True)
    refused = release("--image", unsigned, "--out", tmp_path / "refused", "--sign", bundle,
                      "--password-file", password, "--ca-file", other_ca, tmp=tmp_path)
    assert refused.returncode == 1 and "does not verify" in refused.stderr
    assert not (tmp_path / "refused" / "Vantrel.exe").exists()


def validate_cyclonedx(document: dict) -> None:
    """Against the official CycloneDX 1.5 schema, its references resolved to the shipped files."""
    jsonschema = pytest.importorskip("jsonschema")
    main = CYCLONEDX_SCHEMAS / "bom-1.5.SNAPSHOT.schema.json"
    if not main.is_file():
        pytest.skip(f"{main} is missing (scripts/setup installs it)")
    schema = json.loads(main.read_text())
    store = {urljoin(schema["$id"], f.name): json.loads(f.read_text())
             for f in CYCLONEDX_SCHEMAS.glob("*.schema.json")}
    validator = jsonschema.Draft7Validator(
        schema, resolver=jsonschema.RefResolver.from_schema(schema, store=store),
        format_checker=jsonschema.draft7_format_checker)
    validator.validate(document)
    broken = json.loads(json.dumps(document))
    broken["components"][0]["hashes"][0]["alg"] = "SHA-257"
    assert not validator.is_valid(broken)


def check_release_files(folder: Path) -> dict:
    """SHA256SUMS covers the folder, the SBOM is valid and describes the image, and the notices
    list the SBOM's components with their texts; returns the SBOM."""
    listed = (folder / "SHA256SUMS").read_text()
    assert sorted(re.findall(r"^[0-9a-f]{64}  (.+)$", listed, re.M)) == sorted(
        f.name for f in folder.iterdir() if f.name != "SHA256SUMS")
    check = subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=folder,
                           capture_output=True, text=True)
    assert check.returncode == 0, check.stdout + check.stderr

    sbom = json.loads((folder / "Vantrel.exe.cdx.json").read_text())
    validate_cyclonedx(sbom)
    image = hashlib.sha256((folder / "Vantrel.exe").read_bytes()).hexdigest()
    assert sbom["metadata"]["component"]["hashes"] == [{"alg": "SHA-256", "content": image}]
    assert sbom["metadata"]["timestamp"] == "2026-01-01T00:00:00Z"
    notices = (folder / "THIRD-PARTY-NOTICES.txt").read_text()
    sections = re.split(r"^={78}\n", notices, flags=re.M)[1:]
    assert len(sections) == len(sbom["components"])
    for component, section in zip(sbom["components"], sections):
        assert section.startswith(f"{component['name']} {component['version']}\n")
        assert re.fullmatch(r"pkg:deb/debian/[a-z0-9.+-]+@[^@?]+\?arch=source", component["purl"])
        exempt = "GCC-exception" in component["licenses"][0]["expression"]
        assert ("no notice is required" in section) == exempt, component["name"]
        assert ("--- debian/copyright ---" in section) != exempt, component["name"]
    return sbom


def test_the_release_lists_its_components_and_checksums(two_builds):
    sbom = check_release_files(two_builds[0])
    assert {"libarchive", "libsodium", "zlib", "nlohmann-json", "mingw-w64"} <= {
        component["name"] for component in sbom["components"]}
