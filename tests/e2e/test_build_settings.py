"""The download host and the release key are build settings: the key file given at configure
time is what the program carries, and a production configuration refuses to guess either."""

from __future__ import annotations

import os
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
KEYS = REPO / "tests" / "keys"
BUILD_DIR = Path(os.environ.get("VANTREL_BUILD_DIR", REPO / "build" / "windows"))


def built_in_form(key_file: Path) -> bytes:
    """The key text as the program carries it: CR LF line ends."""
    text = key_file.read_bytes().replace(b"\r\n", b"\n")
    return text.replace(b"\n", b"\r\n")


def configure(tmp_path: Path, preset: str, *settings: str) -> subprocess.CompletedProcess:
    return subprocess.run(
        ["cmake", "--preset", preset, "-B", str(tmp_path / "build"), *settings],
        cwd=REPO,
        capture_output=True,
        text=True,
        timeout=300,
    )


@pytest.mark.parametrize(
    "settings, message",
    [
        ([], "A production build needs"),
        (["-DVANTREL_DOWNLOAD_HOST=downloads.example.com"], "A production build needs"),
        ([f"-DVANTREL_RELEASE_KEY={KEYS / 'other-test.pub'}"], "A production build needs"),
        (
            ["-DVANTREL_DOWNLOAD_HOST=downloads.example.com",
             f"-DVANTREL_RELEASE_KEY={KEYS / 'release-test.pub'}"],
            "may not use the test release key",
        ),
        (
            ["-DVANTREL_DOWNLOAD_HOST=bad host",
             f"-DVANTREL_RELEASE_KEY={KEYS / 'other-test.pub'}"],
            "is not a host name",
        ),
        (
            ["-DVANTREL_DOWNLOAD_HOST=downloads.example.com",
             f"-DVANTREL_RELEASE_KEY={KEYS / 'missing.pub'}"],
            "names no file",
        ),
    ],
)
def test_production_configuration_refuses_missing_or_test_settings(tmp_path, settings, message):
    result = configure(tmp_path, "production", *settings)
    assert result.returncode != 0
    assert message in result.stderr


def with_crlf(text: bytes) -> bytes:
    return text.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def with_comment(text: bytes) -> bytes:
    return b"untrusted comment: our own release key\n" + text.split(b"\n", 1)[1]


def without_key_line(text: bytes) -> bytes:
    return text.split(b"\n", 1)[0] + b"\nRWS0L4NXDpJHAVAf7RMx\n"


@pytest.mark.parametrize(
    "variant, message",
    [
        (with_crlf, "may not use the test release key"),
        (with_comment, "may not use the test release key"),
        (lambda text: with_crlf(with_comment(text)) + b"\r\n", "may not use the test release key"),
        (without_key_line, "is not a minisign public key"),
    ],
    ids=["CR LF", "other comment", "both and a blank line", "no key line"],
)
def test_production_configuration_refuses_the_test_key_in_any_form(tmp_path, variant, message):
    key = tmp_path / "release.pub"
    key.write_bytes(variant((KEYS / "release-test.pub").read_bytes()))
    result = configure(tmp_path, "production", "-DVANTREL_DOWNLOAD_HOST=downloads.example.com",
                       f"-DVANTREL_RELEASE_KEY={key}")
    assert result.returncode != 0
    assert message in result.stderr


def test_production_configuration_takes_another_key_with_crlf(tmp_path):
    key = tmp_path / "release.pub"
    key.write_bytes(with_crlf((KEYS / "other-test.pub").read_bytes()))
    result = configure(tmp_path, "production", "-DVANTREL_DOWNLOAD_HOST=downloads.example.com",
                       f"-DVANTREL_RELEASE_KEY={key}")
    assert result.returncode == 0, result.stderr


def test_another_key_is_built_in(tmp_path):
    other = KEYS / "other-test.pub"
    result = configure(tmp_path, "native", f"-DVANTREL_RELEASE_KEY={other}",
                       "-DVANTREL_DOWNLOAD_HOST=updates.example.net")
    assert result.returncode == 0, result.stderr
    build = subprocess.run(
        ["cmake", "--build", str(tmp_path / "build"), "--target", "vantrel_build_settings"],
        capture_output=True, text=True, timeout=300,
    )
    assert build.returncode == 0, build.stdout + build.stderr
    library = (tmp_path / "build" / "libvantrel_build_settings.a").read_bytes()
    assert built_in_form(other) in library
    assert built_in_form(KEYS / "release-test.pub") not in library
    assert b"updates.example.net" in library


def test_development_exe_carries_the_test_key():
    exe = BUILD_DIR / "Vantrel.exe"
    if not exe.exists():
        pytest.skip(f"{exe} is not built")
    assert built_in_form(KEYS / "release-test.pub") in exe.read_bytes()
