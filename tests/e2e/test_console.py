"""The whole `Vantrel.exe --console` run under Wine against the HTTPS test server, byte for byte.

Standard output and standard error go to files, standard input is empty (not a terminal, so no
pause). A run from a downloaded copy hands over to the installed copy, which inherits the files;
each run waits until every program of the prefix has ended, the started launcher included.
"""

from __future__ import annotations

import re
import shutil
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

from support.https_server import MANIFEST_PATH, status
from test_update import programs, publish  # noqa: F401 - fixtures

APPS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvaneLauncher"
BANNER = b"Orvanis Launcher Setup\nBy Orvanis\n\n"
BOOTSTRAP = b"Bootstrap install/repair...   "
HANDED_OVER = BANNER + BOOTSTRAP + b"OK\nStarting installed bootstrap...\n"
CHECK = b"Checking launcher...          "
VERIFY = b"Verifying...                  "
INSTALL = b"Installing launcher...        "
STARTED = b"Starting launcher...\n"
REASSURANCE = b"\n\nNothing unverified was installed. You can retry safely.\n"
# Each redraw of the download line starts with a carriage return and the erase sequence.
REDRAWS = re.compile(rb"(\r\x1b\[2KDownloading v[^\r\n]*)+")


def downloaded(version: str) -> bytes:
    return f"\r\x1b[2KDownloading v{version}... 100% [{'█' * 30}]\n".encode()


def updated(version: str) -> bytes:
    return (BANNER + BOOTSTRAP + b"OK\n" + CHECK + b"OK\n" + downloaded(version) + VERIFY +
            b"OK\n" + INSTALL + b"OK\n" + STARTED)


@dataclass
class Run:
    code: int
    out: bytes  # the download line's redraws collapsed into the last one
    err: bytes


@pytest.fixture
def clean(wine):
    """No product folder, shortcuts or Apps entry of earlier tests."""

    def clear():
        wine.kill_all()
        shutil.rmtree(wine.prefix.local_appdata / "Vantrel", ignore_errors=True)
        for folder in (wine.prefix.desktop, wine.prefix.programs):
            (folder / "Orvanis Launcher.lnk").unlink(missing_ok=True)
        wine.run(["reg", "delete", APPS_KEY, "/f"])

    clear()
    yield wine.prefix.local_appdata / "Vantrel"
    clear()


@pytest.fixture
def console(wine, vantrel_exe, https_server, clean, tmp_path):
    """console(exe=None, settle=True, env=None, cwd=None) runs `exe --console` (default: a
    downloaded copy, tmp_path/Downloads/Vantrel.exe); with settle, it then waits until every
    program of the prefix has ended. env adds to the session's environment."""
    download = tmp_path / "Downloads" / "Vantrel.exe"
    download.parent.mkdir()
    shutil.copyfile(vantrel_exe, download)

    def run(exe: Path | None = None, settle: bool = True, env: dict[str, str] | None = None,
            cwd: Path | None = None) -> Run:
        out, err = tmp_path / "out", tmp_path / "err"
        with out.open("wb") as stdout, err.open("wb") as stderr:
            result = subprocess.run(["wine", exe or download, "--console"], stdin=subprocess.DEVNULL,
                                    stdout=stdout, stderr=stderr, env=wine.environment(env),
                                    cwd=cwd, timeout=120)
        # The installed copy and the launcher it starts go on after the first program.
        if settle:
            subprocess.run(["wineserver", "-w"], env=wine.environment(), timeout=120, check=False)
        return Run(result.returncode, REDRAWS.sub(lambda m: m.group(1), out.read_bytes()),
                   err.read_bytes())

    return run


# What a run keeps only while it runs: (folder under the product folder or a known folder, prefix).
TEMPORARY_NAMES = [("product", ".bootstrap-setup-"), ("bin", ".launcher-setup-"),
                   ("desktop", ".Vantrel-"), ("desktop", ".orvane-shortcut-"),
                   ("programs", ".orvane-shortcut-")]


def leftovers(wine, product: Path) -> list[str]:
    """Recovery folders, run folders and temporary shortcuts on disk."""
    folders = {"product": product, "bin": product / "bin", "desktop": wine.prefix.desktop,
               "programs": wine.prefix.programs}
    return sorted(str(entry) for where, prefix in TEMPORARY_NAMES if folders[where].is_dir()
                  for entry in folders[where].iterdir() if entry.name.startswith(prefix))


def recovery_folders(product: Path) -> list[Path]:
    if not product.is_dir():
        return []
    return [p for p in product.iterdir() if p.name.startswith(".bootstrap-setup-")]


def error_block(display: str) -> bytes:
    return b"\nERROR: " + display.encode() + REASSURANCE


def test_install_from_a_download_then_up_to_date_then_a_new_release(console, publish, clean,
                                                                    wine, vantrel_exe):
    first = publish("1.0.0")
    run = console()
    assert (run.code, run.err) == (0, b"")
    assert run.out == HANDED_OVER + updated("1.0.0")
    product = clean
    assert (product / "Vantrel.exe").read_bytes() == vantrel_exe.read_bytes()
    assert (product / "bin" / "vantrel-launcher.exe").read_bytes() == first
    assert (wine.prefix.desktop / "Orvanis Launcher.lnk").is_file()
    entry = wine.run(["reg", "query", APPS_KEY]).stdout.decode(errors="replace")
    bootstrap = wine.prefix.windows_path(product / "Vantrel.exe")
    assert f'"{bootstrap}" --uninstall' in entry, entry

    installed = product / "Vantrel.exe"
    again = console(installed)
    assert (again.code, again.err) == (0, b"")
    assert again.out == BANNER + BOOTSTRAP + b"OK\n" + CHECK + b"OK\n" + STARTED

    publish("1.1.0")
    newer = console(installed)
    assert (newer.code, newer.err) == (0, b"")
    assert newer.out == updated("1.1.0")


def test_failures_of_each_stage_end_with_the_error_block(console, publish, https_server, clean):
    publish("1.0.0")
    assert console().code == 0
    installed = clean / "Vantrel.exe"

    https_server.set_rule(MANIFEST_PATH, status(503))
    network = console(installed)
    assert network.code == 1
    assert network.out == BANNER + BOOTSTRAP + b"OK\n" + CHECK + b"FAILED\n"
    assert network.err.startswith(b"\nERROR: Network failed: ") and network.err.endswith(
        REASSURANCE), network.err
    https_server.clear_rule(MANIFEST_PATH)

    https_server.publish(MANIFEST_PATH, b"{}")
    manifest = console(installed)
    assert manifest.code == 1
    assert manifest.out == BANNER + BOOTSTRAP + b"OK\n" + CHECK + b"FAILED\n"
    assert manifest.err.startswith(b"\nERROR: Manifest failed: "), manifest.err

    publish("1.1.0")
    package = (https_server.root / "vantrel" / "launcher" / "1.1.0" /
               "vantrel-launcher-1.1.0-x86_64-windows.tar.gz")
    package.write_bytes(package.read_bytes()[:-1] + b"x")
    verification = console(installed)
    assert verification.code == 1
    assert verification.out == (BANNER + BOOTSTRAP + b"OK\n" + CHECK + b"OK\n" +
                                downloaded("1.1.0") + VERIFY + b"FAILED\n")
    assert verification.err.startswith(b"\nERROR: Verification failed: "), verification.err

    publish("1.2.0", "exit-on-start")
    launch = console(installed)
    assert launch.code == 1
    assert launch.out == (updated("1.2.0") + b"Restoring previous launcher...OK\n")
    assert launch.err == error_block(
        "Launch failed: The launcher closed immediately (exit code: 0). "
        "Please contact Vantrel support.")


@pytest.mark.parametrize("lock", ["bootstrap", "launcher"])
def test_a_run_while_another_setup_holds_a_lock(lock, console, publish, clean, wine, programs):
    publish("1.0.0")
    assert console().code == 0
    folder = clean if lock == "bootstrap" else clean / "bin"
    name = ".bootstrap-install.lock" if lock == "bootstrap" else ".launcher-setup.lock"
    holder = subprocess.Popen(
        ["wine", programs / "lock_holder.exe", "lock", wine.prefix.windows_path(folder), name,
         "60"],
        env=wine.environment(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
    )  # fmt: skip
    try:
        assert holder.stdout.readline().strip() == b"ready"
        run = console(clean / "Vantrel.exe", settle=False)
    finally:
        holder.kill()
        holder.wait()
    step = BOOTSTRAP if lock == "bootstrap" else BOOTSTRAP + b"OK\n" + CHECK
    stage = "Bootstrap" if lock == "bootstrap" else "Installation"
    assert run.code == 1
    assert run.out == BANNER + step + b"FAILED\n"
    assert run.err.startswith(
        f"\nERROR: {stage} failed: Another setup may be running, or the install folder is not "
        "writable. ".encode()), run.err
    assert run.err.endswith(REASSURANCE)


def test_a_bootstrap_run_killed_in_its_transaction_leaves_nothing_once_the_next_run_succeeds(
        console, publish, clean, wine, vantrel_exe, tmp_path):
    publish("1.0.0")
    assert console().code == 0
    product = clean
    # Another build of the setup replaces the installed bootstrap; the kill comes as soon as
    # a recovery folder exists (the downloaded copy's, or the installed copy's after the handover).
    other = tmp_path / "Other" / "Vantrel.exe"
    other.parent.mkdir()
    other.write_bytes(vantrel_exe.read_bytes() + b"another build")
    for _ in range(10):
        killed = subprocess.Popen(["wine", other, "--console"], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  env=wine.environment(), start_new_session=True)
        try:
            deadline = time.monotonic() + 10
            while not recovery_folders(product) and time.monotonic() < deadline:
                time.sleep(0.001)
        finally:
            wine.kill_all()  # as a power cut would: nothing of the run's own ending happens
            killed.wait()
        if recovery_folders(product):
            break
    else:
        pytest.skip("no kill of 10 landed while a bootstrap transaction ran")

    run = console(other)
    assert (run.code, run.err) == (0, b""), run
    assert (product / "Vantrel.exe").read_bytes() == other.read_bytes()
    assert leftovers(wine, product) == []
