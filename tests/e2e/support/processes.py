"""Ending the helper programs that the tests start (Xvfb, nginx)."""

from __future__ import annotations

import subprocess


def stop_process(process: subprocess.Popen | None) -> None:
    """Asks a running process to end, and kills it if it has not within ten seconds."""
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
