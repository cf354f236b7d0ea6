"""Running Windows programs under Wine in the session's prefix.

How arguments reach the program: `wine program a b ...` rebuilds a Windows command line from
the Unix argument list. Wine always puts the program name in double quotes; an argument is put in
double quotes when it is empty or holds a space or tab; inside an argument every double quote is
written as \\" with the backslashes before it doubled, and backslashes before a closing quote are
doubled. So every argument list round-trips exactly through the usual Windows splitting rules
(an empty argument arrives as "", `a"b` as a\\"b). What cannot be produced that way: an
unquoted program name (with or without spaces), odd spacing, the "" form of a quote inside quotes,
unpaired surrogates, or any other hand-written command line; `run_command_line` starts the
program through a small helper that hands CreateProcessW the exact text instead. Even then Wine
replaces an empty command line by the quoted program name, so an empty GetCommandLineW() cannot
be produced under Wine at all.
"""

from __future__ import annotations

import os
import signal
import subprocess
import threading
from pathlib import Path
from typing import Sequence

import pytest

from .prefix import WinePrefix, wine_environment

_HELPER_SOURCES = Path(__file__).parent
MINGW_CC = "x86_64-w64-mingw32-gcc-posix"


def encode_command_line(text: str) -> str:
    """Hex of the UTF-16 code units, as raw_command_line.exe takes it. Lone surrogates pass."""
    data = text.encode("utf-16-le", "surrogatepass")
    return "".join(f"{int.from_bytes(data[i:i + 2], 'little'):04x}" for i in range(0, len(data), 2))


_OUTPUT_GRACE = 2.0  # seconds to wait for the last output once the program has ended


class _Collector:
    """Reads a pipe to its end on a thread of its own."""

    def __init__(self, pipe):
        self._chunks: list[bytes] = []
        self._thread = threading.Thread(target=self._read, args=(pipe,), daemon=True)
        self._thread.start()

    def _read(self, pipe) -> None:
        for chunk in iter(lambda: pipe.read1(65536), b""):
            self._chunks.append(chunk)

    def result(self, grace: float) -> bytes:
        self._thread.join(grace)
        return b"".join(list(self._chunks))


def _feed(pipe, data: bytes) -> None:
    try:
        pipe.write(data)
        pipe.close()
    except (BrokenPipeError, OSError):
        pass  # the program did not read it all


def decode_command_line(hex_text: str) -> str:
    """The inverse of encode_command_line."""
    data = b"".join(int(hex_text[i : i + 4], 16).to_bytes(2, "little")
                    for i in range(0, len(hex_text), 4))
    return data.decode("utf-16-le", "surrogatepass")


class Wine:
    def __init__(self, prefix: WinePrefix, display: str | None, scratch: Path):
        self.prefix = prefix
        self.display = display
        self._scratch = scratch
        self._helpers: dict[str, Path] = {}

    def environment(self, extra: dict[str, str] | None = None) -> dict[str, str]:
        env = wine_environment(self.prefix.path, self.display)
        env.update(extra or {})
        return env

    def run(
        self,
        args: Sequence[str | os.PathLike],
        *,
        cwd: str | os.PathLike | None = None,
        env: dict[str, str] | None = None,
        input: bytes | None = None,
        timeout: float = 60,
    ) -> subprocess.CompletedProcess:
        """Runs `wine args[0] args[1:]`, capturing stdout and stderr as bytes.

        env adds to (or overrides) the session's environment. Without input, standard input is
        empty. The return code is the Windows exit code modulo 256 (and not reliable after a
        crash). The call returns when the program itself has ended: programs it started inherit
        its output pipes, and what they write after a short grace time is not waited for. On
        timeout the process group, with anything the program started, is killed and
        subprocess.TimeoutExpired is raised.
        """
        command = ["wine", *(os.fspath(a) for a in args)]
        process = subprocess.Popen(
            command,
            cwd=cwd,
            env=self.environment(env),
            stdin=subprocess.PIPE if input is not None else subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            start_new_session=True,
        )
        outputs = [_Collector(process.stdout), _Collector(process.stderr)]
        if input is not None:
            threading.Thread(target=_feed, args=(process.stdin, input), daemon=True).start()
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            stdout, stderr = (o.result(_OUTPUT_GRACE) for o in outputs)
            raise subprocess.TimeoutExpired(command, timeout, stdout, stderr) from None
        stdout, stderr = (o.result(_OUTPUT_GRACE) for o in outputs)
        return subprocess.CompletedProcess(command, process.returncode, stdout, stderr)

    __call__ = run

    def run_command_line(
        self,
        program: str | os.PathLike,
        command_line: str,
        **kwargs,
    ) -> subprocess.CompletedProcess:
        """Starts program (a Unix path) with exactly this Windows command line.

        The command line includes the program name as the program should see it, e.g.
        f'"{wine.prefix.windows_path(exe)}" --console'. Exit code 125 means the helper could
        not start the program. Takes the same keyword arguments as run.
        """
        helper = self.helper("raw_command_line")
        args = [helper, self.prefix.windows_path(program), encode_command_line(command_line)]
        return self.run(args, **kwargs)

    def kill_all(self) -> None:
        """Ends every Windows process of the prefix (the wineserver restarts on the next run)."""
        subprocess.run(["wineserver", "-k"], env=self.environment(), check=False)
        subprocess.run(["wineserver", "-w"], env=self.environment(), check=False)

    def helper(self, name: str) -> Path:
        """support/<name>.c built once per session into a Windows program."""
        if name not in self._helpers:
            output = self._scratch / f"{name}.exe"
            try:
                subprocess.run(
                    [MINGW_CC, "-municode", "-O2", "-s", "-Wall", "-Wextra", "-Werror",
                     "-o", str(output), str(_HELPER_SOURCES / f"{name}.c"), "-lshell32"],
                    check=True, capture_output=True,
                )  # fmt: skip
            except FileNotFoundError:
                pytest.skip(f"{MINGW_CC} is not installed: cannot build the helper {name}.exe")
            self._helpers[name] = output
        return self._helpers[name]
