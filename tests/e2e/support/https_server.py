"""A scriptable HTTPS release server for the end-to-end tests.

It serves files from a release tree folder (URL path /a/b -> <root>/a/b) and answers any path
that has a rule with that rule's behaviour instead: another status, a redirect, extra headers,
no or a wrong Content-Length, a chunked or oversized body, a slowly trickled body, a delay before
the headers or a dropped connection. Every request is recorded. One thread per connection;
every response ends its connection.
"""

from __future__ import annotations

import http.server
import socket
import socketserver
import ssl
import struct
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Iterator

MANIFEST_PATH = "/vantrel/launcher/stable/manifest.json"
RELEASE_PREFIX = "/vantrel/launcher/"


def release_file_path(version: str, name: str) -> str:
    return f"{RELEASE_PREFIX}{version}/{name}"


class _Automatic:
    def __repr__(self) -> str:
        return "AUTOMATIC"


AUTOMATIC = _Automatic()
"""Content-Length: the real length of the body."""

_FILLER = bytes(range(256)) * 256  # 64 KiB pattern for generated bodies


@dataclass(frozen=True)
class Rule:
    """How to answer one path. The defaults give a plain 200 with the tree's file.

    status: the status code; reason: its reason phrase (the standard one when None).
    body: the body; None serves the tree's file (or a 404 when it is missing).
    body_size: generate a body of this many filler bytes instead (for oversized bodies).
    content_length: AUTOMATIC for the body's real length, None to leave the header out (the
        body then ends when the connection closes), or any int or text to send as it is.
    chunked: send the body with chunked transfer encoding (and no Content-Length).
    headers: extra (name, value) pairs, sent after the status line.
    header_delay: seconds to wait before sending anything.
    chunk_size / chunk_delay: send the body in pieces of chunk_size bytes with chunk_delay
        seconds between them (a trickle).
    drop: close the connection without any answer.
    """

    status: int = 200
    reason: str | None = None
    body: bytes | None = None
    body_size: int | None = None
    content_length: object = AUTOMATIC
    chunked: bool = False
    headers: tuple[tuple[str, str], ...] = ()
    header_delay: float = 0.0
    chunk_size: int = 65536
    chunk_delay: float = 0.0
    drop: bool = False


def redirect(location: str, status: int = 302) -> Rule:
    return Rule(status=status, body=b"", headers=(("Location", location),))


def status(code: int, body: bytes = b"") -> Rule:
    return Rule(status=code, body=body)


def trickle(body: bytes, chunk_size: int, chunk_delay: float) -> Rule:
    return Rule(body=body, chunk_size=chunk_size, chunk_delay=chunk_delay)


@dataclass(frozen=True)
class Request:
    method: str
    path: str
    version: str
    headers: tuple[tuple[str, str], ...]
    tls_version: str | None = None

    def header(self, name: str) -> str | None:
        """The first value of a header, by case-insensitive name."""
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None

    def header_values(self, name: str) -> list[str]:
        return [v for k, v in self.headers if k.lower() == name.lower()]


@dataclass
class _State:
    rules: dict[str, Rule] = field(default_factory=dict)
    requests: list[Request] = field(default_factory=list)
    tls_failures: list[str] = field(default_factory=list)
    lock: threading.Lock = field(default_factory=threading.Lock)
    changed: threading.Condition = field(init=False)
    stopping: threading.Event = field(default_factory=threading.Event)

    def __post_init__(self):
        self.changed = threading.Condition(self.lock)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VantrelTestServer/1"
    server: _TlsServer
    dropped = False

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def handle_one_request(self):
        # Whatever happens, one request per connection.
        super().handle_one_request()
        self.close_connection = True

    def _record(self) -> None:
        tls = self.connection.version() if isinstance(self.connection, ssl.SSLSocket) else None
        request = Request(
            method=self.command,
            path=self.path,
            version=self.request_version,
            headers=tuple(self.headers.items()),
            tls_version=tls,
        )
        state = self.server.state
        with state.lock:
            state.requests.append(request)
            state.changed.notify_all()

    def _answer(self) -> None:
        self._record()
        state = self.server.state
        with state.lock:
            rule = state.rules.get(self.path, Rule())
        if rule.header_delay and state.stopping.wait(rule.header_delay):
            return
        if rule.drop:
            self.dropped = True
            return
        status_code, body = rule.status, self._body(rule)
        if body is None:
            # A missing file is a 404, unless the rule asked for a status of its own.
            status_code, body = (404, b"not found\n") if rule.status == 200 else (rule.status, b"")
        length = len(body) if rule.body_size is None else rule.body_size
        self._send_head(rule, status_code, length)
        if self.command != "HEAD":
            self._send_body(rule, self._pieces(rule, body))

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = do_OPTIONS = _answer

    def _body(self, rule: Rule) -> bytes | None:
        if rule.body_size is not None:
            return b""  # generated in _pieces
        if rule.body is not None:
            return rule.body
        return self.server.read_tree(self.path)

    def _pieces(self, rule: Rule, body: bytes) -> Iterator[bytes]:
        size = max(1, rule.chunk_size)
        if rule.body_size is None:
            for start in range(0, len(body), size):
                yield body[start : start + size]
            return
        remaining = rule.body_size
        while remaining > 0:
            piece = min(size, remaining, len(_FILLER))
            yield _FILLER[:piece]
            remaining -= piece

    def _send_head(self, rule: Rule, status_code: int, length: int) -> None:
        reason = rule.reason if rule.reason is not None else self.responses.get(status_code, ("",))[0]
        lines = [f"HTTP/1.1 {status_code} {reason}".rstrip()]
        lines.append(f"Date: {self.date_time_string()}")
        lines.append(f"Server: {self.server_version}")
        lines.append("Connection: close")
        lines += [f"{name}: {value}" for name, value in rule.headers]
        if rule.chunked:
            lines.append("Transfer-Encoding: chunked")
        elif rule.content_length is AUTOMATIC:
            lines.append(f"Content-Length: {length}")
        elif rule.content_length is not None:
            lines.append(f"Content-Length: {rule.content_length}")
        self.wfile.write(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))
        self.wfile.flush()

    def _send_body(self, rule: Rule, pieces: Iterator[bytes]) -> None:
        stopping = self.server.state.stopping
        try:
            for index, piece in enumerate(pieces):
                if index and rule.chunk_delay and stopping.wait(rule.chunk_delay):
                    return
                if stopping.is_set():
                    return
                if rule.chunked:
                    self.wfile.write(f"{len(piece):x}\r\n".encode() + piece + b"\r\n")
                else:
                    self.wfile.write(piece)
                self.wfile.flush()
            if rule.chunked:
                self.wfile.write(b"0\r\n\r\n")
                self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            pass  # the client went away: that is its choice


class _TlsServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, context: ssl.SSLContext, root: Path, state: _State):
        self.context = context
        self.root = root
        self.state = state
        super().__init__(address, _Handler)

    def finish_request(self, request, client_address):
        # The handshake runs here, on the connection's thread, so that a slow or failing client
        # never holds up the accept loop.
        request.settimeout(30)
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as error:
            with self.state.lock:
                self.state.tls_failures.append(f"{client_address[0]}: {error}")
                self.state.changed.notify_all()
            return
        try:
            handler = self.RequestHandlerClass(tls, client_address, self)
            if handler.dropped:
                # A reset, without a TLS close.
                tls.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            else:
                # close_notify, so that a body that ends with the connection is complete. unwrap
                # then waits for the client's close_notify, which most clients never send.
                tls.settimeout(0.2)
                tls.unwrap()
        except (ssl.SSLError, OSError, ValueError):
            pass  # the client went away first
        finally:
            tls.close()

    def read_tree(self, url_path: str) -> bytes | None:
        path = url_path.split("?", 1)[0].split("#", 1)[0]
        parts = [p for p in path.split("/") if p]
        if any(p in (".", "..") for p in parts):
            return None
        file = self.root.joinpath(*parts)
        return file.read_bytes() if parts and file.is_file() else None


class HttpsServer:
    """The release server; use as a context manager or call start() and stop()."""

    def __init__(self, root: Path, certificate: Path, key: Path, host="127.0.0.1", port=443):
        self.root = root
        self._state = _State()
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(certificate, key)
        self._server = _TlsServer((host, port), context, root, self._state)
        self._thread: threading.Thread | None = None

    @property
    def host(self) -> str:
        return self._server.server_address[0]

    @property
    def port(self) -> int:
        return self._server.server_address[1]

    def start(self) -> HttpsServer:
        self._thread = threading.Thread(
            target=self._server.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True
        )
        self._thread.start()
        return self

    def stop(self) -> None:
        self._state.stopping.set()
        if self._thread is not None:
            self._server.shutdown()
            self._thread.join()
        self._server.server_close()

    def __enter__(self) -> HttpsServer:
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()

    # The release tree

    def publish(self, url_path: str, data: bytes) -> Path:
        """Puts a file into the tree at this URL path."""
        file = self.root.joinpath(*[p for p in url_path.split("/") if p])
        file.parent.mkdir(parents=True, exist_ok=True)
        file.write_bytes(data)
        return file

    def unpublish(self, url_path: str) -> None:
        self.root.joinpath(*[p for p in url_path.split("/") if p]).unlink(missing_ok=True)

    # Behaviour per path

    def set_rule(self, path: str, rule: Rule | None = None, **fields) -> None:
        """Answers path with rule, or with Rule(**fields)."""
        with self._state.lock:
            self._state.rules[path] = rule if rule is not None else Rule(**fields)

    def clear_rule(self, path: str) -> None:
        with self._state.lock:
            self._state.rules.pop(path, None)

    # What was asked

    @property
    def requests(self) -> list[Request]:
        with self._state.lock:
            return list(self._state.requests)

    def requests_for(self, path: str) -> list[Request]:
        return [r for r in self.requests if r.path == path]

    @property
    def tls_failures(self) -> list[str]:
        """Handshakes that failed, e.g. because the client did not trust the certificate."""
        with self._state.lock:
            return list(self._state.tls_failures)

    def wait_for_requests(self, count: int, timeout: float = 10) -> list[Request]:
        deadline = time.monotonic() + timeout
        with self._state.lock:
            while len(self._state.requests) < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                self._state.changed.wait(left)
            return list(self._state.requests)

    def reset(self) -> None:
        """Forgets the rules and the recorded requests (the tree stays)."""
        with self._state.lock:
            self._state.rules.clear()
            self._state.requests.clear()
            self._state.tls_failures.clear()
