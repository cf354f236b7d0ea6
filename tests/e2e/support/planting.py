"""DLLs planted beside a program, and the control program that tells which of them Wine loads
before any code of a program runs (see test_planting.py)."""

from __future__ import annotations

import shutil
import subprocess
from pathlib import Path

import pytest

from .prefix import WINE_SETTINGS
from .wine import MINGW_CC

_SOURCES = Path(__file__).parent
_DLLTOOL = "x86_64-w64-mingw32-dlltool"
_WINDRES = "x86_64-w64-mingw32-windres"
MARKER_VARIABLE = "VANTREL_PLANTED_MARKER"


def _build(command: list[str], what: str) -> None:
    if shutil.which(command[0]) is None:
        pytest.skip(f"{command[0]} is not installed: cannot build {what}")
    done = subprocess.run(command, capture_output=True, text=True)
    assert done.returncode == 0, f"building {what} failed:\n{done.stdout}{done.stderr}"


def build_planted_dll(folder: Path, exports: set[str]) -> Path:
    """planted_dll.c as a DLL that exports each of these names."""
    folder.mkdir(parents=True, exist_ok=True)
    definition = folder / "planted.def"
    definition.write_text("EXPORTS\n" + "".join(f"{name}=planted_function\n"
                                                for name in sorted(exports)))
    output = folder / "planted.dll"
    _build([MINGW_CC, "-shared", "-O2", "-s", "-Wall", "-Wextra", "-Werror", "-o", str(output),
            str(_SOURCES / "planted_dll.c"), str(definition)], "the planted DLL")
    return output


def build_control(folder: Path, imports: dict[str, list[str]], manifest: bytes) -> Path:
    """planting_control.c with this application manifest, importing the first function of each
    of these DLLs through import libraries made here (so that any name of the table links)."""
    folder.mkdir(parents=True, exist_ok=True)
    chosen = {dll: functions[0] for dll, functions in imports.items() if functions}
    (folder / "planting_control.h").write_text(
        "#define CONTROL_IMPORTS(X) " + " ".join(f"X({name})" for name in chosen.values()) + "\n")
    (folder / "control.manifest").write_bytes(manifest)
    (folder / "control.rc").write_text('1 24 "control.manifest"\n')
    objects = [folder / "control.res"]
    _build([_WINDRES, "-I", str(folder), "-O", "coff", "-o", str(objects[0]),
            str(folder / "control.rc")], "the control's manifest")
    for index, (dll, function) in enumerate(sorted(chosen.items())):
        definition, library = folder / f"import{index}.def", folder / f"libimport{index}.a"
        definition.write_text(f"LIBRARY {dll}\nEXPORTS\n{function}\n")
        _build([_DLLTOOL, "--input-def", str(definition), "--output-lib", str(library)],
               f"an import library of {dll}")
        objects.append(library)
    output = folder / "planting_control.exe"
    _build([MINGW_CC, "-O2", "-s", "-nostdlib", "-Wl,-e,control_start", "-Wl,--subsystem,windows",
            "-Wall", "-Wextra", "-Werror", "-I", str(folder), "-o", str(output),
            str(_SOURCES / "planting_control.c"), *map(str, objects), "-lkernel32"],
           "the control program")
    return output


def plant(dll: Path, names: list[str], *folders: Path) -> None:
    for folder in folders:
        folder.mkdir(parents=True, exist_ok=True)
        for name in names:
            shutil.copyfile(dll, folder / name)


def wine_settings(names: list[str], windows_marker: str) -> dict[str, str]:
    """Wine told to prefer a DLL beside the program for exactly these names, as Windows does, on
    top of the session's own overrides; and the planted DLLs' marker file."""
    stems = ",".join(name.removesuffix(".dll") for name in names)
    return {"WINEDLLOVERRIDES": f"{WINE_SETTINGS['WINEDLLOVERRIDES']};{stems}=n,b",
            MARKER_VARIABLE: windows_marker}


def ran(marker: Path) -> list[str]:
    """The paths of the planted DLLs that ran since the last call."""
    if not marker.exists():
        return []
    lines = marker.read_text(encoding="utf-8").splitlines()
    marker.unlink()
    return lines
