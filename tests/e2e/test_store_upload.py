"""A release deployed with `vantrel-release upload` to a real object store (a one-node Swift)
behind nginx as the CDN on port 443, and installed from there by `Vantrel.exe --console`."""

from __future__ import annotations

import os
import shutil
import subprocess
from pathlib import Path

import pytest

from support import nginx_host, releases, swift_store
from test_console import clean  # noqa: F401 - fixture
from test_update import programs  # noqa: F401 - fixture

BUCKET = "releases"
PUBLIC_KEY = releases.REPO / "tests" / "keys" / "release-test.pub"


@pytest.fixture
def store_front(certificate_authority, tmp_path):
    """The store and, at https://localhost/, nginx serving its public bucket."""
    reason = swift_store.available()
    if reason:
        pytest.skip(reason)
    if not Path(nginx_host.NGINX).is_file():
        pytest.skip(f"{nginx_host.NGINX} is missing: scripts/setup installs nginx")
    if not certificate_authority.trusted_by_system():
        pytest.skip("the test CA is not in the system bundle, so WinHTTP under Wine would refuse "
                    "the front (scripts/test bind-mounts a bundle that holds it)")
    if os.geteuid() != 0:
        pytest.skip("binding port 443 needs root (scripts/test gives each worker its own network)")
    store = swift_store.start(tmp_path / "swift", BUCKET)
    try:
        front = nginx_host.start(tmp_path / "nginx", None, certificate_authority, port=443,
                                 upstream=store.endpoint + store.public_path(BUCKET))
    except RuntimeError:
        store.stop()
        raise
    yield store
    front.stop()
    store.stop()


def console(wine, exe: Path, folder: Path) -> int:
    """`exe --console` with files for its output; waits until every program has ended."""
    with (folder / "out").open("wb") as out, (folder / "err").open("wb") as err:
        result = subprocess.run(["wine", exe, "--console"], stdin=subprocess.DEVNULL, stdout=out,
                                stderr=err, env=wine.environment(), timeout=120)
    subprocess.run(["wineserver", "-w"], env=wine.environment(), timeout=120, check=False)
    return result.returncode


def test_publish_upload_check_install_then_roll_back(store_front, release_tool, programs,
                                                     clean, wine, vantrel_exe,
                                                     certificate_authority, tmp_path):
    store = store_front
    tree = tmp_path / "tree"
    fixture = programs / "fixture_launcher.exe"
    older = releases.publish_fixture(release_tool, fixture, tree, "1.0.0", scratch=tmp_path)
    newer = releases.publish_fixture(release_tool, fixture, tree, "1.1.0", scratch=tmp_path)

    def tool(*args):
        done = subprocess.run([release_tool, *map(str, args)], capture_output=True, text=True,
                              env={**os.environ, **store.credentials}, timeout=300)
        assert done.returncode == 0, done.stdout + done.stderr
        return done.stdout

    def upload():
        return tool("upload", "--key", PUBLIC_KEY, "--endpoint", store.endpoint, "--public-url",
                    "https://localhost", "--ca-file", certificate_authority.ca_certificate, tree,
                    f"s3://{BUCKET}")

    assert "The public URL served release 1.1.0 after " in upload()
    assert "installs launcher 1.1.0" in tool("check", "--key", PUBLIC_KEY, "--ca-file",
                                              certificate_authority.ca_certificate,
                                              "https://localhost")
    download = tmp_path / "Downloads" / "Vantrel.exe"
    download.parent.mkdir()
    shutil.copyfile(vantrel_exe, download)
    assert console(wine, download, tmp_path) == 0, (tmp_path / "err").read_bytes()
    launcher = clean / "bin" / "vantrel-launcher.exe"
    assert launcher.read_bytes() == newer

    tool("promote", "--key", PUBLIC_KEY, "--version", "1.0.0", tree)
    rolled_back = [line.split()[:2] for line in upload().splitlines()
                   if line.startswith("uploaded")]
    assert rolled_back == [["uploaded", "vantrel/launcher/stable/manifest.json"]]
    assert console(wine, clean / "Vantrel.exe", tmp_path) == 0, (tmp_path / "err").read_bytes()
    assert launcher.read_bytes() == older
