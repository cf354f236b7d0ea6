"""Binary planting under Wine. Windows looks for a DLL that is not a KnownDLL in the program's own
folder first, so a player's Downloads folder could hand the setup a DLL of anyone's. DLLs named
after every such DLL the setup imports or the system DLLs it uses load later are planted in the
folder each role is started from and in the current folder, and Wine, which prefers its own DLLs,
is told to prefer those as Windows would (n,b). No planted DLL may run, and each role still does
its work.

Wine loads a few DLLs before any code of a program runs, whatever its first statement (Windows
does not: tests/platform-facts.md). A control program with the setup's manifest and its imports
of KnownDLLs, whose first statement confines DLL loads to System32, finds those names; they are
left out, with the reason printed.
"""

from __future__ import annotations

import subprocess
from pathlib import Path

import pefile
import pytest

from support import pe_image, planting
from support.wizard import WELCOME, Wizard
from test_console import HANDED_OVER, clean, console, updated  # noqa: F401 - fixtures
from test_entry import VERSION_LINE
from test_uninstall import CONFIRMATION, SUCCESS, answer  # noqa: F401 - fixture
from test_update import programs, publish  # noqa: F401 - fixtures

# Not KnownDLLs, and loaded later by the system DLLs the roles use, on Windows or under Wine:
# crypto, TLS and its security packages, name resolution, proxies, theming, imaging, shell
# property stores, version resources.
LATER_LOADS = ("bcrypt", "crypt32", "cryptbase", "cryptsp", "dnsapi", "dwmapi", "iphlpapi",
               "jsproxy", "kerberos", "msimg32", "msv1_0", "netapi32", "propsys", "rsaenh",
               "schannel", "secur32", "sspicli", "userenv", "uxtheme", "version",
               "windowscodecs", "wintrust")  # fmt: skip
# Wine's own DLLs resolve their delay imports with the program's folder first, whatever
# SetDefaultDllDirectories says (Windows does not): measured for winhttp's crypt32, bcrypt and
# secur32 on the HTTPS path and uxtheme's msimg32 under a message box, which the control program
# does not reach (tests/platform-facts.md).
WINE_DELAY_LOADS = ("bcrypt.dll", "crypt32.dll", "msimg32.dll", "secur32.dll")


def dll_names(paths: list[str]) -> list[str]:
    return sorted({path.rsplit("\\", 1)[-1].lower() for path in paths})


def test_no_role_runs_a_dll_planted_beside_it(wine, vantrel_exe, console, publish, clean,
                                              programs, answer, tmp_path):  # noqa: F811
    image = pefile.PE(str(vantrel_exe))
    imports = pe_image.static_imports(image)
    allowed = pe_image.KNOWN_DLLS | pe_image.SIDE_BY_SIDE
    exports = {dll: functions for dll, functions in imports.items() if dll not in allowed}
    for dll, functions in pe_image.delayed_imports().items():
        exports.setdefault(dll, []).extend(functions)
    candidates = sorted(set(exports) | {name + ".dll" for name in LATER_LOADS})
    stub = planting.build_planted_dll(tmp_path / "dll",
                                      {f for functions in exports.values() for f in functions})
    marker = tmp_path / "planted-ran.txt"
    windows_marker = wine.prefix.windows_path(marker)

    control_folder = tmp_path / "control"
    control = planting.build_control(
        control_folder, {dll: functions for dll, functions in imports.items() if dll in allowed},
        pe_image.resources(image, pe_image.RT_MANIFEST)[1])
    planting.plant(stub, candidates, control_folder)
    loaded_anyway: list[str] = []
    for _ in candidates:  # a planted DLL that stops the start hides those loaded after it
        preferred = [name for name in candidates if name not in loaded_anyway]
        wine.run([control], cwd=control_folder,
                 env=planting.wine_settings(preferred, windows_marker))
        if not (found := dll_names(planting.ran(marker))):
            break
        loaded_anyway += found
    # The setup's own imports are planted whatever Wine does with them.
    reasons = dict.fromkeys(loaded_anyway, "Wine loads it from the program's folder before the "
                                           "program's first statement runs")
    reasons.update(dict.fromkeys(WINE_DELAY_LOADS, "a delay import of Wine's own DLLs, which "
                                                   "Wine looks up in the program's folder first"))
    for name in sorted(reasons.keys() - exports.keys()):
        print(f"not planted: {name}: {reasons[name]} (tests/platform-facts.md)")
    planted = [name for name in candidates if name in exports or name not in reasons]
    env = planting.wine_settings(planted, windows_marker)

    download, here, product = tmp_path / "Downloads" / "Vantrel.exe", tmp_path / "here", clean
    planting.plant(stub, planted, download.parent, here, product)
    publish("1.0.0")

    def version():
        result = wine.run([download, "--version"], cwd=here, env=env)
        assert (result.returncode, result.stdout) == (0, VERSION_LINE)

    def first_install():
        run = console(env=env, cwd=here)
        assert (run.code, run.out, run.err) == (0, HANDED_OVER + updated("1.0.0"), b"")

    def wizard_first_page():
        with Wizard(wine, download, programs, env=env, cwd=here) as wizard:
            wizard.wait_page(WELCOME)
            wizard.close()
            assert wizard.exit_code() == 0

    def uninstall_and_its_worker():
        request = subprocess.Popen(["wine", product / "Vantrel.exe", "--uninstall"], cwd=here,
                                   env=wine.environment(env), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        assert answer("yes").text == CONFIRMATION
        assert request.wait(30) == 0
        assert answer("ok").text == SUCCESS  # the worker's box

    print(f"planted {', '.join(planted)} in {download.parent}, {here} and {product}")
    problems = []
    for role, run in [("--version", version), ("--console, a first install", first_install),
                      ("the wizard's first page", wizard_first_page),
                      ("--uninstall and its worker", uninstall_and_its_worker)]:
        before = len(problems)
        try:
            run()
        except AssertionError as failure:
            problems.append(f"{role} did not do its work: {failure}")
        if ran := planting.ran(marker):
            problems.append(f"{role} ran planted DLLs: {', '.join(ran)}")
        print(f"{role}: {'ok' if len(problems) == before else 'FAILED'}")
    assert not problems, "\n".join(problems)
