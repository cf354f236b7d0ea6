"""nginx as the download server: a plain static HTTPS host for a release tree on loopback.

Debian's nginx binary runs with a configuration of its own in a scratch folder (pid file, logs
and temporary folders there), never the system service's. It serves the tree as any static host
would: files with status 200 and their real Content-Length, GET and HEAD only, no listings.

Run as root, nginx's workers drop to nobody: the tree and every folder above it must be
readable and searchable by others.
"""

from __future__ import annotations

import os
import socket
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

from support.certificates import SERVER_HOST, CertificateAuthority
from support.processes import stop_process

NGINX = "/usr/sbin/nginx"
MIME_TYPES = Path("/etc/nginx/mime.types")  # Debian's, from nginx-common
ADDRESS = "127.0.0.1"
WORKER_USER = "nobody nogroup"
_TEMP_KINDS = ("client_body", "proxy", "fastcgi", "uwsgi", "scgi")
MANIFEST_CACHE_CONTROL = "no-cache"
VERSIONED_CACHE_CONTROL = "public, max-age=31536000, immutable"


def _locations(tree: Path | None, upstream: str | None, refused: tuple[str, ...]) -> str:
    refusals = "".join(f"        location = {path} {{ return 404; }}\n" for path in refused)
    if upstream:
        # In front of an object store, as a CDN is: its stored headers pass through unchanged.
        return (f"{refusals}"
                "        location / {\n"
                "            limit_except GET { deny all; }\n"
                f"            proxy_pass {upstream};\n"
                "        }\n")
    return (
        f"{refusals}"
        f"        root {tree};\n"
        "        autoindex off;\n"
        "        location / {\n"
        "            limit_except GET { deny all; }\n"  # GET includes HEAD
        "        }\n"
        "        # The recommended cache headers: a release's files never change; the manifest\n"
        "        # is revalidated, so that a new release reaches every player at once.\n"
        "        location /vantrel/launcher/ {\n"
        "            limit_except GET { deny all; }\n"
        f"            add_header Cache-Control \"{VERSIONED_CACHE_CONTROL}\";\n"
        "        }\n"
        "        location = /vantrel/launcher/stable/manifest.json {\n"
        "            limit_except GET { deny all; }\n"
        f"            add_header Cache-Control \"{MANIFEST_CACHE_CONTROL}\";\n"
        "        }\n"
    )


def config_text(folder: Path, tree: Path | None, ca: CertificateAuthority, port: int,
                upstream: str | None = None, refused: tuple[str, ...] = ()) -> str:
    # The compiled-in temporary folders lie under /var/lib/nginx: point each into the folder.
    temp_paths = "".join(f"    {kind}_temp_path {folder}/temp/{kind};\n" for kind in _TEMP_KINDS)
    user = f"user {WORKER_USER};\n" if os.geteuid() == 0 else ""
    return (
        f"{user}"
        "daemon off;\n"
        "worker_processes 1;\n"
        f"pid {folder}/nginx.pid;\n"
        f"error_log {folder}/error.log warn;\n"
        "events { worker_connections 64; }\n"
        "http {\n"
        f"    include {MIME_TYPES};\n"
        "    default_type application/octet-stream;\n"
        f"    access_log {folder}/access.log;\n"
        f"{temp_paths}"
        "    server_tokens off;\n"
        "    sendfile on;\n"
        "    # The setup reads the size from Content-Length: no compressed or chunked answers.\n"
        "    gzip off;\n"
        "    server {\n"
        f"        listen {ADDRESS}:{port} ssl;\n"
        f"        server_name {SERVER_HOST};\n"
        f"        ssl_certificate {ca.server_certificate};\n"
        f"        ssl_certificate_key {ca.server_key};\n"
        "        ssl_protocols TLSv1.2 TLSv1.3;\n"
        f"{_locations(tree, upstream, refused)}"
        "    }\n"
        "}\n"
    )


@dataclass
class NginxHost:
    folder: Path
    port: int
    process: subprocess.Popen | None = None

    @property
    def pid_file(self) -> Path:
        return self.folder / "nginx.pid"

    @property
    def access_log(self) -> Path:
        return self.folder / "access.log"

    @property
    def error_log(self) -> Path:
        return self.folder / "error.log"

    def stop(self) -> None:
        stop_process(self.process)


def _accepts(port: int) -> bool:
    try:
        with socket.create_connection((ADDRESS, port), timeout=1):
            return True
    except OSError:
        return False


def start(folder: Path, tree: Path | None, ca: CertificateAuthority, port: int = 443,
          detach: bool = False, timeout: float = 20, upstream: str | None = None,
          refused: tuple[str, ...] = ()) -> NginxHost:
    """Writes the configuration into `folder` and starts nginx; returns once it accepts
    connections. With `upstream` (an http:// URL ending in "/") it proxies every path there
    instead of serving `tree`; the paths in `refused` are answered 404.

    Raises RuntimeError with the error log when nginx ends first or does not get ready.
    """
    folder.mkdir(parents=True, exist_ok=True)
    for kind in _TEMP_KINDS:
        (folder / "temp" / kind).mkdir(parents=True, exist_ok=True)
    config = folder / "nginx.conf"
    config.write_text(config_text(folder, tree, ca, port, upstream, refused))
    host = NginxHost(folder, port)
    # -e: the log for errors before the configuration is read, in place of the compiled-in one.
    host.process = subprocess.Popen(
        [NGINX, "-p", f"{folder}/", "-c", str(config), "-e", str(host.error_log)],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        start_new_session=detach,
    )  # fmt: skip
    deadline = time.monotonic() + timeout
    # nginx writes its pid file once it has bound the port, so a connection is then its own.
    while not (host.pid_file.is_file() and _accepts(port)):
        if host.process.poll() is not None or time.monotonic() > deadline:
            host.stop()
            log = host.error_log.read_text() if host.error_log.is_file() else "(no error log)"
            raise RuntimeError(f"nginx did not start on {ADDRESS}:{port}:\n{log}")
        time.sleep(0.05)
    return host
