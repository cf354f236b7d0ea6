"""The publisher's release tool against the setup's rules and the real minisign."""

from __future__ import annotations

import base64
import hashlib
import io
import json
import re
import subprocess
import tarfile
from pathlib import Path

import pytest

from conftest import (
    FIXED_TIME,
    KEYS,
    LAUNCHER_NAME,
    Tools,
    Tree,
    artifact_names,
    fake_launcher,
    last_line,
    manifest_of,
    minisign_release,
    publish,
)

NOT_EXECUTABLE = "Extraction failed: Launcher is not a Windows x86_64 executable."
SIGNATURE_FAILED = "Verification failed: The signature verification failed"


def keygen(tools: Tools, folder: Path, name: str = "release") -> tuple[Path, Path]:
    public, secret = folder / f"{name}.pub", folder / f"{name}.key"
    result = tools.run("keygen", "--public", public, "--secret", secret)
    assert result.returncode == 0, result.stderr
    return public, secret


def files_under(root: Path) -> list[str]:
    return sorted(str(p.relative_to(root)) for p in root.rglob("*") if p.is_file())


# --- command line -------------------------------------------------------------------------------

@pytest.mark.parametrize("command, promise", [
    ("keygen", "unencrypted"),
    ("publish", "encrypted with a"),
    ("verify", "DIR/vantrel/launcher/<version>/"),
    ("check", "https://HOST:PORT for a staging host"),
    ("promote", "Rolling back is promoting an older release."),
    ("list", '"stable" for the release'),
])
def test_help_describes_each_command(tools, command, promise):
    result = tools.run(command, "--help")
    assert result.returncode == 0
    assert result.stdout.decode().startswith(f"Usage: vantrel-release {command}")
    assert promise in result.stdout.decode()


@pytest.mark.parametrize("args, complaint", [
    ([], "no command given"),
    (["sign"], 'unknown command "sign"'),
    (["keygen"], "missing option --public"),
    (["keygen", "--public"], "a value is needed after --public"),
    (["keygen", "--public", "a", "--secret", "b", "--public", "c"], "repeated option --public"),
    (["keygen", "--public", "a", "--secret", "b", "--force=yes"], "no value is taken by --force"),
    (["keygen", "--public", "a", "--secret", "b", "stray"], "expected 0 operand(s), got 1"),
    (["publish", "--secret", "k", "--version", "1.2.3", "--launcher", "l"], "missing option --out"),
    (["verify", "--key", "k.pub"], "expected 1 operand(s), got 0"),
    (["verify", "--key", "k.pub", "a", "b"], "expected 1 operand(s), got 2"),
    (["verify", "--key", "k.pub", "--sig", "s", "d"], "unknown option --sig"),
])
def test_usage_errors_exit_2_with_the_usage_text(tools, tmp_path, args, complaint):
    result = tools.run(*args, cwd=tmp_path)
    assert result.returncode == 2
    stderr = result.stderr.decode()
    assert f"vantrel-release: {complaint}\n" in stderr
    assert "Usage: vantrel-release" in stderr
    assert list(tmp_path.iterdir()) == []


# --- keygen -------------------------------------------------------------------------------------

def test_keygen_keys_work_with_minisign_both_ways(tools, tmp_path):
    public, secret = keygen(tools, tmp_path)
    assert secret.stat().st_mode & 0o777 == 0o600
    assert public.read_text().startswith("untrusted comment: minisign public key ")

    # minisign signs with the tool's secret key and checks against its public key.
    data = tmp_path / "data.bin"
    data.write_bytes(b"signed by minisign with a vantrel-release key\n")
    tools.minisign_sign(secret, data, tmp_path / "data.minisig")
    checked = tools.minisign_verify(public, data, tmp_path / "data.minisig")
    assert checked.returncode == 0, checked.stderr

    # What the tool signs with it passes minisign -V.
    tree = Tree(tmp_path / "tree", "1.0.0")
    assert publish(tools, secret, "1.0.0", fake_launcher(), tree.root).returncode == 0
    for data_file, signature in ((0, 2), (1, 3)):
        checked = tools.minisign_verify(public, tree.file(data_file), tree.file(signature))
        assert checked.returncode == 0, checked.stderr


def test_keygen_makes_a_new_key_each_time(tools, tmp_path):
    first, _ = keygen(tools, tmp_path, "first")
    second, _ = keygen(tools, tmp_path, "second")
    assert first.read_text().splitlines()[1] != second.read_text().splitlines()[1]


@pytest.mark.parametrize("existing", ["release.pub", "release.key"])
def test_keygen_leaves_existing_files_unless_forced(tools, tmp_path, existing):
    (tmp_path / existing).write_text("keep me\n")
    args = ("keygen", "--public", tmp_path / "release.pub", "--secret", tmp_path / "release.key")
    refused = tools.run(*args)
    assert refused.returncode == 1
    assert last_line(refused.stderr) == f"{tmp_path / existing}: already exists (--force replaces it)"
    assert files_under(tmp_path) == [existing]
    assert (tmp_path / existing).read_text() == "keep me\n"

    assert tools.run(*args, "--force").returncode == 0
    assert files_under(tmp_path) == ["release.key", "release.pub"]
    assert (tmp_path / existing).read_text() != "keep me\n"


# --- publish ------------------------------------------------------------------------------------

def test_publish_writes_the_tree_the_setup_downloads(tools, tmp_path):
    public, secret = keygen(tools, tmp_path)
    launcher = fake_launcher(70000)
    tree = Tree(tmp_path / "out", "1.4.0")
    result = publish(tools, secret, "1.4.0", launcher, tree.root)
    assert result.returncode == 0, result.stderr

    names = artifact_names("1.4.0")
    assert files_under(tree.root) == sorted(
        [f"vantrel/launcher/1.4.0/{name}" for name in names]
        + ["vantrel/launcher/stable/manifest.json"])
    assert json.loads(tree.manifest.read_text()) == manifest_of("1.4.0")

    package = tree.file(0).read_bytes()
    assert tree.file(1).read_bytes() == (
        f"{hashlib.sha256(package).hexdigest()}  {names[0]}\n".encode())
    checked = subprocess.run(["sha256sum", "-c", names[1]], cwd=tree.folder, capture_output=True)
    assert checked.returncode == 0, checked.stderr

    for data_file, signature in ((0, 2), (1, 3)):
        checked = tools.minisign_verify(public, tree.file(data_file), tree.file(signature))
        assert checked.returncode == 0, checked.stderr
        assert (f"Trusted comment: timestamp:{FIXED_TIME}\tfile:{names[data_file]}\thashed"
                in checked.stdout)
        assert base64.b64decode(tree.file(signature).read_text().splitlines()[1])[:2] == b"ED"

    with tarfile.open(fileobj=io.BytesIO(package), mode="r:gz") as archive:
        members = archive.getmembers()
        assert [(m.name, m.isreg(), m.mode, m.mtime) for m in members] == [
            (LAUNCHER_NAME, True, 0o644, 0)]
        assert archive.extractfile(members[0]).read() == launcher

    extracted = tmp_path / "extracted.exe"
    verified = tools.run("verify", "--key", public, "--extract", extracted, tree.root)
    assert verified.returncode == 0, verified.stderr
    assert extracted.read_bytes() == launcher


def test_publish_is_deterministic_for_a_fixed_time(tools, tmp_path):
    _, secret = keygen(tools, tmp_path)
    launcher = fake_launcher(20000)
    first, second = Tree(tmp_path / "a", "2.0.1"), Tree(tmp_path / "b", "2.0.1")
    for tree in (first, second):
        assert publish(tools, secret, "2.0.1", launcher, tree.root).returncode == 0
    for index in range(4):
        assert first.file(index).read_bytes() == second.file(index).read_bytes()


def test_publish_signs_with_a_key_made_by_minisign(tools, tmp_path):
    tree = Tree(tmp_path / "out", "3.1.4")
    assert publish(tools, KEYS / "release-test.key", "3.1.4", fake_launcher(),
                   tree.root).returncode == 0
    assert tools.run("verify", "--key", KEYS / "release-test.pub", tree.root).returncode == 0
    checked = tools.minisign_verify(KEYS / "release-test.pub", tree.file(0), tree.file(2))
    assert checked.returncode == 0, checked.stderr


@pytest.mark.parametrize("version", [
    "1.2", "1.2.3.4", "v1.2.3", "1.2.x", "1..3", ".1.2", "1.2.3-rc1", "1" * 24 + "." + "2" * 22 + ".3",
])
def test_publish_refuses_a_version_the_setup_refuses(tools, tmp_path, version):
    result = publish(tools, KEYS / "release-test.key", version, fake_launcher(), tmp_path / "out")
    assert result.returncode == 1
    assert last_line(result.stderr).startswith(f'version "{version}" would be refused by the setup')
    assert not (tmp_path / "out").exists()


@pytest.mark.parametrize("launcher", [
    pytest.param(b"#!/bin/sh\necho not a launcher\n" * 4, id="script"),
    pytest.param(fake_launcher(machine=0x014C), id="x86-32"),
    pytest.param(fake_launcher(machine=0xAA64), id="arm64"),
    pytest.param(fake_launcher(size=63, pe_offset=40), id="63-bytes"),
    pytest.param(fake_launcher(size=200, pe_offset=196), id="pe-header-past-end"),
])
def test_publish_refuses_a_launcher_that_is_not_x86_64(tools, tmp_path, launcher):
    result = publish(tools, KEYS / "release-test.key", "1.0.0", launcher, tmp_path / "out")
    assert result.returncode == 1
    assert last_line(result.stderr) == NOT_EXECUTABLE
    assert not (tmp_path / "out").exists()


def test_publish_replaces_a_published_version_only_when_forced(tools, tmp_path):
    key = KEYS / "release-test.key"
    tree = Tree(tmp_path / "out", "1.0.0")
    assert publish(tools, key, "1.0.0", fake_launcher(), tree.root).returncode == 0
    before = tree.file(0).read_bytes()

    refused = publish(tools, key, "1.0.0", fake_launcher(), tree.root)
    assert refused.returncode == 1
    assert last_line(refused.stderr) == (
        f"release 1.0.0 is already in {tree.folder} (--force replaces it)")
    assert tree.file(0).read_bytes() == before

    newer = fake_launcher()
    assert publish(tools, key, "1.0.0", newer, tree.root, "--force").returncode == 0
    extracted = tmp_path / "now.exe"
    assert tools.run("verify", "--key", KEYS / "release-test.pub", "--extract", extracted,
                     tree.root).returncode == 0
    assert extracted.read_bytes() == newer


def test_publish_of_a_new_version_moves_the_manifest_and_keeps_the_old_files(tools, tmp_path):
    key = KEYS / "release-test.key"
    root = tmp_path / "out"
    assert publish(tools, key, "1.0.0", fake_launcher(), root).returncode == 0
    assert publish(tools, key, "1.1.0", fake_launcher(), root).returncode == 0
    assert json.loads(Tree(root, "1.1.0").manifest.read_text())["version"] == "1.1.0"
    assert Tree(root, "1.0.0").file(0).is_file()
    assert not [p for p in root.rglob(".*")], "temporary files were left behind"


def test_publish_refuses_a_package_above_the_setup_limit(tools, tmp_path):
    # Random bytes do not compress: 33 MiB of launcher make a package above 32 MiB.
    result = publish(tools, KEYS / "release-test.key", "1.0.0", fake_launcher(33 * 1024 * 1024),
                     tmp_path / "out")
    assert result.returncode == 1
    assert last_line(result.stderr) == "Verification failed: Package exceeds the setup size limit."
    assert not (tmp_path / "out").exists()


def damage_key_line(offset: int):
    def damage(text: str) -> str:
        comment, line = text.splitlines()[:2]
        blob = bytearray(base64.b64decode(line))
        blob[offset] ^= 0x01
        return f"{comment}\n{base64.b64encode(bytes(blob)).decode()}\n"
    return damage


# The decoded secret-key line: algorithms (6), salt (32), limits (16), key id (8), secret key
# (64: seed, public key), checksum (32).
@pytest.mark.parametrize("source, damage, complaint", [
    ("keygen", damage_key_line(130), "the secret key's checksum does not match"),
    ("keygen", damage_key_line(70), "the secret key's checksum does not match"),
    ("minisign", damage_key_line(100), "the secret key is damaged: its public half does not match"),
    ("minisign", damage_key_line(0), "unsupported secret key algorithm"),
    ("minisign", lambda text: text.splitlines()[0] + "\n", "not a minisign secret key"),
])
def test_publish_refuses_a_damaged_secret_key(tools, tmp_path, source, damage, complaint):
    if source == "keygen":
        _, original = keygen(tools, tmp_path)
    else:
        original = KEYS / "release-test.key"
    secret = tmp_path / "damaged.key"
    secret.write_text(damage(original.read_text()))
    result = publish(tools, secret, "1.0.0", fake_launcher(), tmp_path / "out")
    assert result.returncode == 1
    assert last_line(result.stderr) == f"{secret}: {complaint}"
    assert not (tmp_path / "out").exists()


def test_publish_reads_a_password_encrypted_minisign_key(tools, tmp_path):
    # minisign derives the key with scrypt at 1 GiB: this test takes some seconds.
    public, secret = tmp_path / "locked.pub", tmp_path / "locked.key"
    subprocess.run([tools.minisign, "-G", "-p", public, "-s", secret], input=b"letmein\nletmein\n",
                   check=True, capture_output=True, timeout=300)
    tree = Tree(tmp_path / "out", "5.0.0")

    wrong = publish(tools, secret, "5.0.0", fake_launcher(), tree.root, stdin=b"guess\n")
    assert wrong.returncode == 1
    assert last_line(wrong.stderr) == f"{secret}: wrong password for this secret key"
    assert not tree.root.exists()

    right = publish(tools, secret, "5.0.0", fake_launcher(), tree.root, stdin=b"letmein\n")
    assert right.returncode == 0, right.stderr
    assert tools.run("verify", "--key", public, tree.root).returncode == 0


# --- verify -------------------------------------------------------------------------------------

def test_verify_accepts_a_release_made_with_minisign_and_another_tar(tools, tmp_path):
    launcher = fake_launcher(50000)
    tree = minisign_release(tools, tmp_path / "out", "0.9.12", launcher)
    extracted = tmp_path / "launcher.exe"
    result = tools.run("verify", "--key", KEYS / "release-test.pub", "--extract", extracted,
                       tree.root)
    assert result.returncode == 0, result.stderr
    assert extracted.read_bytes() == launcher

    # The manifest can be given apart from the tree.
    moved = tmp_path / "elsewhere.json"
    tree.manifest.rename(moved)
    assert tools.run("verify", "--key", KEYS / "release-test.pub", "--manifest", moved,
                     tree.root).returncode == 0


def flip_byte(path: Path, offset: int) -> None:
    data = bytearray(path.read_bytes())
    data[offset] ^= 0x01
    path.write_bytes(bytes(data))


def flip_signature_byte(path: Path) -> None:
    lines = path.read_text().split("\n")
    decoded = bytearray(base64.b64decode(lines[1]))
    decoded[40] ^= 0x01  # inside the Ed25519 signature, after algorithm and key id
    lines[1] = base64.b64encode(bytes(decoded)).decode()
    path.write_text("\n".join(lines))


def edit_trusted_comment(path: Path) -> None:
    text = path.read_text()
    assert "\ntrusted comment: " in text
    path.write_text(text.replace("\ntrusted comment: ", "\ntrusted comment: edited ", 1))


def resign_with(tools: Tools, key: Path, legacy: bool = False):
    def resign(tree: Tree) -> None:
        tools.minisign_sign(key, tree.file(0), tree.file(2), legacy=legacy)
    return resign


def resign_checksum(tools: Tools, text):
    def resign(tree: Tree) -> None:
        tree.file(1).write_text(text(tree))
        tools.minisign_sign(KEYS / "release-test.key", tree.file(1), tree.file(3))
    return resign


def rename_archive_in_manifest(tree: Tree) -> None:
    manifest = json.loads(tree.manifest.read_text())
    manifest["platforms"]["windows_x86_64"]["archive"] = "launcher.tar.gz"
    tree.manifest.write_text(json.dumps(manifest))


def uppercase_digest(tree: Tree) -> str:
    digest, name = tree.file(1).read_text().split()
    return f"{digest.upper()}  {name}\n"


VERIFY_FAILURES = [
    ("package-byte", lambda tools: lambda tree: flip_byte(tree.file(0), 100), SIGNATURE_FAILED),
    ("checksum-byte", lambda tools: lambda tree: flip_byte(tree.file(1), 3), SIGNATURE_FAILED),
    ("signature-byte", lambda tools: lambda tree: flip_signature_byte(tree.file(2)),
     SIGNATURE_FAILED),
    ("trusted-comment", lambda tools: lambda tree: edit_trusted_comment(tree.file(3)),
     SIGNATURE_FAILED),
    ("legacy-signature", lambda tools: resign_with(tools, KEYS / "release-test.key", legacy=True),
     "Verification failed: Unexpected signature algorithm"),
    ("other-key", lambda tools: resign_with(tools, KEYS / "other-test.key"),
     "Verification failed: The signature was created with a different key than the one provided"),
    ("signed-wrong-digest", lambda tools: resign_checksum(tools, uppercase_digest),
     "Verification failed: SHA-256 checksum or archive filename does not match."),
    ("signed-other-name", lambda tools: resign_checksum(
        tools, lambda tree: tree.file(1).read_text().replace("  ", "  ./")),
     "Verification failed: SHA-256 checksum or archive filename does not match."),
    ("manifest-names", lambda tools: rename_archive_in_manifest,
     "Manifest failed: Windows x86_64 artifact names are invalid."),
    ("manifest-json", lambda tools: lambda tree: tree.manifest.write_text('{"schema": 1,'),
     re.compile(r"Manifest failed: .+ at line 1 column \d+")),
    ("missing-signature", lambda tools: lambda tree: tree.file(3).unlink(),
     None),
]


@pytest.mark.parametrize("change, expected", [(c[1], c[2]) for c in VERIFY_FAILURES],
                         ids=[c[0] for c in VERIFY_FAILURES])
def test_verify_refuses_a_changed_release_with_the_setup_message(tools, tmp_path, change,
                                                                  expected):
    tree = minisign_release(tools, tmp_path / "out", "1.0.0", fake_launcher())
    change(tools)(tree)
    extracted = tmp_path / "launcher.exe"
    result = tools.run("verify", "--key", KEYS / "release-test.pub", "--extract", extracted,
                       tree.root)
    assert result.returncode == 1
    if expected is None:
        assert last_line(result.stderr) == f"{tree.file(3)}: No such file or directory"
    elif isinstance(expected, re.Pattern):
        assert expected.fullmatch(last_line(result.stderr)), result.stderr
    else:
        assert last_line(result.stderr) == expected
    assert not extracted.exists()


def test_verify_refuses_legacy_signatures_from_minisign(tools, tmp_path):
    tree = minisign_release(tools, tmp_path / "out", "1.0.0", fake_launcher(), legacy=True)
    result = tools.run("verify", "--key", KEYS / "release-test.pub", tree.root)
    assert result.returncode == 1
    assert last_line(result.stderr) == "Verification failed: Unexpected signature algorithm"


@pytest.mark.parametrize("key_text, expected", [
    ("untrusted comment: nothing else\n", "Verification failed: Invalid encoding in minisign data"),
    ("untrusted comment: x\n" + base64.b64encode(b"Xx" + bytes(40)).decode() + "\n",
     "Verification failed: This signature algorithm is not supported by this implementation"),
])
def test_verify_refuses_an_unusable_key(tools, tmp_path, key_text, expected):
    tree = minisign_release(tools, tmp_path / "out", "1.0.0", fake_launcher())
    key = tmp_path / "bad.pub"
    key.write_text(key_text)
    # check and upload decode the key before they reach any host
    operands = {"verify": [tree.root], "check": ["https://localhost:1"],
                "upload": ["--dry-run", tree.root, "s3://bucket"]}
    for command, rest in operands.items():
        result = tools.run(command, "--key", key, *rest)
        assert result.returncode == 1, command
        assert last_line(result.stderr) == f"{key}: {expected}", command
