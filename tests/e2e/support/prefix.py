"""A Wine prefix for one test session: creation, the user's folders, file snapshots."""

from __future__ import annotations

import hashlib
import os
import shutil
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path, PureWindowsPath

# Every Wine start of the tests uses these. winemenubuilder would turn the program's shortcuts
# into menu entries and icons on the host; Mono and Gecko are never needed and only slow the
# first boot.
WINE_SETTINGS = {
    "WINEDEBUG": "-all",
    "WINEDLLOVERRIDES": "winemenubuilder.exe=d;mscoree,mshtml=",
}

# wineboot links these user folders to the Unix home folder; a test must never write there.
_LINKED_SHELL_FOLDERS = (
    "Desktop",
    "Documents",
    "Downloads",
    "Music",
    "Pictures",
    "Videos",
    "AppData/Roaming/Microsoft/Windows/Templates",
)


def wine_environment(prefix: Path, display: str | None, base: dict[str, str] | None = None):
    env = dict(os.environ if base is None else base)
    env.update(WINE_SETTINGS)
    env["WINEPREFIX"] = str(prefix)
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    # Wine converts arguments and file names with the Unix locale's character set.
    if not env.get("LC_ALL") and not env.get("LANG"):
        env["LANG"] = "C.UTF-8"
    return env


@dataclass(frozen=True)
class Entry:
    kind: str  # "file", "dir" or "link"
    size: int = 0
    mtime_ns: int = 0
    sha256: str = ""
    target: str = ""


@dataclass(frozen=True)
class Changes:
    added: tuple[str, ...]
    removed: tuple[str, ...]
    modified: tuple[str, ...]

    def __bool__(self) -> bool:
        return bool(self.added or self.removed or self.modified)

    def __str__(self) -> str:
        lines = [f"+ {p}" for p in self.added] + [f"- {p}" for p in self.removed]
        return "\n".join(lines + [f"~ {p}" for p in self.modified]) or "no changes"


def snapshot(root: Path) -> dict[str, Entry]:
    """Every entry below root (links are recorded, not followed), by relative POSIX path.

    Files carry size, modification time and content digest; folders only their existence,
    since Wine itself may touch folder times.
    """
    entries: dict[str, Entry] = {}
    if not root.exists():
        return entries
    for folder, dirs, files in os.walk(root):
        base = Path(folder)
        for name in sorted(dirs + files):
            path = base / name
            rel = path.relative_to(root).as_posix()
            if path.is_symlink():
                entries[rel] = Entry("link", target=os.readlink(path))
            elif path.is_dir():
                entries[rel] = Entry("dir")
            else:
                info = path.stat()
                digest = hashlib.sha256(path.read_bytes()).hexdigest()
                entries[rel] = Entry("file", info.st_size, info.st_mtime_ns, digest)
    return entries


def changes(before: dict[str, Entry], after: dict[str, Entry]) -> Changes:
    return Changes(
        added=tuple(sorted(after.keys() - before.keys())),
        removed=tuple(sorted(before.keys() - after.keys())),
        modified=tuple(sorted(p for p in before.keys() & after.keys() if before[p] != after[p])),
    )


@dataclass(frozen=True)
class WinePrefix:
    path: Path

    @property
    def drive_c(self) -> Path:
        return self.path / "drive_c"

    @property
    def user_folder(self) -> Path:
        """C:\\users\\<user>: Wine names it after the Unix user."""
        users = [p for p in (self.drive_c / "users").iterdir() if p.name != "Public"]
        if len(users) != 1:
            raise RuntimeError(f"expected one user folder in {self.drive_c / 'users'}: {users}")
        return users[0]

    @property
    def local_appdata(self) -> Path:
        return self.user_folder / "AppData" / "Local"

    @property
    def roaming_appdata(self) -> Path:
        return self.user_folder / "AppData" / "Roaming"

    @property
    def desktop(self) -> Path:
        return self.user_folder / "Desktop"

    @property
    def programs(self) -> Path:
        """The Start menu's Programs folder."""
        return self.roaming_appdata / "Microsoft" / "Windows" / "Start Menu" / "Programs"

    @property
    def temp(self) -> Path:
        return self.user_folder / "Temp"

    def windows_path(self, path: Path | str) -> str:
        """The Windows form of an absolute Unix path: C: inside the prefix, else Z: (the root)."""
        path = Path(os.path.abspath(path))
        try:
            rel = path.relative_to(self.drive_c)
            return str(PureWindowsPath("C:\\", *rel.parts))
        except ValueError:
            return str(PureWindowsPath("Z:\\", *path.parts[1:]))

    def unix_path(self, windows_path: str) -> Path:
        """The Unix path of a C: or Z: path."""
        win = PureWindowsPath(windows_path)
        drive = win.drive.upper()
        rest = win.parts[1:]
        if drive == "C:":
            return self.drive_c.joinpath(*rest)
        if drive == "Z:":
            return Path("/").joinpath(*rest)
        raise ValueError(f"no Unix path for {windows_path!r}")

    def user_files(self) -> dict[str, Entry]:
        return snapshot(self.user_folder)


def unlink_shell_folders(prefix: WinePrefix) -> None:
    """Turns the user folders that wineboot linked to the Unix home into plain folders."""
    for rel in _LINKED_SHELL_FOLDERS:
        path = prefix.user_folder / rel
        if path.is_symlink():
            path.unlink()
            path.mkdir()


def create_prefix(path: Path, display: str | None) -> WinePrefix:
    """A fresh prefix, booted with a persistent wineserver that stop_wineserver ends.

    The display must be the one the session's programs will use: the desktop process that
    wineboot starts stays for the whole session.
    """
    path.mkdir(parents=True, exist_ok=True)
    env = wine_environment(path, display)
    subprocess.run(["wineserver", "-p"], env=env, check=True)
    # wineboot has been seen to fail (exit 1) on one of four new prefixes booting at once, so
    # it gets a second try. Its messages go to a file, not a pipe: the processes it leaves
    # running would hold a pipe open.
    messages = path.with_name(path.name + "-wineboot.txt")
    for attempt in range(2):
        with messages.open("w") as stderr:
            booted = subprocess.run(
                ["wine", "wineboot", "-i"],
                env=env,
                stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL,
                stderr=stderr,
                timeout=300,
            )
        if booted.returncode == 0:
            break
        tail = messages.read_text(errors="replace")[-4000:]
        print(f"wineboot -i failed with {booted.returncode} (try {attempt + 1} of 2):\n{tail}",
              file=sys.stderr)
    else:
        raise RuntimeError(f"wineboot -i could not boot {path}")
    # A crashing program would otherwise wait for a click on Wine's crash dialog; without it
    # winedbg writes a backtrace to standard error and the program ends.
    subprocess.run(
        ["wine", "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog",
         "/t", "REG_DWORD", "/d", "0", "/f"],
        env=env, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, timeout=120,
    )  # fmt: skip
    prefix = WinePrefix(path)
    unlink_shell_folders(prefix)
    return prefix


def stop_wineserver(path: Path) -> None:
    """Ends every Wine process of the prefix and its wineserver."""
    env = wine_environment(path, None)
    subprocess.run(["wineserver", "-k"], env=env, check=False, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, check=False, stderr=subprocess.DEVNULL)


def remove_prefix(path: Path) -> None:
    stop_wineserver(path)
    shutil.rmtree(path, ignore_errors=True)
