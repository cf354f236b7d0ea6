"""Gives a linked Windows image the build's time and a matching checksum.

The linker writes no time stamp (the build must not depend on when it ran); the image
instead carries SOURCE_DATE_EPOCH, 0 when unset, as its COFF time stamp, and the PE
checksum is computed again over the result.

    stamp_pe.py IMAGE
"""

import os
import sys

import pefile


def main() -> int:
    path = sys.argv[1]
    stamp = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    image = pefile.PE(path, fast_load=True)
    image.FILE_HEADER.TimeDateStamp = stamp & 0xFFFFFFFF
    image.OPTIONAL_HEADER.CheckSum = image.generate_checksum()
    data = image.write()
    image.close()
    with open(path, "wb") as out:
        out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
