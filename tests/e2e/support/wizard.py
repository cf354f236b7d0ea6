"""The setup wizard under Wine, driven from outside by tests/programs/wizard_driver.exe.

Wizard(wine, exe, programs) starts `exe` (the real Vantrel.exe) and the driver, which finds the
dialog by its title. state() is what the driver reads back (see wizard_driver.cpp); wait() polls
it, bounded, until a condition holds. screenshot() saves the dialog's part of the screen.
"""

from __future__ import annotations

import json
import subprocess
import time
from pathlib import Path
from typing import Callable

OK, CANCEL, BACK = "1", "2", "100"
TITLE, BODY, STATUS, PROGRESS, LAUNCH_BOX, SEPARATOR = "101", "102", "103", "104", "105", "107"

WELCOME = "Welcome to Orvanis Launcher Setup"
READY = "Ready to install Orvanis Launcher"
INSTALLING = "Installing Orvanis Launcher"
FAILED = "Setup could not finish"
FINISHED = "Completing Orvanis Launcher Setup"

BS_TYPE_MASK, BS_DEFPUSHBUTTON = 0x0F, 0x01


class WizardState(dict):
    @property
    def page(self) -> str:
        return self["controls"][TITLE]["text"]

    def text(self, control: str) -> str:
        return self["controls"][control]["text"]

    def visible(self, control: str) -> bool:
        return self["controls"][control]["visible"]

    def enabled(self, control: str) -> bool:
        return self["controls"][control]["enabled"]


class Wizard:
    def __init__(self, wine, exe: Path, programs: Path, args=(), env=None, cwd=None):
        self._wine = wine
        self.process = subprocess.Popen(
            ["wine", exe, *args], cwd=cwd, env=wine.environment(env), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True,
        )  # fmt: skip
        self._driver = subprocess.Popen(
            ["wine", programs / "wizard_driver.exe"], cwd=programs, env=wine.environment(),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
            start_new_session=True,
        )  # fmt: skip
        found = self.ask("find 60000")
        if found != "ok":
            self.close_all()
            raise AssertionError(f"the wizard's dialog did not appear: {found}")

    def ask(self, line: str) -> str:
        self._driver.stdin.write(line + "\n")
        self._driver.stdin.flush()
        answer = self._driver.stdout.readline()
        if not answer:
            raise AssertionError(f"the driver ended on {line!r}")
        return answer.rstrip("\r\n")

    def state(self) -> WizardState:
        return WizardState(json.loads(self.ask("state")))

    def wait(self, condition: Callable[[WizardState], bool], what: str,
             timeout: float = 90) -> WizardState:
        deadline = time.monotonic() + timeout
        while True:
            state = self.state()
            if state["gone"]:
                raise AssertionError(f"the wizard closed while waiting for {what}")
            if condition(state):
                return state
            if time.monotonic() > deadline:
                raise AssertionError(f"no {what} within {timeout} s; last state: {state}")
            time.sleep(0.05)

    def wait_page(self, title: str, timeout: float = 90) -> WizardState:
        return self.wait(lambda s: s.page == title, f"page {title!r}", timeout)

    def click(self, control: str) -> None:
        assert self.ask(f"click {control}") == "ok"

    def command(self, control: str) -> None:
        assert self.ask(f"command {control}") == "ok"

    def key(self, name: str) -> None:
        assert self.ask(f"key {name}") == "ok"

    def close(self) -> None:
        assert self.ask("close") == "ok"

    def processes(self, name: str) -> int:
        return int(self.ask(f"processes {name}"))

    def exit_code(self, timeout: float = 30) -> int:
        """Waits for the wizard to end and gives its exit code."""
        return self.process.wait(timeout)

    def screenshot(self, xvfb, path: Path) -> Path:
        """The dialog's client area as a PNG (without a window manager there is no frame)."""
        left, top, right, bottom = self.state()["client"]
        geometry = f"{right - left}x{bottom - top}+{left}+{top}"
        subprocess.run(
            ["import", "-display", xvfb.display, "-window", "root", "-crop", geometry, "+repage",
             str(path)],
            check=True, capture_output=True, timeout=30,
        )  # fmt: skip
        return path

    def close_all(self) -> None:
        for process in (self._driver, self.process):
            if process.poll() is None:
                process.kill()
                process.wait()

    def __enter__(self) -> Wizard:
        return self

    def __exit__(self, *exc) -> None:
        if self._driver.poll() is None:
            self._driver.stdin.close()
            try:
                self._driver.wait(10)
            except subprocess.TimeoutExpired:
                pass
        self.close_all()
