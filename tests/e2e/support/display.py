"""A virtual X display (Xvfb) for the Wine programs' windows, and screenshots of it."""

from __future__ import annotations

import os
import select
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

from support.processes import stop_process

SCREEN = "1024x768x24"


@dataclass
class Xvfb:
    display: str
    process: subprocess.Popen | None = None  # None: a display that someone else runs

    def screenshot(self, path: Path | str) -> Path:
        """Saves the whole screen as an image (the format follows the file name, e.g. .png)."""
        path = Path(path)
        subprocess.run(
            ["import", "-display", self.display, "-window", "root", str(path)],
            check=True,
            capture_output=True,
            timeout=30,
        )
        return path

    def stop(self) -> None:
        stop_process(self.process)


def _launch(number: int, timeout: float, detach: bool) -> Xvfb | None:
    """Xvfb on :number once it is ready, or None when it exits first (the display is taken)."""
    read_end, write_end = os.pipe()
    try:
        process = subprocess.Popen(
            ["Xvfb", f":{number}", "-displayfd", str(write_end), "-screen", "0", SCREEN,
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=detach,
        )  # fmt: skip
        os.close(write_end)
        write_end = -1
        reported = b""
        deadline = time.monotonic() + timeout
        while not reported.endswith(b"\n"):
            left = deadline - time.monotonic()
            ready, _, _ = select.select([read_end], [], [], max(left, 0))
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                process.kill()
                process.wait()
                return None
            reported += chunk
    finally:
        os.close(read_end)
        if write_end >= 0:
            os.close(write_end)
    return Xvfb(f":{int(reported)}", process)


def start_xvfb(timeout: float = 20, detach: bool = False) -> Xvfb:
    """Starts Xvfb on a free display number.

    The numbers start well above the :0 and :99 that other tools like to take for themselves,
    so that a run never meets a server that someone else starts later.
    """
    first = 300 + os.getpid() % 300
    for number in range(first, first + 50):
        if Path(f"/tmp/.X{number}-lock").exists():
            continue
        server = _launch(number, timeout, detach)
        if server is not None:
            return server
    raise RuntimeError("Xvfb did not start on any free display")
