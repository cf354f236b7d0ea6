#!/usr/bin/env python3
"""Draws the program's artwork into a build folder.

Writes banner.png (the wizard's banner), vantrel.ico (the program icon) and
banner_image.cpp (the banner's bytes as program data). Standard library only;
the same inputs always give the same bytes.
"""

import argparse
import os
import pathlib

import banner
import embed
import ico_file
import icon
import png_file


def _write(path, data):
    """Replaces path as a whole, so an interrupted run leaves no half-written output."""
    partial = path.with_name(path.name + ".partial")
    partial.write_bytes(data)
    os.replace(partial, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out_dir", type=pathlib.Path)
    out_dir = parser.parse_args().out_dir
    out_dir.mkdir(parents=True, exist_ok=True)

    banner_png = png_file.encode(banner.WIDTH, banner.HEIGHT, banner.draw())
    _write(out_dir / "banner.png", banner_png)
    _write(out_dir / "vantrel.ico", ico_file.encode([(size, icon.draw(size)) for size in icon.SIZES]))
    source = embed.cpp_source(banner_png, header="lib/banner_image.hpp", namespace="vantrel",
                              function="banner_png", origin="banner.png")
    _write(out_dir / "banner_image.cpp", source.encode("ascii"))


if __name__ == "__main__":
    main()
