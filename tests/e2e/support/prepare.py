"""Session set-up steps for scripts/test and scripts/demo, shared with the test fixtures.

    prepare.py ca DIR                 make the test CA and the localhost certificate in DIR
    prepare.py bundle CA_DIR OUT      write the system CA bundle plus the test CA to OUT
    prepare.py xvfb                   start a detached Xvfb; prints "DISPLAY PID"
    prepare.py prefix DIR DISPLAY     create and boot a Wine prefix (wineserver keeps running)
    prepare.py stop-prefix DIR        end the prefix's processes and wineserver
    prepare.py wine-env               print the Wine settings as shell assignments
    prepare.py nginx DIR TREE CA_DIR  start a detached nginx on 127.0.0.1:443 serving TREE with
                                      its files in DIR; prints its PID
    prepare.py publish TOOL FIXTURE TREE VERSION
                                      publish a release of the fixture launcher into TREE
"""

from __future__ import annotations

import shlex
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from support import certificates, display, nginx_host, prefix, releases  # noqa: E402


def main(argv: list[str]) -> int:
    if len(argv) < 1:
        print(__doc__, file=sys.stderr)
        return 2
    command, args = argv[0], argv[1:]
    if command == "ca" and len(args) == 1:
        certificates.create(Path(args[0]))
    elif command == "bundle" and len(args) == 2:
        ca = certificates.CertificateAuthority(Path(args[0]))
        certificates.write_bundle(ca, Path(args[1]))
    elif command == "xvfb" and not args:
        server = display.start_xvfb(detach=True)
        print(server.display, server.process.pid)
    elif command == "prefix" and len(args) == 2:
        prefix.create_prefix(Path(args[0]), args[1] or None)
    elif command == "stop-prefix" and len(args) == 1:
        prefix.stop_wineserver(Path(args[0]))
    elif command == "wine-env" and not args:
        for name, value in prefix.WINE_SETTINGS.items():
            print(f"{name}={shlex.quote(value)}")
    elif command == "nginx" and len(args) == 3:
        ca = certificates.CertificateAuthority(Path(args[2]))
        try:
            host = nginx_host.start(Path(args[0]), Path(args[1]), ca, detach=True)
        except (OSError, RuntimeError) as error:
            print(error, file=sys.stderr)
            return 1
        print(host.process.pid)
    elif command == "publish" and len(args) == 4:
        tool, fixture, tree, version = args
        try:
            releases.publish_fixture(Path(tool), Path(fixture), Path(tree), version)
        except subprocess.CalledProcessError as error:
            sys.stderr.buffer.write(error.stdout + error.stderr)
            return 1
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
