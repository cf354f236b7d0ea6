"""The HTTPS download client against the scriptable release server, under Wine.

Each case runs tests/programs/download_client.exe once: it calls the real download with the
build's host (localhost in test builds) and prints the progress calls and the outcome.
"""

from __future__ import annotations

import hashlib
import os
import re
import socket
import time
from dataclasses import dataclass, field
from pathlib import Path

import pytest

from conftest import windows_build_file
from support import certificates
from support.https_server import (
    MANIFEST_PATH,
    HttpsServer,
    Rule,
    redirect,
    release_file_path,
    status,
    trickle,
)

HOST = "localhost"
MANIFEST_LIMIT = 16384
PACKAGE_LIMIT = 33554432
PACKAGE_PATH = release_file_path("0.2.0", "vantrel-launcher-0.2.0-windows-x86_64.tar.gz")
SIZE_MESSAGE = "Network failed: Download exceeds the setup size limit."
CONNECTION_FAILURE = re.compile(
    rf"Network failed: Could not reach {HOST} securely\. Check your connection and retry\. "
    r"(?P<text>\S.*\S) \(os error (?P<code>\d+)\)"
)


@dataclass
class Outcome:
    progress: list[tuple[int, int | None]] = field(default_factory=list)
    size: int | None = None
    sha256: str | None = None
    display: str | None = None

    @property
    def ok(self) -> bool:
        return self.size is not None


@pytest.fixture(scope="session")
def download_client() -> Path:
    return windows_build_file("tests/programs/download_client.exe")


@pytest.fixture
def fetch(wine, download_client):
    def run(path: str | bytes, limit: int, timeout: float = 60) -> Outcome:
        raw = path.encode() if isinstance(path, str) else path
        result = wine.run([download_client, raw.hex(), str(limit)], timeout=timeout)
        assert result.returncode in (0, 1), (result.returncode, result.stdout, result.stderr)
        return parse(result.stdout, result.returncode)

    return run


def parse(stdout: bytes, returncode: int) -> Outcome:
    assert b"\r" not in stdout, stdout
    assert stdout.endswith(b"\n"), stdout
    lines = stdout.decode().split("\n")[:-1]
    outcome = Outcome()
    while lines and lines[0].startswith("PROGRESS "):
        _, downloaded, total = lines.pop(0).split(" ")
        outcome.progress.append((int(downloaded), None if total == "-" else int(total)))
    if returncode == 0:
        assert len(lines) == 1 and lines[0].startswith("OK "), stdout
        _, size, digest = lines[0].split(" ")
        outcome.size, outcome.sha256 = int(size), digest
    else:
        assert len(lines) == 2 and lines[0] == "ERROR Network", stdout
        outcome.display = lines[1]
    return outcome


def assert_body(outcome: Outcome, body: bytes) -> None:
    assert outcome.display is None, outcome.display
    assert (outcome.size, outcome.sha256) == (len(body), hashlib.sha256(body).hexdigest())


def assert_progress_runs_to(outcome: Outcome, size: int, total: int | None) -> None:
    """0 first, then a strictly growing count in steps of one read at most, ending at size."""
    counts = [downloaded for downloaded, _ in outcome.progress]
    assert counts[0] == 0 and counts[-1] == size, counts
    assert all(0 < b - a <= 16384 for a, b in zip(counts, counts[1:])), counts
    assert {t for _, t in outcome.progress} == {total}, outcome.progress


def test_manifest_fetch_sends_one_plain_get(https_server, fetch):
    manifest = b'{"schema": 1, "version": "0.2.0", "platforms": {}}\n'
    https_server.publish(MANIFEST_PATH, manifest)
    outcome = fetch(MANIFEST_PATH, MANIFEST_LIMIT)
    assert_body(outcome, manifest)
    assert outcome.progress == [(0, len(manifest)), (len(manifest), len(manifest))]

    [request] = https_server.requests
    assert (request.method, request.path, request.version) == ("GET", MANIFEST_PATH, "HTTP/1.1")
    assert request.tls_version is not None and request.tls_version.startswith("TLS")
    assert request.header("User-Agent") == "VantrelSetup/0.1"
    assert request.header("Host") == HOST
    for absent in ("Cookie", "Authorization", "Referer", "Content-Length"):
        assert request.header(absent) is None, request.headers


def test_package_fetch_reports_every_chunk(https_server, fetch):
    package = os.urandom(200_000)
    https_server.publish(PACKAGE_PATH, package)
    outcome = fetch(PACKAGE_PATH, PACKAGE_LIMIT)
    assert_body(outcome, package)
    assert_progress_runs_to(outcome, len(package), len(package))
    assert len(outcome.progress) >= 1 + -(-len(package) // 16384)


def test_empty_body_gives_empty_result_after_one_progress_call(https_server, fetch):
    https_server.set_rule(MANIFEST_PATH, Rule(body=b""))
    outcome = fetch(MANIFEST_PATH, MANIFEST_LIMIT)
    assert_body(outcome, b"")
    assert outcome.progress == [(0, 0)]


@pytest.mark.parametrize(
    "rule",
    [Rule(content_length=None), Rule(chunked=True)],
    ids=["ends-with-connection", "chunked"],
)
def test_body_without_content_length_has_no_total(https_server, fetch, rule):
    package = os.urandom(70_000)
    https_server.publish(PACKAGE_PATH, package)
    https_server.set_rule(PACKAGE_PATH, rule)
    outcome = fetch(PACKAGE_PATH, PACKAGE_LIMIT)
    assert_body(outcome, package)
    assert_progress_runs_to(outcome, len(package), None)


@pytest.mark.parametrize("code", [201, 204, 206, 304, 403, 404, 500, 503])
def test_status_other_than_200_fails_with_the_status(https_server, fetch, code):
    https_server.set_rule(MANIFEST_PATH, status(code, b"" if code in (204, 304) else b"{}"))
    outcome = fetch(MANIFEST_PATH, MANIFEST_LIMIT)
    assert outcome.display == (
        f"Network failed: The download server returned HTTP {code}. Please retry later."
    )
    assert outcome.progress == []


@pytest.mark.parametrize("code", [301, 302, 303, 307, 308])
def test_redirect_is_not_followed(https_server, fetch, code):
    target = release_file_path("stable", "elsewhere.json")
    https_server.publish(target, b"{}")
    https_server.set_rule(MANIFEST_PATH, redirect(f"https://{HOST}{target}", code))
    outcome = fetch(MANIFEST_PATH, MANIFEST_LIMIT)
    assert outcome.display == (
        f"Network failed: The download server returned HTTP {code}. Please retry later."
    )
    assert len(https_server.requests_for(MANIFEST_PATH)) == 1
    assert https_server.requests_for(target) == []


LIMIT = 20000  # not a multiple of the read size, so the last read is a short one


@pytest.mark.parametrize(
    "rule, limit",
    [
        (Rule(body_size=LIMIT), LIMIT),
        (Rule(body_size=LIMIT, content_length=None), LIMIT),
        (Rule(body_size=LIMIT, chunked=True), LIMIT),
        (Rule(body_size=MANIFEST_LIMIT, content_length=None), MANIFEST_LIMIT),
    ],
    ids=["declared", "undeclared", "chunked", "one-read-undeclared"],
)
def test_body_of_exactly_the_limit_is_accepted(https_server, fetch, rule, limit):
    https_server.set_rule(PACKAGE_PATH, rule)
    outcome = fetch(PACKAGE_PATH, limit)
    assert outcome.ok, outcome.display
    assert outcome.size == limit


@pytest.mark.parametrize(
    "rule",
    [Rule(body_size=LIMIT + 1), Rule(body=b"0123456789", content_length=LIMIT + 1)],
    ids=["real-length", "overstated-length"],
)
def test_declared_length_above_the_limit_is_refused_before_the_body(https_server, fetch, rule):
    https_server.set_rule(PACKAGE_PATH, rule)
    outcome = fetch(PACKAGE_PATH, LIMIT)
    assert outcome.display == SIZE_MESSAGE
    assert outcome.progress == []  # the first call comes only after the length check


@pytest.mark.parametrize(
    "rule, limit",
    [
        (Rule(body_size=LIMIT + 1, content_length=None), LIMIT),
        (Rule(body_size=LIMIT + 1, chunked=True), LIMIT),
        (Rule(body_size=5 * 16384, content_length=None), MANIFEST_LIMIT),
        # A length below the limit does not let a longer body through.
        (Rule(body_size=LIMIT + 1, content_length=100, chunked=True), LIMIT),
    ],
    ids=["undeclared", "chunked", "far-past-one-read", "chunked-with-small-length"],
)
def test_body_growing_past_the_limit_is_refused_while_reading(https_server, fetch, rule, limit):
    https_server.set_rule(PACKAGE_PATH, rule)
    outcome = fetch(PACKAGE_PATH, limit)
    assert outcome.display == SIZE_MESSAGE
    counts = [downloaded for downloaded, _ in outcome.progress]
    assert counts and counts[0] == 0 and max(counts) <= limit, outcome.progress


def test_understated_content_length_ends_the_body_there(https_server, fetch):
    # The client trusts the framing WinHTTP reads; verification of the files happens later.
    body = os.urandom(5000)
    https_server.set_rule(PACKAGE_PATH, Rule(body=body, content_length=1000))
    outcome = fetch(PACKAGE_PATH, PACKAGE_LIMIT)
    assert_body(outcome, body[:1000])
    assert_progress_runs_to(outcome, 1000, 1000)


def test_overstated_content_length_does_not_pass_as_the_full_body(https_server, fetch):
    body = os.urandom(5000)
    https_server.set_rule(PACKAGE_PATH, Rule(body=body, content_length=9000))
    outcome = fetch(PACKAGE_PATH, PACKAGE_LIMIT)
    if outcome.ok:  # what Wine's WinHTTP does
        assert_body(outcome, body)  # the client does not compare the length it got
    else:
        assert CONNECTION_FAILURE.fullmatch(outcome.display), outcome.display
    assert all(total == 9000 for _, total in outcome.progress)


@pytest.mark.parametrize(
    "path",
    [
        b"",
        b"/vantrel/launcher",
        b"/vantrel/launcherx/stable/manifest.json",
        b"/vantrel/launche/stable/manifest.json",
        b"/Vantrel/launcher/stable/manifest.json",
        b"vantrel/launcher/stable/manifest.json",
        b"//vantrel/launcher/stable/manifest.json",
        b"/other/vantrel/launcher/stable/manifest.json",
        b"/vantrel/launcher/stable/manifest.json?x=1",
        b"/vantrel/launcher/stable/manifest.json#top",
        b"/vantrel/launcher/stable\\manifest.json",
        b"/vantrel/launcher/stable/manifest.json\r",
        b"/vantrel/launcher/stable/manifest.json\nHost: elsewhere",
        b"/vantrel/launcher/?",
        b"/vantrel/launcher/stable/manifest.json\x00.exe",
        b"/vantrel/launcher/\xff",
        b"/vantrel/launcher/\xe2\x80",
    ],
)
def test_path_outside_the_release_area_is_refused_before_connecting(https_server, fetch, path):
    https_server.publish(MANIFEST_PATH, b"{}")
    outcome = fetch(path, MANIFEST_LIMIT)
    assert outcome.display == "Network failed: Invalid CDN path."
    assert outcome.progress == []
    assert https_server.requests == [] and https_server.tls_failures == []


@pytest.fixture
def private_network(certificate_authority):
    """Nothing listens on 127.0.0.1:443: only sure inside scripts/test's own network."""
    if not certificate_authority.trusted_by_system():
        pytest.skip("not inside scripts/test's namespaces: port 443 may belong to someone else")
    with socket.socket() as probe:
        if probe.connect_ex(("127.0.0.1", 443)) == 0:
            pytest.fail("something listens on 127.0.0.1:443 in the test's own network")


def test_no_server_is_a_connection_failure(private_network, fetch):
    outcome = fetch(MANIFEST_PATH, MANIFEST_LIMIT)
    match = CONNECTION_FAILURE.fullmatch(outcome.display or "")
    assert match, outcome.display
    assert match["code"] == "12029"  # ERROR_WINHTTP_CANNOT_CONNECT
    # Windows keeps the texts of WinHTTP codes in winhttp.dll; Wine's has no message table,
    # so there the lookup failure is what the detail can show.
    assert match["text"] == "OS Error 12029 (FormatMessageW() returned error 317)" or not match[
        "text"
    ].startswith("OS Error"), match["text"]


def test_untrusted_certificate_is_refused(private_network, tmp_path, fetch):
    stranger = certificates.create(tmp_path / "stranger")
    root = tmp_path / "tree"
    root.mkdir()
    server = HttpsServer(root, stranger.server_certificate, stranger.server_key)
    with server:
        server.publish(MANIFEST_PATH, b"{}")
        outcome = fetch(MANIFEST_PATH, MANIFEST_LIMIT)
        assert server.requests == []
    match = CONNECTION_FAILURE.fullmatch(outcome.display or "")
    assert match, outcome.display
    # 12175 ERROR_WINHTTP_SECURE_FAILURE on Windows; Wine reports 12157
    # ERROR_WINHTTP_SECURE_CHANNEL_ERROR.
    assert match["code"] in ("12175", "12157"), outcome.display


def test_dropped_connection_is_a_connection_failure(https_server, fetch):
    https_server.set_rule(MANIFEST_PATH, Rule(drop=True))
    outcome = fetch(MANIFEST_PATH, MANIFEST_LIMIT)
    match = CONNECTION_FAILURE.fullmatch(outcome.display or "")
    assert match, outcome.display
    # A WinHTTP code on Windows; Wine at times passes on the socket's 10054 WSAECONNRESET.
    assert match["code"].startswith("12") or match["code"] == "10054", outcome.display
    assert outcome.progress == []


# Wine's WinHttpReadData waits until it can fill the buffer (or the body ends), so the
# trickles below send whole 16384-byte pieces: then every read returns exactly one piece.
PIECE = 16384


def test_slow_stalled_body_is_a_read_failure(https_server, fetch):
    """Slow (about 17 s): the body stalls past the 15-second receive timeout."""
    body = os.urandom(3 * PIECE)
    https_server.set_rule(PACKAGE_PATH, trickle(body, PIECE, 17.0))
    outcome = fetch(PACKAGE_PATH, PACKAGE_LIMIT, timeout=90)
    match = CONNECTION_FAILURE.fullmatch(outcome.display or "")
    assert match, outcome.display
    # 12002 ERROR_WINHTTP_TIMEOUT on Windows; Wine passes on the socket's 10060 WSAETIMEDOUT.
    assert match["code"] in ("12002", "10060"), outcome.display
    assert outcome.progress == [(0, len(body)), (PIECE, len(body))]


def test_slow_transfer_running_past_a_minute_times_out(https_server, fetch):
    """Slow (about 65 s): waits out the real 60-second transfer limit."""
    # A piece every 5 seconds, 95 seconds in all: each gap well inside the receive timeout,
    # so only the transfer limit can end it, at the first check after 60 seconds.
    body = os.urandom(20 * PIECE)
    https_server.set_rule(PACKAGE_PATH, trickle(body, PIECE, 5.0))
    started = time.monotonic()
    outcome = fetch(PACKAGE_PATH, PACKAGE_LIMIT, timeout=150)
    elapsed = time.monotonic() - started
    assert outcome.display == "Network failed: Download timed out. Please retry."
    assert 60 < elapsed < 85, elapsed
    received = max(downloaded for downloaded, _ in outcome.progress)
    assert 11 * PIECE <= received <= 14 * PIECE, outcome.progress
