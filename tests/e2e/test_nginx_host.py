"""The demo's nginx configuration serves a published release tree as the setup needs it.

nginx runs on a free loopback port with the session's test CA; the client is Python's, trusting
that CA, so no Wine is needed.
"""

from __future__ import annotations

import http.client
import shutil
import socket
import ssl
import tempfile
from pathlib import Path

import pytest

from conftest import windows_build_file
from support import nginx_host, releases
from support.certificates import SERVER_HOST
from support.https_server import MANIFEST_PATH

VERSION = "3.2.1"


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind((nginx_host.ADDRESS, 0))
        return probe.getsockname()[1]


@pytest.fixture(scope="module")
def host(certificate_authority, release_tool):
    if not Path(nginx_host.NGINX).is_file():
        pytest.skip(f"{nginx_host.NGINX} is missing: scripts/setup installs nginx")
    fixture = windows_build_file("tests/programs/fixture_launcher.exe")
    # Not below pytest's folders: nginx's workers (nobody, under root) must reach the tree.
    scratch = Path(tempfile.mkdtemp(prefix="vantrel-nginx-"))
    scratch.chmod(0o711)
    tree = scratch / "site"
    try:
        releases.publish_fixture(release_tool, fixture, tree, VERSION)
        server = nginx_host.start(scratch / "nginx", tree, certificate_authority, free_port())
        try:
            yield server, tree
        finally:
            server.stop()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


@pytest.fixture(scope="module")
def request_(host, certificate_authority):
    server, _ = host
    context = ssl.create_default_context(cafile=str(certificate_authority.ca_certificate))

    def send(method: str, path: str, headers: dict[str, str] | None = None):
        connection = http.client.HTTPSConnection(
            SERVER_HOST, server.port, context=context, timeout=10
        )
        try:
            connection.request(method, path, headers=headers or {})
            response = connection.getresponse()
            return response, response.read()
        finally:
            connection.close()

    return send


def published_files(tree: Path) -> list[str]:
    return sorted("/" + p.relative_to(tree).as_posix() for p in tree.rglob("*") if p.is_file())


def test_every_published_file_is_served_whole_with_its_length(host, request_):
    _, tree = host
    paths = published_files(tree)
    assert MANIFEST_PATH in paths and len(paths) == 5, paths
    for path in paths:
        content = (tree / path.lstrip("/")).read_bytes()
        # A client that offers gzip still gets the plain bytes: the setup counts them.
        response, body = request_("GET", path, {"Accept-Encoding": "gzip"})
        assert (response.status, body) == (200, content), path
        assert response.getheader("Content-Length") == str(len(content)), path
        assert response.getheader("Content-Encoding") is None, path
        assert response.getheader("Transfer-Encoding") is None, path
        head, head_body = request_("HEAD", path)
        assert (head.status, head_body) == (200, b""), path
        assert head.getheader("Content-Length") == str(len(content)), path


@pytest.mark.parametrize(
    "method, path, status",
    [
        ("POST", MANIFEST_PATH, 403),
        ("PUT", f"/vantrel/launcher/{VERSION}/new.exe", 403),
        ("DELETE", MANIFEST_PATH, 403),
        ("GET", "/vantrel/launcher/", 403),  # no listing
        ("GET", f"/vantrel/launcher/{VERSION}/", 403),
        ("GET", "/vantrel/launcher/9.9.9/missing.tar.gz", 404),
        ("GET", "/../nginx/nginx.conf", 400),  # nothing above the tree
    ],
)
def test_what_a_static_host_refuses(request_, method, path, status):
    response, _ = request_(method, path)
    assert response.status == status

