"""check, promote and list: releases operated on a live host and in a published tree."""

from __future__ import annotations

import gzip
import json
from fnmatch import fnmatchcase
from pathlib import Path
import socket
import threading

import pytest

from conftest import KEYS, Tree, artifact_names, fake_launcher, last_line, manifest_of, publish
from support import nginx_host
from support.https_server import HttpsServer, Rule, redirect, status

MANIFEST = "/vantrel/launcher/stable/manifest.json"
SECRET, PUBLIC, OTHER = KEYS / "release-test.key", KEYS / "release-test.pub", KEYS / "other-test.pub"
STABLE, OLDER = "1.10.0", "1.9.0"  # numeric order differs from text order


def path_of(index: int, version: str = STABLE) -> str:
    return f"/vantrel/launcher/{version}/{artifact_names(version)[index]}"


@pytest.fixture
def site(tools, served_root) -> Tree:
    """OLDER and then STABLE published; the manifest names STABLE."""
    root = served_root / "site"
    for version in (OLDER, STABLE):
        assert publish(tools, SECRET, version, fake_launcher(30000), root).returncode == 0
    return Tree(root, STABLE)


@pytest.fixture
def server(site, test_ca):
    with HttpsServer(site.root, test_ca.server_certificate, test_ca.server_key, port=0) as running:
        yield running


def check(tools, port, test_ca, *extra):
    key = [] if "--key" in extra else ["--key", PUBLIC]
    return tools.run("check", *key, "--ca-file", test_ca.ca_certificate, *extra,
                     f"https://localhost:{port}")


def tampered(data: bytes) -> bytes:
    return data[:-40] + bytes([data[-40] ^ 1]) + data[-39:]


OK = "OK: a setup for localhost with this key installs launcher 1.10.0"
HTTP = "Network failed: The download server returned HTTP {}. Please retry later. On the host: "

# (rules for the server, given the tree; extra arguments; exit code; the verdict, * for any text)
SERVER_CASES = {
    "good": (lambda t: {}, [], 0, OK),
    "no-content-length": (lambda t: {path_of(0): Rule(content_length=None)}, [], 0, OK),
    "expected-version": (lambda t: {}, ["--expect-version", STABLE], 0, OK),
    "redirected-package": (lambda t: {path_of(0): redirect("/cdn/p", 301)}, [], 1,
                           HTTP.format(301) + f"serve {path_of(0)} itself with status 200"),
    "missing-companion": (lambda t: {path_of(2): status(404)}, [], 1,
                          HTTP.format(404) + f"upload {path_of(2)}"),
    "gzip-encoding": (lambda t: {path_of(1): Rule(body=gzip.compress(t.file(1).read_bytes()),
                                                  headers=(("Content-Encoding", "gzip"),))}, [], 1,
                      f"{path_of(1)} is served with Content-Encoding gzip"),
    "length-lies": (lambda t: {path_of(0): Rule(content_length=t.file(0).stat().st_size + 100)},
                    [], 1, f"{path_of(0)} declares Content-Length"),
    "not-uploaded": (lambda t: {MANIFEST: Rule(body=json.dumps(manifest_of("2.0.0")).encode())},
                     [], 1, HTTP.format(404) + f"upload {path_of(0, '2.0.0')}"),
    "big-manifest": (lambda t: {MANIFEST: Rule(body_size=16385)}, [], 1,
                     "Network failed: Download exceeds the setup size limit. On the host: "),
    "html": (lambda t: {MANIFEST: Rule(body=b"<html>Welcome</html>",
                                       headers=(("Content-Type", "text/html"),))}, [], 1,
             "Manifest failed: * On the host: the host answers an HTML page*"),
    "tampered": (lambda t: {path_of(0): Rule(body=tampered(t.file(0).read_bytes()))}, [], 1,
                 "Verification failed: "),
    "other-key": (lambda t: {}, ["--key", OTHER], 1, "Verification failed: "),
    "wrong-version": (lambda t: {}, ["--expect-version", OLDER], 1,
                      f"The stable manifest names release {STABLE}, not {OLDER}."),
}


@pytest.mark.parametrize("case", SERVER_CASES)
def test_check_against_the_test_server(tools, site, server, test_ca, case):
    rules, extra, code, verdict = SERVER_CASES[case]
    for path, rule in rules(site).items():
        server.set_rule(path, rule)
    result = check(tools, server.port, test_ca, *extra)
    assert result.returncode == code, result.stderr.decode()
    verdict_line = last_line(result.stderr if code else result.stdout)
    assert fnmatchcase(verdict_line, verdict + "*"), verdict_line


def test_check_asks_exactly_what_the_setup_asks(tools, site, server, test_ca):
    result = check(tools, server.port, test_ca)
    assert result.returncode == 0, result.stderr.decode()
    assert [r.path for r in server.requests] == [MANIFEST] + [path_of(i) for i in range(4)]
    for request in server.requests:
        assert (request.method, request.version) == ("GET", "HTTP/1.1")
        assert {name.lower() for name, _ in request.headers} == {"host", "user-agent"}
        assert request.header("User-Agent") == "VantrelSetup/0.1"
    manifest_line, warning, *file_lines, verdict = result.stdout.decode().splitlines()
    assert manifest_line.startswith(f"{MANIFEST}  200  400 bytes  -  identity  cache: -  ")
    assert [line.split("  ")[:2] for line in file_lines] == [[path_of(i), "200"] for i in range(4)]
    assert warning.startswith("Warning: the manifest has no Cache-Control header")
    assert verdict.endswith("needs at least 0.1 Mbit/s to arrive within the setup's 60 seconds")


@pytest.mark.parametrize("cache_control, warning", [
    ("max-age=3600", '"Cache-Control: max-age=3600" lets caches keep the manifest for 3600 seconds.'),
    ("public, max-age=60, s-maxage=86400", "for 86400 seconds."),
    ("max-age=300", None),
    ("no-cache, max-age=86400", None),
    ("No-Store", None),
])
def test_check_warns_of_a_manifest_that_caches_keep_too_long(tools, server, test_ca,
                                                           cache_control, warning):
    server.set_rule(MANIFEST, Rule(headers=(("Cache-Control", cache_control),)))
    result = check(tools, server.port, test_ca)
    assert result.returncode == 0, result.stderr.decode()
    warnings = [line for line in result.stdout.decode().splitlines() if line.startswith("Warning")]
    assert [warning in line for line in warnings] == ([True] if warning else [])


@pytest.mark.parametrize("url, complaint", [
    ("http://localhost", "is not a download host"),
    ("https://localhost/vantrel/", "is not a download host"),
    ("https://localhost?x=1", "is not a download host"),
    ("https://localhost:0", "is not a download host"),
    ("https://localhost:1", "Network failed: Could not reach localhost securely."),
])
def test_check_refuses_bad_urls_and_unreachable_hosts(tools, test_ca, url, complaint):
    result = tools.run("check", "--key", PUBLIC, "--ca-file", test_ca.ca_certificate, url)
    assert result.returncode == 1
    assert complaint in last_line(result.stderr)


def test_check_reports_a_certificate_that_does_not_verify(tools, server):
    result = tools.run("check", "--key", PUBLIC, f"https://localhost:{server.port}")
    assert result.returncode == 1
    assert "certificate" in last_line(result.stderr)
    assert server.requests == []


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@pytest.fixture
def nginx(site, test_ca, tmp_path):
    if not Path(nginx_host.NGINX).is_file():
        pytest.skip(f"{nginx_host.NGINX} is not installed")
    host = nginx_host.start(tmp_path / "nginx", site.root, test_ca, port=free_port())
    yield host
    host.stop()


@pytest.mark.parametrize("change, code, verdict", [
    (None, 0, OK),
    ((MANIFEST, json.dumps(manifest_of("2.0.0")).encode()), 1, HTTP.format(404)),
    ((path_of(0), b"half a package"), 1, "Verification failed: "),
])
def test_check_against_nginx(tools, site, nginx, test_ca, change, code, verdict):
    if change:
        site.root.joinpath(change[0].lstrip("/")).write_bytes(change[1])
    result = check(tools, nginx.port, test_ca)
    assert result.returncode == code, result.stderr.decode()
    assert fnmatchcase(last_line(result.stderr if code else result.stdout), verdict + "*")
    assert "Warning" not in result.stdout.decode()  # the recommended cache headers are sent
    assert "cache: public, max-age=31536000, immutable" in result.stdout.decode() or change


def promote(tools, root, version, key=PUBLIC):
    return tools.run("promote", "--key", key, "--version", version, root)


def test_promote_rolls_back_and_forward(tools, site, tmp_path):
    written_by_publish = site.manifest.read_bytes()
    assert promote(tools, site.root, OLDER).returncode == 0
    assert json.loads(site.manifest.read_text()) == manifest_of(OLDER)
    assert tools.run("verify", "--key", PUBLIC, site.root).returncode == 0
    result = promote(tools, site.root, STABLE)
    assert result.stdout.decode() == f"Stable now names launcher {STABLE} (was {OLDER})\n"
    assert site.manifest.read_bytes() == written_by_publish


@pytest.mark.parametrize("version, key, spoil, complaint", [
    (OLDER, PUBLIC, lambda t: Tree(t.root, OLDER).file(0).write_bytes(b"x"), "Verification failed"),
    (OLDER, PUBLIC, lambda t: Tree(t.root, OLDER).file(3).unlink(), "No such file"),
    (OLDER, OTHER, None, "Verification failed"),
    ("2.0.0", PUBLIC, None, "release 2.0.0 is not published in"),
    ("1.2", PUBLIC, None, 'version "1.2" would be refused by the setup'),
    (OLDER, KEYS / "missing.pub", None, "missing.pub: No such file"),
])
def test_promote_refuses_and_leaves_the_manifest(tools, site, version, key, spoil, complaint):
    before = site.manifest.read_bytes()
    if spoil:
        spoil(site)
    result = promote(tools, site.root, version, key)
    assert result.returncode == 1
    assert complaint in last_line(result.stderr)
    assert site.manifest.read_bytes() == before


def test_promote_and_list_refuse_a_folder_that_is_not_a_tree(tools, tmp_path):
    for command in (["promote", "--key", PUBLIC, "--version", STABLE], ["list"]):
        result = tools.run(*command, tmp_path)
        assert result.returncode == 1
        assert "not a published tree" in last_line(result.stderr)


def test_a_reader_never_sees_half_a_manifest(tools, site):
    seen, stop = [], threading.Event()

    def read_all_the_time():
        while not stop.is_set():
            seen.append(json.loads(site.manifest.read_bytes())["version"])

    reader = threading.Thread(target=read_all_the_time)
    reader.start()
    try:
        for version in [OLDER, STABLE] * 10:
            assert promote(tools, site.root, version).returncode == 0
    finally:
        stop.set()
        reader.join()
    assert set(seen) == {OLDER, STABLE}


def test_list_shows_size_verdict_and_stable(tools, site):
    Tree(site.root, OLDER).file(0).write_bytes(b"x")
    (site.root / "vantrel" / "launcher" / "notes").mkdir()
    lines = tools.run("list", "--key", PUBLIC, site.root).stdout.decode().splitlines()
    assert len(lines) == 2
    assert lines[0].startswith(f"{OLDER}  1 bytes  does not verify: Verification failed")
    size = site.file(0).stat().st_size
    assert lines[1] == f"{STABLE}  {size} bytes  verifies  stable"
    assert tools.run("list", site.root).stdout.decode().splitlines()[1] == f"{STABLE}  {size} bytes  stable"
