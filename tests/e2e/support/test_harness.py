"""Checks of the test harness itself: the release server's behaviours seen through Python's own
TLS and HTTP clients, the prefix helpers, and how command lines reach a program under Wine."""

from __future__ import annotations

import http.client
import os
import socket
import ssl
import subprocess
import time

import pytest

from support import certificates, prefix
from support.https_server import (
    AUTOMATIC,
    MANIFEST_PATH,
    HttpsServer,
    Rule,
    redirect,
    release_file_path,
    status,
    trickle,
)
from support.wine import decode_command_line, encode_command_line

PACKAGE = release_file_path("1.2.3", "vantrel-launcher-windows-x86_64.tar.gz")


@pytest.fixture
def server(certificate_authority, tmp_path):
    root = tmp_path / "tree"
    root.mkdir()
    ca = certificate_authority
    with HttpsServer(root, ca.server_certificate, ca.server_key, port=0) as running:
        yield running


@pytest.fixture
def client_context(certificate_authority):
    return ssl.create_default_context(cafile=str(certificate_authority.ca_certificate))


class RawResponse:
    def __init__(self, data: bytes, first_byte: float | None, done: float):
        head, _, self.body = data.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        self.status_line = lines[0]
        self.headers = [tuple(part.strip() for part in line.split(":", 1)) for line in lines[1:]]
        self.first_byte = first_byte
        self.done = done

    @property
    def status(self) -> int:
        return int(self.status_line.split()[1])

    def header(self, name: str) -> str | None:
        return next((v for k, v in self.headers if k.lower() == name.lower()), None)


def fetch_raw(server, context, path, headers=()) -> RawResponse:
    """Sends one GET and reads the connection to its end: the bytes exactly as sent."""
    start = time.monotonic()
    with socket.create_connection((server.host, server.port), timeout=10) as tcp:
        with context.wrap_socket(tcp, server_hostname="localhost") as tls:
            lines = [f"GET {path} HTTP/1.1", "Host: localhost", *headers]
            tls.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
            data, first_byte = b"", None
            while True:
                try:
                    chunk = tls.recv(65536)
                except (ConnectionResetError, ssl.SSLError):
                    break
                if not chunk:
                    break
                if first_byte is None:
                    first_byte = time.monotonic() - start
                data += chunk
    return RawResponse(data, first_byte, time.monotonic() - start)


def fetch(server, context, path) -> tuple[http.client.HTTPResponse, bytes]:
    connection = http.client.HTTPSConnection("localhost", server.port, context=context, timeout=10)
    try:
        connection.request("GET", path, headers={"User-Agent": "VantrelSetup/0.1"})
        response = connection.getresponse()
        return response, response.read()
    finally:
        connection.close()


# --- the release server -----------------------------------------------------------------------


def test_serves_the_tree_and_records_each_request(server, client_context):
    server.publish(MANIFEST_PATH, b'{"version": "1.2.3"}\n')
    server.publish(PACKAGE, b"\x1f\x8b package")

    response, body = fetch(server, client_context, MANIFEST_PATH)
    assert (response.status, body) == (200, b'{"version": "1.2.3"}\n')
    assert response.getheader("Content-Length") == str(len(body))
    _, package = fetch(server, client_context, PACKAGE)
    assert package == b"\x1f\x8b package"

    requests = server.requests
    assert [(r.method, r.path) for r in requests] == [("GET", MANIFEST_PATH), ("GET", PACKAGE)]
    assert requests[0].header("user-agent") == "VantrelSetup/0.1"
    assert requests[0].header("HOST") == f"localhost:{server.port}"
    assert requests[0].version == "HTTP/1.1"
    assert requests[0].tls_version in ("TLSv1.2", "TLSv1.3")
    assert server.requests_for(PACKAGE) == [requests[1]]


@pytest.mark.parametrize("path", ["/vantrel/launcher/9.9.9/missing", "/", "/../etc/passwd"])
def test_paths_outside_the_tree_are_not_found(server, client_context, path):
    assert fetch_raw(server, client_context, path).status == 404


@pytest.mark.parametrize(
    "rule, code, location",
    [
        (redirect("https://localhost/elsewhere", 301), 301, "https://localhost/elsewhere"),
        (redirect("/vantrel/launcher/other"), 302, "/vantrel/launcher/other"),
        (status(304), 304, None),
        (status(404, b"gone"), 404, None),
        (status(500), 500, None),
        (Rule(status=503), 503, None),  # no file in the tree: still the rule's status
    ],
)
def test_status_rules(server, client_context, rule, code, location):
    server.set_rule(MANIFEST_PATH, rule)
    response = fetch_raw(server, client_context, MANIFEST_PATH)
    assert response.status == code
    assert response.header("Location") == location
    assert response.body == (rule.body or b"")


BODY = bytes(range(10))


@pytest.mark.parametrize(
    "rule, header, wire_body",
    [
        (Rule(body=BODY), "10", BODY),
        (Rule(body=BODY, content_length=None), None, BODY),
        (Rule(body=BODY, content_length=4), "4", BODY),
        (Rule(body=BODY, content_length=25), "25", BODY),
        (Rule(body=BODY, content_length="ten"), "ten", BODY),
        (Rule(body=BODY, chunked=True, chunk_size=4),
         None, b"4\r\n\x00\x01\x02\x03\r\n4\r\n\x04\x05\x06\x07\r\n2\r\n\x08\x09\r\n0\r\n\r\n"),
        (Rule(body=b"", content_length=None), None, b""),
    ],
)  # fmt: skip
def test_body_framing_is_sent_as_the_rule_says(server, client_context, rule, header, wire_body):
    server.set_rule(PACKAGE, rule)
    response = fetch_raw(server, client_context, PACKAGE)
    assert response.status == 200
    assert response.header("Content-Length") == header
    assert response.header("Transfer-Encoding") == ("chunked" if rule.chunked else None)
    assert response.body == wire_body


def test_http_client_sees_the_framing_faults(server, client_context):
    server.set_rule(PACKAGE, Rule(body=BODY, content_length=25))
    with pytest.raises(http.client.IncompleteRead):
        fetch(server, client_context, PACKAGE)
    server.set_rule(PACKAGE, Rule(body=BODY, chunked=True, chunk_size=3))
    assert fetch(server, client_context, PACKAGE)[1] == BODY
    server.set_rule(PACKAGE, Rule(body=BODY, content_length=None))
    response, body = fetch(server, client_context, PACKAGE)
    assert (response.getheader("Content-Length"), body) == (None, BODY)


@pytest.mark.parametrize("content_length", [AUTOMATIC, None])
def test_generated_bodies_have_exactly_the_asked_size(server, client_context, content_length):
    size = 200_003
    server.set_rule(PACKAGE, Rule(body_size=size, content_length=content_length))
    response = fetch_raw(server, client_context, PACKAGE)
    assert len(response.body) == size
    assert response.header("Content-Length") == (None if content_length is None else str(size))
    assert response.body[:256] == bytes(range(256))


def test_trickled_body_arrives_slowly_and_whole(server, client_context):
    server.set_rule(PACKAGE, trickle(b"abcdefghi", chunk_size=3, chunk_delay=0.2))
    response = fetch_raw(server, client_context, PACKAGE)
    assert response.body == b"abcdefghi"
    assert response.done - response.first_byte >= 0.35  # two pauses after the first piece


def test_header_delay_holds_back_the_whole_answer(server, client_context):
    server.set_rule(MANIFEST_PATH, Rule(body=b"{}", header_delay=0.4))
    response = fetch_raw(server, client_context, MANIFEST_PATH)
    assert response.status == 200
    assert response.first_byte >= 0.4


def test_dropped_connection_gets_no_answer(server, client_context):
    server.set_rule(MANIFEST_PATH, Rule(drop=True))
    response = fetch_raw(server, client_context, MANIFEST_PATH)
    assert response.status_line == ""
    assert [r.path for r in server.requests] == [MANIFEST_PATH]


def test_stop_ends_a_trickle_in_progress(certificate_authority, tmp_path, client_context):
    ca = certificate_authority
    server = HttpsServer(tmp_path, ca.server_certificate, ca.server_key, port=0).start()
    server.set_rule(PACKAGE, trickle(b"x" * 100, chunk_size=1, chunk_delay=5))
    connection = http.client.HTTPSConnection("localhost", server.port, context=client_context)
    connection.request("GET", PACKAGE)
    response = connection.getresponse()
    assert response.read(1) == b"x"
    started = time.monotonic()
    server.stop()
    assert time.monotonic() - started < 3
    connection.close()


def test_reset_forgets_rules_and_requests(server, client_context):
    server.publish(MANIFEST_PATH, b"{}")
    server.set_rule(MANIFEST_PATH, status(500))
    assert fetch_raw(server, client_context, MANIFEST_PATH).status == 500
    server.reset()
    assert server.requests == []
    assert fetch_raw(server, client_context, MANIFEST_PATH).status == 200


def test_a_client_that_does_not_trust_the_ca_fails_and_is_recorded(server, tmp_path):
    other = certificates.create(tmp_path / "other-ca")
    context = ssl.create_default_context(cafile=str(other.ca_certificate))
    with pytest.raises(ssl.SSLCertVerificationError):
        fetch_raw(server, context, MANIFEST_PATH)
    deadline = time.monotonic() + 5
    while not server.tls_failures and time.monotonic() < deadline:
        time.sleep(0.05)
    assert server.tls_failures
    assert server.requests == []


def test_session_server_on_port_443_is_trusted_through_the_system_bundle(https_server):
    https_server.publish(MANIFEST_PATH, b"{}")
    assert https_server.port == 443
    # The default context reads the system bundle, as Wine does.
    response, body = fetch(https_server, ssl.create_default_context(), MANIFEST_PATH)
    assert (response.status, body) == (200, b"{}")


def test_bundle_is_the_system_bundle_plus_the_test_ca(certificate_authority, tmp_path):
    system = tmp_path / "system.crt"
    system.write_text("-----BEGIN CERTIFICATE-----\nsystem\n-----END CERTIFICATE-----")
    bundle = tmp_path / "bundle.crt"
    certificates.write_bundle(certificate_authority, bundle, system=system)
    text = bundle.read_text()
    assert text.startswith(system.read_text() + "\n")
    assert certificate_authority.trusted_by_system(bundle)
    assert not certificate_authority.trusted_by_system(system)


# --- files and paths --------------------------------------------------------------------------


def test_snapshot_changes_name_what_was_added_removed_and_modified(tmp_path):
    (tmp_path / "keep").write_bytes(b"same")
    (tmp_path / "edit").write_bytes(b"aaaa")
    (tmp_path / "gone").write_bytes(b"x")
    (tmp_path / "folder").mkdir()
    before = prefix.snapshot(tmp_path)
    assert prefix.changes(before, prefix.snapshot(tmp_path)).__bool__() is False

    (tmp_path / "edit").write_bytes(b"bbbb")  # same size, other content
    os.utime(tmp_path / "edit", ns=(before["edit"].mtime_ns,) * 2)
    (tmp_path / "gone").unlink()
    (tmp_path / "folder" / "new").write_bytes(b"")
    os.symlink("keep", tmp_path / "link")
    found = prefix.changes(before, prefix.snapshot(tmp_path))
    assert found.added == ("folder/new", "link")
    assert found.removed == ("gone",)
    assert found.modified == ("edit",)
    assert "+ folder/new" in str(found)


def test_windows_and_unix_paths_map_both_ways(tmp_path):
    wine_prefix = prefix.WinePrefix(tmp_path / "pfx")
    inside = tmp_path / "pfx" / "drive_c" / "users" / "u" / "AppData" / "Local"
    assert wine_prefix.windows_path(inside) == "C:\\users\\u\\AppData\\Local"
    assert wine_prefix.windows_path("/tmp/a b/x.exe") == "Z:\\tmp\\a b\\x.exe"
    assert wine_prefix.unix_path("C:\\users\\u\\AppData\\Local") == inside
    assert wine_prefix.unix_path("z:\\tmp\\a b\\x.exe").as_posix() == "/tmp/a b/x.exe"
    with pytest.raises(ValueError):
        wine_prefix.unix_path("D:\\x")


@pytest.mark.parametrize(
    "text, encoded",
    [("", ""), ("a b", "00610020" "0062"), ("\u00e9\U0001f600", "00e9d83dde00"), ("x\ud800", "0078d800")],
)
def test_command_line_hex_encoding(text, encoded):
    assert encode_command_line(text) == encoded
    assert decode_command_line(encoded) == text


# --- under Wine ---------------------------------------------------------------------------------


def test_user_folders_are_real_folders_inside_the_prefix(wine):
    folders = wine.prefix
    for folder in (folders.local_appdata, folders.desktop, folders.programs, folders.temp):
        assert folder.is_dir() and not folder.is_symlink(), folder
    user = folders.user_folder.name
    assert folders.windows_path(folders.local_appdata) == f"C:\\users\\{user}\\AppData\\Local"
    assert not any(e.kind == "link" for e in folders.user_files().values())


def shown_command_line(result: subprocess.CompletedProcess) -> str:
    assert result.returncode == 0, result.stderr
    return decode_command_line(result.stdout.decode().strip())


@pytest.mark.parametrize(
    "args, tail",
    [
        ([], ""),
        ([""], ' ""'),
        (["a", "", "b"], ' a "" b'),
        (["--console"], " --console"),
        (["a b"], ' "a b"'),
        (["t\tab"], ' "t\tab"'),
        (['x"y'], ' x\\"y'),
        (['"--console"'], ' \\"--console\\"'),
        (["back\\"], " back\\"),
        (["a b\\"], ' "a b\\\\"'),
        (['bs\\"q'], ' bs\\\\\\"q'),
        (["\u00e9\u4e2d"], " \u00e9\u4e2d"),
    ],
)
def test_wine_quotes_arguments_the_windows_way(wine, args, tail):
    helper = wine.helper("show_command_line")
    line = shown_command_line(wine([helper, *args]))
    assert line == f'"{wine.prefix.windows_path(helper)}"{tail}'


@pytest.mark.parametrize(
    "command_line",
    [
        "{exe} --console",
        "{exe}  --console  ",
        'x  "a""b"  \ud800',
        '"--console',
        "\t{exe}\t",
    ],
)
def test_run_command_line_passes_the_text_exactly(wine, command_line):
    helper = wine.helper("show_command_line")
    text = command_line.format(exe=wine.prefix.windows_path(helper))
    assert shown_command_line(wine.run_command_line(helper, text)) == text


def test_an_empty_command_line_becomes_the_quoted_program_name_under_wine(wine):
    helper = wine.helper("show_command_line")
    line = shown_command_line(wine.run_command_line(helper, ""))
    assert line == f'"{wine.prefix.windows_path(helper)}"'


def test_run_command_line_reports_a_program_that_cannot_start(wine, tmp_path):
    result = wine.run_command_line(tmp_path / "missing.exe", "missing.exe")
    assert result.returncode == 125
    assert b"CreateProcessW failed with error 2" in result.stderr


def test_runner_passes_input_and_exit_codes(wine):
    found = wine(["find", "ell"], input=b"hello\r\nworld\r\n")
    assert (found.returncode, found.stdout.strip()) == (0, b"hello")
    assert wine(["find", "zzz"], input=b"hello\r\n").returncode == 1


def test_a_crash_ends_the_program_instead_of_waiting_on_a_dialog(wine):
    # The exit code of a crashed program is not reliable under Wine (sometimes 0), only that it
    # ends and that the crash is reported.
    result = wine([wine.helper("crash")], timeout=60)
    assert b"Unhandled exception" in result.stdout + result.stderr


def test_runner_does_not_wait_for_programs_that_outlive_the_one_it_ran(wine):
    # cmd ends at once; the ping it started holds cmd's output pipe open for half a minute
    # (reading the pipe to its end would take that long).
    started = time.monotonic()
    result = wine(["cmd", "/c", "start /b ping -n 30 127.0.0.1"], timeout=60)
    assert result.returncode == 0
    assert time.monotonic() - started < 15


def test_runner_kills_the_program_on_timeout(wine):
    started = time.monotonic()
    with pytest.raises(subprocess.TimeoutExpired):
        wine(["ping", "-n", "30", "127.0.0.1"], timeout=2)
    assert time.monotonic() - started < 10


def test_screenshot_of_the_display(xvfb, tmp_path):
    shot = xvfb.screenshot(tmp_path / "screen.png")
    data = shot.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    width, height = int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")
    assert (width, height) == (1024, 768)
