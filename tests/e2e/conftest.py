"""Fixtures of the end-to-end tests.

scripts/test runs these tests inside a private mount and network namespace, with a test CA added
to the CA bundle that Wine reads, a booted Wine prefix and an Xvfb display, and passes them on:

    VANTREL_WINEPREFIX   the session's Wine prefix (else a temporary one is made here)
    VANTREL_DISPLAY      the X display (else a temporary Xvfb is started here)
                         Under pytest-xdist both are lists, separated by spaces, with one entry
                         per worker: gwN takes entry N, so no worker sees another's prefix or windows.
    VANTREL_TEST_CA_DIR  the test CA and the localhost certificate (else made here; Wine then
                         does not trust it and the tests that need HTTPS under Wine skip)
    VANTREL_BUILD_DIR    the Windows build folder (default build/windows)
    VANTREL_NATIVE_BUILD_DIR  the native build folder with vantrel-release (default build/native)
    VANTREL_WINDOWS_BUILD_FAILED  set when the Windows build failed: Vantrel.exe is stale
"""

from __future__ import annotations

import errno
import os
import shutil
from pathlib import Path

import pytest

from support import certificates, display, prefix
from support.https_server import HttpsServer
from support.wine import Wine

REPO = Path(__file__).resolve().parents[2]


def worker_setting(name: str) -> str | None:
    """This worker's entry of the setting's list (the first one without pytest-xdist)."""
    entries = os.environ.get(name, "").split()
    if not entries:
        return None
    worker = os.environ.get("PYTEST_XDIST_WORKER", "gw0")
    index = int(worker.removeprefix("gw"))
    if index >= len(entries):
        pytest.fail(f"{name} has {len(entries)} entries, too few for worker {worker}")
    return entries[index]


def pytest_collection_modifyitems(items):
    """The grouped cases (minutes of builds) first, so that they overlap the cases that mostly
    wait on Wine rather than end the run alone."""
    items.sort(key=lambda item: item.get_closest_marker("xdist_group") is None)


@pytest.fixture(scope="session")
def session_scratch(tmp_path_factory) -> Path:
    return tmp_path_factory.mktemp("session")


@pytest.fixture(scope="session")
def _display():
    """The session's display, or None when there is none and Xvfb is not installed."""
    given = worker_setting("VANTREL_DISPLAY")
    if given:
        yield display.Xvfb(given)
        return
    if shutil.which("Xvfb") is None:
        yield None
        return
    server = display.start_xvfb()
    yield server
    server.stop()


@pytest.fixture(scope="session")
def xvfb(_display) -> display.Xvfb:
    """The X display for GUI tests: .display is the DISPLAY value, .screenshot(path) saves one."""
    if _display is None:
        pytest.skip("no X display: Xvfb is not installed")
    return _display


@pytest.fixture(scope="session")
def wine_prefix(_display, session_scratch) -> prefix.WinePrefix:
    given = worker_setting("VANTREL_WINEPREFIX")
    if given:
        yield prefix.WinePrefix(Path(given))
        return
    if shutil.which("wine") is None:
        pytest.skip("wine is not installed")
    path = session_scratch / "prefix"
    created = prefix.create_prefix(path, _display.display if _display else None)
    yield created
    prefix.remove_prefix(path)


@pytest.fixture(scope="session")
def wine(wine_prefix, _display, session_scratch) -> Wine:
    """wine([program, *args], cwd=, env=, input=, timeout=) -> CompletedProcess with bytes.

    Also wine.run_command_line(program, exact_command_line), wine.prefix (folders, snapshots),
    wine.kill_all().
    """
    return Wine(wine_prefix, _display.display if _display else None, session_scratch)


def windows_build_file(relative: str) -> Path:
    """A file of the Windows build; skips the test when the build failed or lacks it."""
    if os.environ.get("VANTREL_WINDOWS_BUILD_FAILED"):
        pytest.skip(f"the Windows build failed, so {relative} may be stale")
    build = Path(os.environ.get("VANTREL_BUILD_DIR", REPO / "build" / "windows"))
    file = build / relative
    if not file.is_file():
        pytest.skip(f"{file} is not built (cmake --preset windows && cmake --build --preset windows)")
    return file


@pytest.fixture(scope="session")
def release_tool() -> Path:
    build = Path(os.environ.get("VANTREL_NATIVE_BUILD_DIR", REPO / "build" / "native"))
    tool = build / "vantrel-release"
    if not tool.is_file():
        pytest.skip(f"{tool} is not built (the native preset builds it)")
    return tool


@pytest.fixture(scope="session")
def vantrel_exe() -> Path:
    return windows_build_file("Vantrel.exe")


@pytest.fixture
def vantrel(wine, vantrel_exe):
    """vantrel([args...], **run_options): runs Vantrel.exe under Wine."""

    def run(args=(), **options):
        return wine.run([vantrel_exe, *args], **options)

    return run


@pytest.fixture(scope="session")
def certificate_authority(session_scratch) -> certificates.CertificateAuthority:
    given = os.environ.get("VANTREL_TEST_CA_DIR")
    if given:
        ca = certificates.CertificateAuthority(Path(given))
        if not ca.complete():
            pytest.fail(f"VANTREL_TEST_CA_DIR={given} lacks the CA or server certificate files")
        return ca
    if shutil.which("openssl") is None:
        pytest.skip("openssl is not installed: no test certificates")
    return certificates.create(session_scratch / "ca")


@pytest.fixture
def https_server(certificate_authority, tmp_path):
    """The release server on 127.0.0.1:443 that Wine's WinHTTP trusts, serving tmp_path/tree."""
    if not certificate_authority.trusted_by_system():
        pytest.skip(
            f"the test CA is not in {certificates.SYSTEM_CA_BUNDLE}, so WinHTTP under Wine "
            "would refuse the server (scripts/test bind-mounts a bundle that holds it)"
        )
    root = tmp_path / "tree"
    root.mkdir()
    try:
        server = HttpsServer(
            root, certificate_authority.server_certificate, certificate_authority.server_key
        )
    except PermissionError:
        pytest.skip("binding port 443 needs root")
    except OSError as error:
        if error.errno == errno.EADDRINUSE:
            pytest.skip("port 443 is in use (scripts/test gives each run its own network)")
        raise
    with server:
        yield server
