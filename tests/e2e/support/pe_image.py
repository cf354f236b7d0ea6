"""What a built Vantrel.exe imports, and the checks of its hardening (for the test build and the
production build alike).

GNU ld does not fill the delay-import directory for dlltool's delay libraries, so what the
program delay-loads is read from the .def files the build makes those libraries from.
"""

from __future__ import annotations

from pathlib import Path

import pefile

DELAY_IMPORTS = Path(__file__).resolve().parents[3] / "bootstrap" / "delay_imports"

# Windows 10 and 11's KnownDLLs (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs,
# without the WOW64 entries) and ntdll, which every process has: always loaded from System32.
KNOWN_DLLS = frozenset(name + ".dll" for name in (
    "advapi32", "clbcatq", "combase", "comdlg32", "coml2", "difxapi", "gdi32", "gdiplus",
    "imagehlp", "imm32", "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ntdll", "ole32",
    "oleaut32", "psapi", "rpcrt4", "sechost", "setupapi", "shcore", "shell32", "shlwapi",
    "user32", "wldap32", "ws2_32",
))  # fmt: skip
# Bound by the manifest to the side-by-side assembly in WinSxS, never looked up beside the program.
SIDE_BY_SIDE = frozenset({"comctl32.dll"})

LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
# The end of DependentLoadFlags (mingw-w64 and pefile call it Reserved1) in the 64-bit structure.
DEPENDENT_LOAD_FLAGS_END = 80
STACK_SMASHING_TEXT = b"stack smashing detected"  # libssp's __stack_chk_fail
RT_MANIFEST = 24


def resources(pe, type_id):
    """{resource id: data} of one resource type, whatever the language."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.id != type_id:
            continue
        for name_entry in type_entry.directory.entries:
            for language in name_entry.directory.entries:
                data = language.data.struct
                found[name_entry.id] = pe.get_data(data.OffsetToData, data.Size)
    return found


def static_imports(image: pefile.PE) -> dict[str, list[str]]:
    """{DLL name in lower case: the functions imported by name} of the import directory."""
    image.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    return {entry.dll.decode().lower(): [i.name.decode() for i in entry.imports if i.name]
            for entry in getattr(image, "DIRECTORY_ENTRY_IMPORT", [])}


def delayed_imports() -> dict[str, list[str]]:
    """{DLL name: the functions listed} of every delay library the build makes."""
    found = {}
    for definition in sorted(DELAY_IMPORTS.glob("*.def")):
        lines = [line.split(";")[0].strip() for line in definition.read_text().splitlines()]
        words = [line for line in lines if line]
        found[definition.stem + ".dll"] = words[words.index("EXPORTS") + 1:]
    return found


def check_imports_only_known_dlls(image: pefile.PE) -> None:
    others = set(static_imports(image)) - KNOWN_DLLS - SIDE_BY_SIDE
    assert not others, f"static imports outside the KnownDLLs: {sorted(others)}"


def check_load_configuration(image: pefile.PE) -> None:
    directory = image.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]]
    assert directory.VirtualAddress != 0, "no load-configuration directory"
    image.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]])
    config = image.DIRECTORY_ENTRY_LOAD_CONFIG.struct
    assert config.Size == directory.Size >= DEPENDENT_LOAD_FLAGS_END, (config.Size, directory.Size)
    assert config.Reserved1 == LOAD_LIBRARY_SEARCH_SYSTEM32, f"DependentLoadFlags {config.Reserved1:#x}"


def check_dll_characteristics(image: pefile.PE) -> None:
    flags = image.OPTIONAL_HEADER.DllCharacteristics
    missing = [name for name in ("DYNAMIC_BASE", "HIGH_ENTROPY_VA", "NX_COMPAT")
               if not flags & pefile.DLL_CHARACTERISTICS[f"IMAGE_DLLCHARACTERISTICS_{name}"]]
    assert not missing, f"DllCharacteristics {flags:#x} lack {missing}"


def check_stack_protector(image: pefile.PE) -> None:
    # The linker drops libssp's failure handler unless a guarded function calls it.
    assert image.__data__.find(STACK_SMASHING_TEXT) != -1, "no stack-protector check is linked"


HARDENING_CHECKS = {
    "imports-only-known-dlls": check_imports_only_known_dlls,
    "load-configuration": check_load_configuration,
    "aslr-high-entropy-dep": check_dll_characteristics,
    "stack-protector": check_stack_protector,
}
