"""The process entry: command-line splitting, the option table, --version and the usage error,
run for real under Wine."""

from __future__ import annotations

import shutil

import pytest

VERSION_LINE = b"VantrelSetup 0.1.17\n"
USAGE_LINE = b"Open this program without arguments to install or update the launcher.\n"


def test_version_prints_its_line_and_touches_no_files(vantrel, wine):
    before = wine.prefix.user_files()
    result = vantrel(["--version"])
    assert (result.returncode, result.stdout, result.stderr) == (0, VERSION_LINE, b"")
    assert wine.prefix.user_files() == before


@pytest.mark.parametrize(
    "args",
    [
        ["--VERSION"],
        ["--Version"],
        ["--console=yes"],
        ["--version=1"],
        ["-version"],
        ["-v"],
        ["/version"],
        ["/console"],
        ["--repair", "--console"],
        ["--version", "--version"],
        [""],
        ["--help"],
        ["--console "],
    ],
    ids=lambda args: " ".join(repr(a) for a in args),
)
def test_anything_but_a_sole_exact_option_is_a_usage_error(vantrel, args):
    result = vantrel(args)
    assert (result.returncode, result.stdout, result.stderr) == (2, b"", USAGE_LINE)


def exact(wine, exe, command_line):
    return wine.run_command_line(exe, command_line)


@pytest.fixture
def exe_in_folder_with_spaces(tmp_path, vantrel_exe):
    folder = tmp_path / "Program Files" / "Orvanis Setup"
    folder.mkdir(parents=True)
    return shutil.copy2(vantrel_exe, folder / "Vantrel.exe")


def test_exact_command_lines(wine, exe_in_folder_with_spaces):
    exe = exe_in_folder_with_spaces
    quoted = f'"{wine.prefix.windows_path(exe)}"'
    unquoted = wine.prefix.windows_path(exe)
    cases = [
        (f"{quoted} --version", 0, VERSION_LINE, b""),
        (f'{quoted} "--version"', 0, VERSION_LINE, b""),
        (f'{quoted} --ver"sion"', 0, VERSION_LINE, b""),
        (f"{quoted}\t--version\t ", 0, VERSION_LINE, b""),
        (f"{unquoted} --version", 2, b"", USAGE_LINE),
        (f'{quoted} ""', 2, b"", USAGE_LINE),
        (f'{quoted} "" --version', 2, b"", USAGE_LINE),
        (f'{quoted} --repair --console', 2, b"", USAGE_LINE),
        (f"{quoted} --vers\ud800ion", 2, b"", USAGE_LINE),
    ]
    for command_line, code, stdout, stderr in cases:
        result = exact(wine, exe, command_line)
        assert (result.returncode, result.stdout, result.stderr) == (code, stdout, stderr), (
            command_line
        )
