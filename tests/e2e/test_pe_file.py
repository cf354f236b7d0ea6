"""Checks of the built Vantrel.exe as a file: PE headers, hardening, resources and the embedded
banner."""

import os
import pathlib
import struct
import xml.etree.ElementTree as ElementTree
import zlib

import pytest

pefile = pytest.importorskip("pefile", reason="pefile is not installed (run with /usr/bin/python3)")
from support import pe_image  # noqa: E402 - needs pefile
from support.pe_image import RT_MANIFEST, resources  # noqa: E402

REPO_ROOT = pathlib.Path(__file__).resolve().parents[2]
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
RT_ICON, RT_GROUP_ICON = 3, 14
# Players download the setup: it stays under 1.5 MB.
SIZE_LIMIT = 1_500_000

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


def exe_path():
    build_dir = pathlib.Path(os.environ.get("VANTREL_BUILD_DIR", REPO_ROOT / "build" / "windows"))
    return build_dir / "Vantrel.exe"


@pytest.fixture(scope="module")
def pe():
    path = exe_path()
    if not path.is_file():
        pytest.skip(f"{path} does not exist: build the windows preset (or set VANTREL_BUILD_DIR)")
    image = pefile.PE(str(path))
    yield image
    image.close()


def png_chunks(data, start):
    """(kind, payload) of the PNG file at data[start:], checking each chunk's CRC."""
    assert data[start:start + 8] == PNG_SIGNATURE
    offset = start + 8
    while True:
        length, = struct.unpack_from(">I", data, offset)
        kind = data[offset + 4:offset + 8]
        payload = data[offset + 8:offset + 8 + length]
        crc, = struct.unpack_from(">I", data, offset + 8 + length)
        assert crc == zlib.crc32(kind + payload), f"bad CRC in {kind!r} chunk"
        yield kind, payload
        if kind == b"IEND":
            return
        offset += 12 + length


# --- headers ---------------------------------------------------------------------------------

@pytest.mark.parametrize("field, expected", [
    (lambda pe: pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]),
    (lambda pe: pe.OPTIONAL_HEADER.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS),
    (lambda pe: pe.OPTIONAL_HEADER.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]),
], ids=["machine-amd64", "pe32-plus", "subsystem-gui"])
def test_header(pe, field, expected):
    assert field(pe) == expected


@pytest.mark.parametrize("check", pe_image.HARDENING_CHECKS.values(),
                         ids=pe_image.HARDENING_CHECKS.keys())
def test_hardening(pe, check):
    check(pe)


def test_program_stays_under_the_size_limit(pe):
    size = exe_path().stat().st_size
    assert size < SIZE_LIMIT, f"Vantrel.exe is {size:,} bytes"


# --- manifest --------------------------------------------------------------------------------

@pytest.fixture(scope="module")
def manifest(pe):
    found = resources(pe, RT_MANIFEST)
    assert list(found) == [1], "one application manifest, id 1"
    # Windows refuses to start a program whose manifest is not well-formed XML.
    return ElementTree.fromstring(found[1])


def test_manifest_asks_for_no_elevation(manifest):
    level = manifest.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
                          f"{ASM_V3}requestedExecutionLevel")
    assert level is not None
    assert (level.get("level"), level.get("uiAccess")) == ("asInvoker", "false")


def test_manifest_depends_on_common_controls_6(manifest):
    identities = [element.attrib for element in manifest.iter(f"{ASM_V1}assemblyIdentity")]
    assert {
        "type": "win32",
        "name": "Microsoft.Windows.Common-Controls",
        "version": "6.0.0.0",
        "processorArchitecture": "amd64",
        "publicKeyToken": "6595b64144ccf1df",
        "language": "*",
    } in identities


# --- version information ---------------------------------------------------------------------

@pytest.fixture(scope="module")
def version_strings(pe):
    tables = [table for info in getattr(pe, "FileInfo", []) for entry in info
              if entry.Key == b"StringFileInfo" for table in entry.StringTable]
    assert [table.LangID for table in tables] == [b"040904b0"]
    return {key.decode(): value.decode() for key, value in tables[0].entries.items()}


@pytest.mark.parametrize("key, expected", [
    ("CompanyName", "Orvanis"),
    ("FileDescription", "Orvanis Launcher Setup"),
    ("ProductName", "Orvanis Launcher Setup"),
    ("FileVersion", "0.1.17"),
    ("ProductVersion", "0.1.17"),
    ("OriginalFilename", "Vantrel.exe"),
    ("InternalName", "Vantrel"),
])
def test_version_string(version_strings, key, expected):
    assert version_strings.get(key) == expected


def test_copyright_names_the_company(version_strings):
    assert "Orvanis" in version_strings.get("LegalCopyright", "")


def test_translation_is_us_english_unicode(pe):
    translations = [var.entry for info in pe.FileInfo for entry in info
                    if entry.Key == b"VarFileInfo" for var in entry.Var]
    assert translations == [{b"Translation": "0x0409 0x04b0"}]


@pytest.mark.parametrize("most, least", [
    ("FileVersionMS", "FileVersionLS"),
    ("ProductVersionMS", "ProductVersionLS"),
])
def test_fixed_version_is_0_1_17_0(pe, most, least):
    fixed = pe.VS_FIXEDFILEINFO[0]
    high, low = getattr(fixed, most), getattr(fixed, least)
    assert (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF) == (0, 1, 17, 0)


# --- icon ------------------------------------------------------------------------------------

@pytest.fixture(scope="module")
def icon_group(pe):
    """[(size, bit count, declared byte count, icon data)] of icon group 1."""
    groups = resources(pe, RT_GROUP_ICON)
    assert 1 in groups, "icon group 1"
    icons = resources(pe, RT_ICON)
    data = groups[1]
    reserved, kind, count = struct.unpack_from("<HHH", data)
    assert (reserved, kind) == (0, 1)
    assert len(data) == 6 + 14 * count
    entries = []
    for index in range(count):
        width, height, _, _, _, bits, size, icon_id = struct.unpack_from(
            "<BBBBHHIH", data, 6 + 14 * index)
        assert width == height
        assert icon_id in icons, f"group entry {index} names no icon {icon_id}"
        entries.append((width or 256, bits, size, icons[icon_id]))
    return entries


def test_icon_group_has_the_usual_sizes(icon_group):
    assert sorted(size for size, _, _, _ in icon_group) == [16, 32, 48, 256]


def test_icon_entries_hold_the_declared_images(icon_group):
    for size, bits, declared, data in icon_group:
        assert (bits, declared) == (32, len(data)), f"{size} px entry"
        if data.startswith(PNG_SIGNATURE):
            width, height, depth, colour = struct.unpack_from(">IIBB", data, 16)
            assert (width, height, depth, colour) == (size, size, 8, 6)
        else:
            header, width, height, planes, bitcount = struct.unpack_from("<IiiHH", data)
            assert (header, width, height, planes, bitcount) == (40, size, 2 * size, 1, 32)
            mask_stride = (size + 31) // 32 * 4
            assert len(data) == 40 + 4 * size * size + mask_stride * size


# --- banner ----------------------------------------------------------------------------------

def test_banner_is_carried_in_program_data(pe):
    data = pe.__data__
    banners = []
    start = data.find(PNG_SIGNATURE)
    while start != -1:
        width, height, depth, colour = struct.unpack_from(">IIBB", data, start + 16)
        if data[start + 12:start + 16] == b"IHDR" and (width, height) == (960, 720):
            banners.append((start, depth, colour))
        start = data.find(PNG_SIGNATURE, start + 1)
    assert len(banners) == 1, "exactly one 960 x 720 PNG image in the file"
    start, depth, colour = banners[0]
    assert (depth, colour) == (8, 6), "8 bits per sample, RGBA"

    section = pe.get_section_by_offset(start)
    assert section is not None
    assert section.Name.rstrip(b"\0") != b".rsrc", "the banner is data, not a resource"

    idat = b"".join(payload for kind, payload in png_chunks(data, start) if kind == b"IDAT")
    rows = zlib.decompress(idat)
    stride = 1 + 960 * 4
    assert len(rows) == 720 * stride
    assert all(rows[y * stride] <= 4 for y in range(720)), "row filter types 0..4"
