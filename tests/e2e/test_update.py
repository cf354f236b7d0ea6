"""The launcher update against the HTTPS test server, under Wine.

Each run is tests/programs/update_client.exe: the real update with the user's own install layout
and the build's download host, printing the events it reported and the outcome. Releases are
published with the release tool (build/native/vantrel-release) and the test key; their launcher
is the fixture launcher with a trailer that names its version and behaviour.
"""

from __future__ import annotations

import shutil
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

from conftest import windows_build_file
from support import releases
from support.https_server import MANIFEST_PATH

PROBE_STOPPED = "Launcher version check timed out or returned too much output."


def archive_name(version: str) -> str:
    return f"vantrel-launcher-{version}-x86_64-windows.tar.gz"


@dataclass
class Run:
    events: list[str]
    outcome: list[str]  # "OK", or the ERROR / FAILED line and the text after it
    returncode: int

    @property
    def kinds(self) -> list[str]:
        """The event names, with each run of DownloadProgress as one."""
        kinds: list[str] = []
        for event in self.events:
            kind = event.split()[0]
            if not (kind == "DownloadProgress" and kinds and kinds[-1] == kind):
                kinds.append(kind)
        return kinds


CHECK = ["CheckingForUpdate", "UpdateCheckDone"]
DOWNLOAD = ["DownloadStarted", "DownloadProgress", "DownloadFinished", "Verifying", "Verified"]
INSTALL = ["Installing", "Installed", "StartingLauncher"]


@pytest.fixture(scope="session")
def programs() -> Path:
    return windows_build_file("tests/programs/update_client.exe").parent


@pytest.fixture
def layout(wine, vantrel_exe):
    """The user's launcher folder, emptied of everything the product put there before, next to
    an installed bootstrap (the wizard form points the setup's shortcut at it)."""
    product = wine.prefix.local_appdata / "Vantrel"
    wine.kill_all()  # launchers that earlier tests started still hold their files
    shutil.rmtree(product, ignore_errors=True)
    for shortcut in (wine.prefix.desktop / "Orvanis Launcher.lnk",
                     wine.prefix.programs / "Orvanis Launcher.lnk"):
        shortcut.unlink(missing_ok=True)
    product.mkdir(parents=True)
    shutil.copyfile(vantrel_exe, product / "Vantrel.exe")
    yield product / "bin"
    wine.kill_all()
    shutil.rmtree(product, ignore_errors=True)


@pytest.fixture
def publish(https_server, release_tool, programs, tmp_path):
    """publish(version, mode="") puts a release of the fixture launcher on the server."""

    def run(version: str, mode: str = "") -> bytes:
        return releases.publish_fixture(release_tool, programs / "fixture_launcher.exe",
                                        https_server.root, version, mode, scratch=tmp_path)

    return run


@pytest.fixture
def update(wine, programs, https_server, layout):
    def run(form: str = "console", env: dict[str, str] | None = None, timeout: float = 90) -> Run:
        result = wine.run([programs / "update_client.exe", form], env=env, timeout=timeout)
        assert result.returncode in (0, 1), (result.returncode, result.stdout, result.stderr)
        lines = result.stdout.decode().split("\n")
        assert lines[-1] == "", result.stdout
        events = [line[len("EVENT "):] for line in lines if line.startswith("EVENT ")]
        outcome = [line for line in lines[:-1] if not line.startswith("EVENT ")]
        return Run(events, outcome, result.returncode)

    return run


def files_of(folder: Path) -> dict[str, bytes]:
    if not folder.exists():
        return {}
    return {p.name: p.read_bytes() for p in sorted(folder.iterdir()) if p.is_file()}


def run_folders(folder: Path) -> list[Path]:
    return [p for p in folder.iterdir() if p.is_dir() and p.name.startswith(".launcher-setup-")]


@pytest.mark.parametrize("form", ["console", "wizard"])
def test_first_install_then_up_to_date_then_a_new_release(form, publish, update, layout, wine,
                                                          https_server):
    first = publish("1.0.0")
    run = update(form)
    assert run.outcome == ["OK"]
    assert run.kinds == CHECK + DOWNLOAD + INSTALL
    assert run.events[2] == "DownloadStarted 1.0.0"
    progress = [e for e in run.events if e.startswith("DownloadProgress")]
    assert progress[-1].split()[1] == progress[-1].split()[2], progress
    assert (layout / "vantrel-launcher.exe").read_bytes() == first
    assert (layout / ".launcher-verified-cache").is_file()
    assert (layout / ".launcher-setup.lock").read_bytes() == b""
    assert run_folders(layout) == []
    # The wizard form points the shortcuts at the launcher; the console form leaves them.
    assert (wine.prefix.desktop / "Orvanis Launcher.lnk").exists() == (form == "wizard")

    requests_before = len(https_server.requests)
    again = update(form)
    assert again.outcome == ["OK"]
    assert again.kinds == CHECK + ["StartingLauncher"]
    assert [r.path for r in https_server.requests[requests_before:]] == [MANIFEST_PATH]

    second = publish("1.1.0")
    newer = update(form)
    assert newer.outcome == ["OK"], newer
    assert newer.kinds == CHECK + DOWNLOAD + INSTALL
    assert (layout / "vantrel-launcher.exe").read_bytes() == second
    assert run_folders(layout) == []


def test_a_launcher_replaced_by_a_file_of_the_same_size_is_installed_again(publish, update,
                                                                           layout):
    launcher = publish("1.0.0")
    assert update().outcome == ["OK"]
    (layout / "vantrel-launcher.exe").write_bytes(bytes(len(launcher)))
    run = update()
    assert run.outcome == ["OK"]
    assert run.kinds == CHECK + DOWNLOAD + INSTALL
    assert (layout / "vantrel-launcher.exe").read_bytes() == launcher


def test_a_second_setup_fails_on_the_launcher_lock_after_the_manifest(publish, update, layout,
                                                                      wine, programs,
                                                                      https_server):
    publish("1.0.0")
    assert update().outcome == ["OK"]
    publish("1.1.0")
    before = files_of(layout)
    holder = subprocess.Popen(
        ["wine", programs / "lock_holder.exe", "lock", wine.prefix.windows_path(layout),
         ".launcher-setup.lock", "60"],
        env=wine.environment(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
    )  # fmt: skip
    try:
        assert holder.stdout.readline().strip() == b"ready"
        requests_before = len(https_server.requests)
        run = update()
    finally:
        holder.kill()
        holder.wait()
    assert run.outcome[0] == "ERROR Installation"
    assert run.outcome[1].startswith(
        "Installation failed: Another setup may be running, or the install folder is not "
        "writable. "
    ), run.outcome
    assert run.kinds == ["CheckingForUpdate"]
    assert [r.path for r in https_server.requests[requests_before:]] == [MANIFEST_PATH]
    assert files_of(layout) == before


def test_a_manifest_that_fails_validation_creates_no_folder(https_server, update, layout):
    https_server.publish(MANIFEST_PATH, b'{"schema": 1}')
    run = update()
    assert run.outcome[0] == "ERROR Manifest"
    assert run.kinds == ["CheckingForUpdate"]
    assert not layout.exists()


@pytest.mark.parametrize("tampered", [0, 1], ids=["package", "checksum"])
def test_a_tampered_release_changes_nothing(tampered, publish, update, layout, https_server):
    publish("1.0.0")
    assert update().outcome == ["OK"]
    before = files_of(layout)
    publish("1.1.0")
    name = archive_name("1.1.0") + ("" if tampered == 0 else ".sha256")
    path = https_server.root / "vantrel" / "launcher" / "1.1.0" / name
    data = bytearray(path.read_bytes())
    data[len(data) // 2] ^= 1
    path.write_bytes(bytes(data))
    run = update()
    assert run.outcome[0] in ("ERROR Verification", "ERROR Extraction"), run.outcome
    assert run.kinds == CHECK + ["DownloadStarted", "DownloadProgress", "DownloadFinished",
                                 "Verifying"]
    assert files_of(layout) == before
    assert run_folders(layout) == []


def test_a_current_launcher_that_hangs_on_its_probe_fails_without_a_download(publish, update,
                                                                             https_server):
    publish("1.0.0")
    assert update().outcome == ["OK"]
    requests_before = len(https_server.requests)
    run = update(env={"VANTREL_FIXTURE_LAUNCHER_MODE": "hang"})
    assert run.outcome == ["ERROR Installation", f"Installation failed: {PROBE_STOPPED}"]
    assert [r.path for r in https_server.requests[requests_before:]] == [MANIFEST_PATH]


def test_a_new_launcher_that_closes_at_once_is_replaced_by_the_previous(publish, update, layout):
    previous = publish("1.0.0")
    assert update().outcome == ["OK"]
    publish("1.1.0", "exit-on-start")
    run = update()
    assert run.outcome == ["ERROR Launch", "Launch failed: The launcher closed immediately "
                           "(exit code: 0). Please contact Vantrel support."]
    assert run.kinds == CHECK + DOWNLOAD + INSTALL + ["RestoringPrevious", "PreviousRestored"]
    assert (layout / "vantrel-launcher.exe").read_bytes() == previous
    assert run_folders(layout) == []
    # The wizard form does not start the launcher: the same release installs there.
    wizard = update("wizard")
    assert wizard.outcome == ["OK"]
    assert wizard.kinds == CHECK + DOWNLOAD + INSTALL


def test_a_run_killed_after_staging_leaves_nothing_once_the_next_run_succeeds(
        publish, update, layout, wine, programs):
    publish("1.0.0")
    assert update().outcome == ["OK"]
    staged = publish("1.1.0", "hang")  # the staged launcher's probe never answers
    killed = subprocess.Popen(["wine", programs / "update_client.exe", "console"],
                              env=wine.environment(), stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        deadline = time.monotonic() + 60
        while not any((folder / "vantrel-launcher.exe").is_file() and
                      (folder / "vantrel-launcher.exe").stat().st_size == len(staged)
                      for folder in run_folders(layout)):
            assert killed.poll() is None, "the run ended before its launcher was staged"
            assert time.monotonic() < deadline, "no staged launcher within a minute"
            time.sleep(0.05)
    finally:
        wine.kill_all()  # as a power cut would: nothing of the run's own ending happens
        killed.wait()
    assert len(run_folders(layout)) == 1

    newest = publish("1.2.0")
    run = update()
    assert run.outcome == ["OK"], run
    assert (layout / "vantrel-launcher.exe").read_bytes() == newest
    assert run_folders(layout) == []
