"""`Vantrel.exe --uninstall` and `--uninstall-worker` under Wine, answered through their message
boxes by tests/programs/message_box_driver.exe, as a user would answer them.

Each test starts from the product as the real `--console` run installs it (bootstrap, shortcuts,
Apps entry, the launcher from the HTTPS test server), with the user's own files and shortcuts
beside the product's, and then looks at exactly what an uninstall removed and what it kept. The
first test of the session runs the install; the others start from a copy of what it left, which
saves a console run per test.
"""

from __future__ import annotations

import json
import shutil
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

from support import prefix as prefix_support
from test_console import APPS_KEY, clean, console  # noqa: F401 - fixtures
from test_update import programs, publish  # noqa: F401 - fixtures

CAPTION = "Orvanis Launcher"
CONFIRMATION = ("Uninstall Orvanis Launcher? Installed games, settings, and your saved account will "
                "be kept. Close the Launcher before continuing.")
START_FAILED = "Uninstall could not start. Close the Launcher and setup, then try again."
SUCCESS = "Orvanis Launcher was uninstalled. Your games, settings, and saved account were kept."
FINISH_FAILED = ("Uninstall could not finish. Close the Launcher and setup, then try again. Your "
                 "games and account data were kept.")
IDOK, IDYES, IDNO = 1, 6, 7
WORKER_FOLDER_PREFIX = "orvane-uninstall-"
BOX_TIMEOUT = 40  # seconds a box may take to appear (the worker may wait 20 s for the bootstrap)


@dataclass
class Box:
    text: str
    buttons: list[tuple[int, str, bool]]  # id, text, default
    exit_code: int | None  # of the process that showed the box, after the answer
    next_box: bool  # the process showed another box instead of ending


@dataclass
class Install:
    product: Path
    bootstrap: Path
    launcher_folder: Path
    launcher: Path
    cache: Path
    own_shortcuts: list[Path]  # the product's own, in every folder and under every name
    kept: list[Path]  # the user's own files and shortcuts, the lock files


@pytest.fixture
def answer(wine, programs):
    """answer(button, text_start="") waits for a box with the caption, presses the button and
    returns what the box showed and how its process ended."""
    driver = programs / "message_box_driver.exe"

    def run(button: str, text_start: str = "", timeout: int = BOX_TIMEOUT) -> Box:
        result = wine.run([driver, "answer", CAPTION, button, str(timeout), text_start],
                          timeout=2 * timeout + 30)
        assert result.returncode == 0, (result.returncode, result.stdout, result.stderr)
        seen = json.loads(result.stdout.decode())
        buttons = [(b["id"], b["text"], b["default"]) for b in seen["buttons"]]
        return Box(seen["text"], buttons, seen["exit_code"], seen["next_box"])

    return run


@pytest.fixture
def leftovers(wine):
    """No older shortcut names or worker folders of earlier tests (the clean fixture leaves
    those)."""

    def clear():
        for folder in (wine.prefix.desktop, wine.prefix.programs):
            for name in ("Orvanis Launcher.lnk", "Orvane Launcher.lnk", "Vantrel.lnk", "notes.txt"):
                (folder / name).unlink(missing_ok=True)
        for path in wine.prefix.temp.glob("*uninstall-*"):
            shutil.rmtree(path, ignore_errors=True)
        shutil.rmtree(wine.prefix.user_folder / "Documents" / "Other", ignore_errors=True)

    clear()
    yield
    clear()


def make_shortcut(wine, programs, shortcut: Path, target: Path) -> None:
    result = wine.run([programs / "make_shortcut.exe", wine.prefix.windows_path(shortcut),
                       wine.prefix.windows_path(target)])
    assert result.returncode == 0, result.stderr


def golden_copy(wine, golden: Path, save: bool) -> None:
    """Saves the installation (product folder, shortcuts, Apps entry) to golden, or puts it back
    from there."""
    places = {"product": wine.prefix.local_appdata / "Vantrel", "desktop": wine.prefix.desktop,
              "programs": wine.prefix.programs}
    entry = golden / "entry.reg"
    if save:
        # Complete or not at all: made beside it, then renamed.
        making = golden.with_name(golden.name + ".making")
        shutil.rmtree(making, ignore_errors=True)
        shutil.copytree(places["product"], making / "product")
        for name in ("desktop", "programs"):
            (making / name).mkdir()
            for file in places[name].iterdir():
                if file.is_file():
                    shutil.copy2(file, making / name / file.name)
        exported = making / entry.name
        result = wine.run(["reg", "export", APPS_KEY, wine.prefix.windows_path(exported), "/y"])
        assert result.returncode == 0, result.stdout
        making.rename(golden)
        return
    shutil.copytree(golden / "product", places["product"])
    for name in ("desktop", "programs"):
        for file in (golden / name).iterdir():
            shutil.copy2(file, places[name] / file.name)
    result = wine.run(["reg", "import", wine.prefix.windows_path(entry)])
    assert result.returncode == 0, result.stderr


@pytest.fixture
def installed(console, publish, clean, leftovers, wine, programs, session_scratch) -> Install:
    """The product installed by a real `--console` run, with the user's own files and shortcuts
    beside it. The first test of the session installs it and keeps a copy of what the install
    left (files, shortcuts, Apps entry); later tests start from that copy."""
    product = clean
    bin_folder = product / "bin"
    install = Install(product, product / "Vantrel.exe", bin_folder,
                      bin_folder / "vantrel-launcher.exe", bin_folder / ".launcher-verified-cache",
                      [], [])
    desktop, start_menu = wine.prefix.desktop, wine.prefix.programs
    other = wine.prefix.user_folder / "Documents" / "Other" / "Other.exe"
    golden = session_scratch / "uninstall-installation"
    if golden.exists():
        golden_copy(wine, golden, save=False)
    else:
        publish("1.0.0")
        run = console()
        assert (run.code, run.err) == (0, b""), run
        # The product's own under the older names, pointing at the bootstrap and the launcher.
        make_shortcut(wine, programs, desktop / "Orvane Launcher.lnk", install.launcher)
        make_shortcut(wine, programs, start_menu / "Vantrel.lnk", install.bootstrap)
        # The user's own: a program elsewhere with a shortcut named like an older one of the
        # product's, and files in every folder.
        other.parent.mkdir(parents=True, exist_ok=True)
        other.write_bytes(b"another program")
        make_shortcut(wine, programs, desktop / "Vantrel.lnk", other)
        for folder, name in ((product, "settings.json"), (bin_folder, "games.db"),
                             (desktop, "notes.txt"), (start_menu, "notes.txt")):
            (folder / name).write_bytes(f"the user's {name}".encode())
        golden_copy(wine, golden, save=True)
    other.parent.mkdir(parents=True, exist_ok=True)
    other.write_bytes(b"another program")

    install.own_shortcuts = [desktop / "Orvanis Launcher.lnk", desktop / "Orvane Launcher.lnk",
                             start_menu / "Orvanis Launcher.lnk", start_menu / "Vantrel.lnk"]
    install.kept = [product / "settings.json", bin_folder / "games.db", desktop / "notes.txt",
                    start_menu / "notes.txt", desktop / "Vantrel.lnk", other,
                    product / ".bootstrap-install.lock", bin_folder / ".launcher-setup.lock"]
    for path in (install.bootstrap, install.launcher, install.cache, *install.own_shortcuts,
                 *install.kept):
        assert path.is_file(), path
    assert apps_entry(wine) is not None
    return install


def roots(wine) -> list[Path]:
    return [wine.prefix.local_appdata / "Vantrel", wine.prefix.desktop, wine.prefix.programs,
            wine.prefix.temp, wine.prefix.user_folder / "Documents"]


def snapshot(wine) -> dict[str, prefix_support.Entry]:
    files = {}
    for root in roots(wine):
        for rel, entry in prefix_support.snapshot(root).items():
            files[f"{root.name}/{rel}"] = entry
    return files


def rel(wine, path: Path) -> str:
    for root in roots(wine):
        if path.is_relative_to(root):
            return f"{root.name}/{path.relative_to(root).as_posix()}"
    raise ValueError(path)


def apps_entry(wine) -> str | None:
    result = wine.run(["reg", "query", APPS_KEY, "/s"])
    return result.stdout.decode(errors="replace") if result.returncode == 0 else None


def worker_folders(wine) -> list[Path]:
    return sorted(wine.prefix.temp.glob(WORKER_FOLDER_PREFIX + "*"))


def start(wine, exe: Path, option: str) -> subprocess.Popen:
    return subprocess.Popen(["wine", exe, option], env=wine.environment(),
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def by_hand(wine, install: Install, folder: str = "orvane-uninstall-ByHand",
            name: str = "OrvaneUninstall.exe", content: bytes | None = None) -> Path:
    """A worker file made by hand in the user's temporary folder."""
    worker = wine.prefix.temp / folder / name
    worker.parent.mkdir(parents=True, exist_ok=True)
    worker.write_bytes(install.bootstrap.read_bytes() if content is None else content)
    return worker


def assert_confirmation(box: Box) -> None:
    assert box.text == CONFIRMATION
    # No is the default button.
    assert box.buttons == [(IDYES, "&Yes", False), (IDNO, "&No", True)]


def assert_failure_box(box: Box, text: str) -> None:
    assert box.text == text
    assert box.buttons == [(IDOK, "OK", True)]
    assert box.exit_code == 1


def assert_refused_after_the_confirmation(request, answer) -> None:
    """Yes to the confirmation, then the start failure box and exit code 1."""
    confirmation = answer("yes")
    assert_confirmation(confirmation)
    assert confirmation.next_box  # the failure box, after the confirmation
    failure = answer("ok")
    assert request.wait(30) == 1
    assert_failure_box(failure, START_FAILED)


def test_answering_no_changes_nothing(installed, wine, answer):
    before, entry = snapshot(wine), apps_entry(wine)
    request = start(wine, installed.bootstrap, "--uninstall")
    box = answer("no")
    assert request.wait(30) == 0
    assert_confirmation(box)
    assert box.exit_code == 0
    assert not prefix_support.changes(before, snapshot(wine)), prefix_support.changes(
        before, snapshot(wine))
    assert apps_entry(wine) == entry
    assert worker_folders(wine) == []


def test_yes_starts_the_worker_which_removes_exactly_the_products_own_files(installed, wine,
                                                                           answer):
    before, bootstrap_bytes = snapshot(wine), installed.bootstrap.read_bytes()
    assert apps_entry(wine) is not None
    request = start(wine, installed.bootstrap, "--uninstall")
    confirmation = answer("yes")
    assert_confirmation(confirmation)
    assert request.wait(30) == 0
    assert confirmation.exit_code == 0

    # The worker, started without a window, says how it went in one box.
    done = answer("ok")
    assert done.text == SUCCESS
    assert done.buttons == [(IDOK, "OK", True)]
    assert done.exit_code == 0

    after = snapshot(wine)
    changes = prefix_support.changes(before, after)
    removed = [installed.bootstrap, installed.launcher, installed.cache, *installed.own_shortcuts]
    assert set(changes.removed) == {rel(wine, p) for p in removed}, changes
    (folder,) = worker_folders(wine)
    assert len(folder.name) == len(WORKER_FOLDER_PREFIX) + 6 and folder.name[-6:].isalnum()
    worker = folder / "OrvaneUninstall.exe"
    assert set(changes.added) == {rel(wine, folder), rel(wine, worker)}, changes
    assert changes.modified == (), changes
    assert worker.read_bytes() == bootstrap_bytes
    for path in installed.kept:
        assert path.is_file(), path
    assert installed.product.is_dir() and installed.launcher_folder.is_dir()
    assert apps_entry(wine) is None


def test_a_request_from_the_downloaded_setup_fails_after_the_confirmation(installed, wine, answer,
                                                                         tmp_path):
    before, entry = snapshot(wine), apps_entry(wine)
    download = tmp_path / "Downloads" / "Vantrel.exe"  # the console fixture's download
    request = start(wine, download, "--uninstall")
    assert_refused_after_the_confirmation(request, answer)
    assert not prefix_support.changes(before, snapshot(wine))
    assert apps_entry(wine) == entry
    assert worker_folders(wine) == []


def test_with_nothing_installed_the_confirmation_still_comes_first(clean, leftovers, wine, answer,
                                                                   vantrel_exe):
    request = start(wine, vantrel_exe, "--uninstall")
    assert_confirmation(answer("no"))
    assert request.wait(30) == 0

    request = start(wine, vantrel_exe, "--uninstall")
    assert_refused_after_the_confirmation(request, answer)
    assert not clean.exists()
    assert worker_folders(wine) == []


@pytest.mark.parametrize("value, data", [
    ("InstallLocation", r"C:\users\Public\Vantrel"),
    ("UninstallString", "other.exe --uninstall"),
    ("Publisher", "Someone Else"),
])  # fmt: skip
def test_an_entry_of_another_installation_stops_the_request(value, data, installed, wine, answer):
    assert wine.run(["reg", "add", APPS_KEY, "/v", value, "/t", "REG_SZ", "/d", data,
                     "/f"]).returncode == 0
    before, entry = snapshot(wine), apps_entry(wine)
    request = start(wine, installed.bootstrap, "--uninstall")
    assert_refused_after_the_confirmation(request, answer)
    assert not prefix_support.changes(before, snapshot(wine))
    assert apps_entry(wine) == entry
    assert worker_folders(wine) == []


@pytest.mark.parametrize("where", [
    "the product folder", "another folder name", "another file name", "one byte different",
])  # fmt: skip
def test_a_worker_started_by_hand_elsewhere_touches_nothing(where, installed, wine, answer):
    if where == "the product folder":
        worker = installed.bootstrap
    elif where == "another folder name":
        worker = by_hand(wine, installed, folder="vantrel-uninstall-ByHand")
    elif where == "another file name":
        worker = by_hand(wine, installed, name="Uninstall.exe")
    else:
        content = bytearray(installed.bootstrap.read_bytes())
        content[-1] ^= 1
        worker = by_hand(wine, installed, content=bytes(content))
    before, entry = snapshot(wine), apps_entry(wine)
    process = start(wine, worker, "--uninstall-worker")
    failure = answer("ok")
    assert process.wait(30) == 1
    assert_failure_box(failure, FINISH_FAILED)
    assert not prefix_support.changes(before, snapshot(wine))
    assert apps_entry(wine) == entry


def test_the_worker_gives_up_when_the_bootstrap_stays_in_use(installed, wine, answer):
    """A request left at its confirmation runs from the bootstrap: a worker started beside it
    waits 20 seconds for the bootstrap, then fails and removes nothing."""
    worker = by_hand(wine, installed)
    request = start(wine, installed.bootstrap, "--uninstall")
    try:
        time.sleep(3)  # the request runs and waits for an answer
        before, entry = snapshot(wine), apps_entry(wine)
        started = time.monotonic()
        process = start(wine, worker, "--uninstall-worker")
        failure = answer("ok", text_start="Uninstall could not finish")
        waited = time.monotonic() - started
        assert process.wait(30) == 1
        assert_failure_box(failure, FINISH_FAILED)
        assert 20 <= waited < 35, waited
        assert not prefix_support.changes(before, snapshot(wine))
        assert apps_entry(wine) == entry
        assert_confirmation(answer("no"))
        assert request.wait(30) == 0
    finally:
        if request.poll() is None:
            request.kill()
            wine.kill_all()


def test_a_running_launcher_makes_the_worker_fail_at_once(installed, wine, answer):
    # Started in its own folder, as the setup starts it.
    launcher = subprocess.Popen(["wine", installed.launcher], cwd=installed.launcher_folder,
                                env=wine.environment({"VANTREL_FIXTURE_LAUNCHER_MODE": "hang"}),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
    try:
        time.sleep(3)
        assert launcher.poll() is None
        worker = by_hand(wine, installed)
        before, entry = snapshot(wine), apps_entry(wine)
        started = time.monotonic()
        process = start(wine, worker, "--uninstall-worker")
        failure = answer("ok")
        assert process.wait(30) == 1
        assert_failure_box(failure, FINISH_FAILED)
        assert time.monotonic() - started < 15  # no 20-second wait
        assert not prefix_support.changes(before, snapshot(wine))
        assert apps_entry(wine) == entry
    finally:
        launcher.kill()
        wine.kill_all()


def test_another_setup_holding_the_bootstrap_lock_stops_the_worker(installed, wine, answer,
                                                                   programs):
    holder = subprocess.Popen(
        ["wine", programs / "lock_holder.exe", "lock", wine.prefix.windows_path(installed.product),
         ".bootstrap-install.lock", "90"],
        env=wine.environment(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
    )  # fmt: skip
    try:
        assert holder.stdout.readline().strip() == b"ready"
        before, entry = snapshot(wine), apps_entry(wine)
        request = start(wine, installed.bootstrap, "--uninstall")
        assert_confirmation(answer("yes"))
        assert request.wait(30) == 0
        failure = answer("ok")
        assert_failure_box(failure, FINISH_FAILED)
        changes = prefix_support.changes(before, snapshot(wine))
        assert all(path.startswith("Temp/" + WORKER_FOLDER_PREFIX) for path in changes.added)
        assert (changes.removed, changes.modified) == ((), ()), changes
        assert apps_entry(wine) == entry
    finally:
        holder.kill()
        holder.wait()


def test_an_apps_entry_with_a_subkey_stops_the_worker_before_any_removal(installed, wine, answer):
    assert wine.run(["reg", "add", APPS_KEY + r"\Child", "/f"]).returncode == 0
    before, entry = snapshot(wine), apps_entry(wine)
    request = start(wine, installed.bootstrap, "--uninstall")
    assert_confirmation(answer("yes"))
    assert request.wait(30) == 0
    assert_failure_box(answer("ok"), FINISH_FAILED)
    changes = prefix_support.changes(before, snapshot(wine))
    assert all(path.startswith("Temp/" + WORKER_FOLDER_PREFIX) for path in changes.added)
    assert (changes.removed, changes.modified) == ((), ()), changes
    assert apps_entry(wine) == entry


def test_without_a_launcher_folder_the_uninstall_succeeds(installed, wine, answer):
    shutil.rmtree(installed.launcher_folder)
    request = start(wine, installed.bootstrap, "--uninstall")
    assert_confirmation(answer("yes"))
    assert request.wait(30) == 0
    done = answer("ok")
    assert (done.text, done.exit_code) == (SUCCESS, 0)
    assert not installed.bootstrap.exists()
    assert not installed.launcher_folder.exists()  # the launcher lock was not taken
    assert installed.product.is_dir()
    assert (installed.product / "settings.json").is_file()
    assert apps_entry(wine) is None
    for shortcut in installed.own_shortcuts:
        assert not shortcut.exists(), shortcut
    assert (wine.prefix.desktop / "Vantrel.lnk").is_file()
