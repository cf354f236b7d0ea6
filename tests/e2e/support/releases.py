"""Releases of the fixture launcher, published with the release tool and the test key.

A copy of build/windows/tests/programs/fixture_launcher.exe carries its release in a trailer
after the image (tests/programs/fixture_launcher_modes.hpp): the marker, the version it answers
to --version, one space, a mode (empty for the plain answer) and a line feed.
"""

from __future__ import annotations

import subprocess
from pathlib import Path

REPO = Path(__file__).resolve().parents[3]
RELEASE_TEST_KEY = REPO / "tests" / "keys" / "release-test.key"
TRAILER_MARKER = b"\nvantrel-fixture-release "


def fixture_launcher(fixture: Path, version: str, mode: str = "") -> bytes:
    """The fixture launcher's bytes with a trailer that makes it release `version`."""
    return fixture.read_bytes() + TRAILER_MARKER + f"{version} {mode}\n".encode()


def publish(release_tool: Path, tree: Path, version: str, launcher: Path) -> None:
    """Publishes `launcher` as `version` into the release tree, replacing that version."""
    subprocess.run(
        [release_tool, "publish", "--secret", RELEASE_TEST_KEY, "--version", version,
         "--launcher", launcher, "--out", tree, "--force"],
        check=True, capture_output=True,
    )  # fmt: skip


def publish_fixture(release_tool: Path, fixture: Path, tree: Path, version: str,
                    mode: str = "", scratch: Path | None = None) -> bytes:
    """Publishes a release of the fixture launcher; returns the launcher's bytes.

    The launcher file is written to `scratch` (default: the tree's parent folder).
    """
    launcher = fixture_launcher(fixture, version, mode)
    file = (scratch or tree.parent) / f"launcher-{version}.exe"
    file.write_bytes(launcher)
    publish(release_tool, tree, version, file)
    return launcher
