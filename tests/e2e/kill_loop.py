"""Kills `Vantrel.exe --console` (every process of the prefix at once, as a power cut would) at
instants spread over a first install, a launcher upgrade and a bootstrap replacement, and checks
that the run after each kill succeeds and leaves no recovery folder, run folder or temporary
shortcut behind.

It takes about half an hour on two cores, so scripts/test does not run it: tests/kill-loop does, in the
session the end-to-end tests use. VANTREL_KILL_INSTANTS sets the instants per scenario
("first-install:50 upgrade:26 replacement:26"; a missing scenario is not run).
"""

from __future__ import annotations

import os
import signal
import subprocess
import time

import pytest

from support.https_server import MANIFEST_PATH
from test_console import clean, console, leftovers  # noqa: F401 - fixtures
from test_update import programs, publish  # noqa: F401 - fixtures

DEFAULT_INSTANTS = "first-install:50 upgrade:26 replacement:26"
# The shortcut code's temporary file, which no run removes once a kill has left it: counted
# apart from the rest and removed before the next kill.
SHORTCUT_TEMPORARY = ".orvane-shortcut-"


def instants(scenario: str) -> int:
    counts = dict(entry.split(":") for entry in
                  os.environ.get("VANTREL_KILL_INSTANTS", DEFAULT_INSTANTS).split())
    return int(counts.get(scenario, 0))


@pytest.mark.parametrize("scenario", ["first-install", "upgrade", "replacement"])
def test_the_run_after_a_kill_leaves_nothing(scenario, console, publish, clean, wine, vantrel_exe,
                                             https_server, tmp_path):
    count = instants(scenario)
    if count == 0:
        pytest.skip(f"VANTREL_KILL_INSTANTS has no instants for {scenario}")
    product = clean
    publish("1.0.0")
    first = (https_server.root / MANIFEST_PATH.lstrip("/")).read_bytes()
    publish("1.1.0")
    second = (https_server.root / MANIFEST_PATH.lstrip("/")).read_bytes()
    other = tmp_path / "Other" / "Vantrel.exe"
    other.parent.mkdir()
    other.write_bytes(vantrel_exe.read_bytes() + b"another build")
    download = tmp_path / "Downloads" / "Vantrel.exe"
    # The run that is killed, and the same run again afterwards.
    program = {"first-install": download, "upgrade": product / "Vantrel.exe",
               "replacement": other}[scenario]

    def prepare() -> None:
        clean_state()
        https_server.publish(MANIFEST_PATH, first)
        if scenario != "first-install":
            assert console().code == 0
        if scenario == "upgrade":
            https_server.publish(MANIFEST_PATH, second)

    def clean_state() -> None:
        wine.kill_all()
        subprocess.run(["rm", "-rf", str(product)], check=False)
        for folder in (wine.prefix.desktop, wine.prefix.programs):
            (folder / "Orvanis Launcher.lnk").unlink(missing_ok=True)
            for shortcut in folder.glob(SHORTCUT_TEMPORARY + "*"):
                shortcut.unlink()

    # How long the whole run takes when nothing stops it, its launcher included.
    prepare()
    started = time.monotonic()
    assert console(program).code == 0
    duration = time.monotonic() - started

    left_by_kills = 0
    survivors = 0
    shortcut_temporaries = 0
    failures = []
    for index in range(count):
        prepare()
        instant = duration * (index + 0.5) / count
        killed = subprocess.Popen(["wine", program, "--console"], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  env=wine.environment(), start_new_session=True)
        time.sleep(instant)
        wine.kill_all()
        try:
            killed.wait(10)
        except subprocess.TimeoutExpired:
            # Still starting when the kill came, it was not yet a process of the
            # wineserver, and it waits for one that has gone.
            survivors += 1
            os.killpg(killed.pid, signal.SIGKILL)
            killed.wait()
            wine.kill_all()
        left_by_kills += bool(leftovers(wine, product))

        run = console(program)
        left = leftovers(wine, product)
        shortcut_temporaries += sum(SHORTCUT_TEMPORARY in entry for entry in left)
        left = [entry for entry in left if SHORTCUT_TEMPORARY not in entry]
        if run.code != 0 or left:
            failures.append(f"kill at {instant:.2f} s: exit {run.code}, left {left}, "
                            f"error {run.err.decode(errors='replace').strip()!r}")
    print(f"\n{scenario}: {count} kills over {duration:.1f} s; {left_by_kills} left something; "
          f"{survivors} starting wine processes outlived the kill; "
          f"after the next run {len(failures)} failed or left something, and "
          f"{shortcut_temporaries} left a {SHORTCUT_TEMPORARY}* file")
    for failure in failures:
        print("  " + failure)
    assert failures == []
