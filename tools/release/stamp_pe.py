"""Gives a linked Windows image the build's time, its load configuration and a matching checksum.

The linker writes no time stamp (the build must not depend on when it ran); the image
instead carries SOURCE_DATE_EPOCH, 0 when unset, as its COFF time stamp. GNU ld keeps the
program's `_load_config_used` structure but leaves the load-configuration directory empty:
the directory is pointed at the structure, found through the link map, with the size that
the structure's first field gives. The PE checksum is computed again over the result.

    stamp_pe.py IMAGE MAP
"""

import os
import re
import sys

import pefile

LOAD_CONFIG_SYMBOL = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+_load_config_used$", re.MULTILINE)


def load_config_address(map_path: str) -> int:
    with open(map_path, encoding="utf-8", errors="replace") as text:
        found = LOAD_CONFIG_SYMBOL.findall(text.read())
    if len(found) != 1:
        raise SystemExit(f"stamp_pe.py: {map_path} names _load_config_used {len(found)} times")
    return int(found[0], 16)


def main() -> int:
    path, map_path = sys.argv[1:]
    stamp = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    image = pefile.PE(path, fast_load=True)
    image.FILE_HEADER.TimeDateStamp = stamp & 0xFFFFFFFF
    rva = load_config_address(map_path) - image.OPTIONAL_HEADER.ImageBase
    directory = image.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]]
    directory.VirtualAddress, directory.Size = rva, image.get_dword_at_rva(rva)
    image.OPTIONAL_HEADER.CheckSum = image.generate_checksum()
    data = image.write()
    image.close()
    with open(path, "wb") as out:
        out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
