"""A real S3-compatible store: a one-node OpenStack Swift with s3api and tempauth on loopback.

Everything lives in one scratch folder: the configuration, rings with one replica and one device
(built with Swift's own RingBuilder), the device and the logs. The four servers run in the
foreground (workers = 0), each one process that is stopped by its pid. Swift checks SigV4 for
real; tempauth's S3 access key is "test:tester" with the secret "testing".
"""

from __future__ import annotations

import hashlib
import json
import os
import pwd
import shutil
import socket
import subprocess
import sys
import time
import urllib.parse
import urllib.request
from dataclasses import dataclass, field
from pathlib import Path

from support.processes import stop_process

ADDRESS = "127.0.0.1"
ACCOUNT = "AUTH_test"
ACCESS_KEY, SECRET_KEY = "test:tester", "testing"
REGION = "us-east-1"
SERVERS = ("account", "container", "object", "proxy")
SWIFT_PYTHON = "/usr/bin/python3"  # Debian's python3-swift
PART_POWER = 4

# What differs from one answer to the next for the same stored object.
_PER_ANSWER_HEADERS = {"date", "x-trans-id", "x-openstack-request-id", "connection"}
_PROXY_PIPELINE = "catch_errors proxy-logging cache s3api tempauth proxy-logging proxy-server"


def available() -> str | None:
    """None when the store can run here, else why not."""
    missing = [f"/usr/bin/swift-{name}-server" for name in SERVERS
               if not Path(f"/usr/bin/swift-{name}-server").is_file()]
    if missing:
        return f"Swift is not installed ({', '.join(missing)} missing)"
    return None if shutil.which("curl") else "curl is not installed (it makes the test buckets)"


def _free_port() -> int:
    with socket.socket() as probe:
        probe.bind((ADDRESS, 0))
        return probe.getsockname()[1]


def _server_config(folder: Path, name: str, port: int) -> str:
    common = (f"[DEFAULT]\nbind_ip = {ADDRESS}\nbind_port = {port}\nworkers = 0\n"
              f"user = {pwd.getpwuid(os.geteuid()).pw_name}\nswift_dir = {folder / 'etc'}\n"
              f"devices = {folder / 'devices'}\nmount_check = false\nlog_name = {name}\n")
    if name == "proxy":
        return (common + f"\n[pipeline:main]\npipeline = {_PROXY_PIPELINE}\n\n"
                "[app:proxy-server]\nuse = egg:swift#proxy\naccount_autocreate = true\n\n"
                "[filter:catch_errors]\nuse = egg:swift#catch_errors\n\n"
                "[filter:proxy-logging]\nuse = egg:swift#proxy_logging\n\n"
                "[filter:cache]\nuse = egg:swift#memcache\n\n"
                f"[filter:s3api]\nuse = egg:swift#s3api\nlocation = {REGION}\n\n"
                "[filter:tempauth]\nuse = egg:swift#tempauth\nuser_test_tester = testing .admin\n")
    return (common + f"\n[pipeline:main]\npipeline = {name}-server\n\n"
            f"[app:{name}-server]\nuse = egg:swift#{name}\n")


_RINGS = """
import sys
from swift.common.ring import RingBuilder
folder, *ports = sys.argv[1:]
for name, port in zip(("account", "container", "object"), ports):
    builder = RingBuilder({part_power}, 1, 1)
    builder.add_dev({{"id": 0, "region": 1, "zone": 1, "ip": "{address}", "port": int(port),
                     "device": "d1", "weight": 100}})
    builder.rebalance()
    builder.get_ring().save(f"{{folder}}/{{name}}.ring.gz")
""".format(part_power=PART_POWER, address=ADDRESS)


@dataclass
class SwiftStore:
    folder: Path
    ports: dict[str, int]
    processes: list[subprocess.Popen] = field(default_factory=list)
    started_in: float = 0.0

    @property
    def endpoint(self) -> str:
        return f"http://{ADDRESS}:{self.ports['proxy']}"

    @property
    def credentials(self) -> dict[str, str]:
        return {"AWS_ACCESS_KEY_ID": ACCESS_KEY, "AWS_SECRET_ACCESS_KEY": SECRET_KEY}

    def public_path(self, bucket: str) -> str:
        """Where a public bucket's objects are served without credentials."""
        return f"/v1/{ACCOUNT}/{bucket}/"

    def s3(self, method: str, path: str, *headers: str, data: bytes = b""):
        """A signed S3 request made by the curl program (status, body); for what the tool
        under test does not do itself."""
        # curl splits --user at the first colon, and tempauth's access key has one.
        user = urllib.parse.quote(ACCESS_KEY, safe="") + ":" + SECRET_KEY + "@"
        digest = hashlib.sha256(data).hexdigest()
        command = ["curl", "-sS", "-o", "-", "-w", "\n%{http_code}", "-X", method,
                   "--aws-sigv4", f"aws:amz:{REGION}:s3", "-H", f"x-amz-content-sha256: {digest}",
                   *(part for header in headers for part in ("-H", header)),
                   "--data-binary", "@-", f"http://{user}{ADDRESS}:{self.ports['proxy']}{path}"]
        done = subprocess.run(command, input=data, capture_output=True, timeout=30)
        body, _, status = done.stdout.rpartition(b"\n")
        return int(status or 0), body

    def create_public_bucket(self, bucket: str) -> int:
        status, _ = self.s3("PUT", f"/{bucket}", "x-amz-acl: public-read")
        return status

    def put_object(self, bucket: str, key: str, body: bytes) -> None:
        """Writes an object behind the release tool's back, as another tool would."""
        status, answer = self.s3("PUT", f"/{bucket}/{key}", data=body)
        assert status == 200, answer

    def objects(self, bucket: str) -> dict[str, tuple[dict[str, str], bytes]]:
        """Every object of a public bucket, read without credentials: its stored headers
        (lower-case names; x-timestamp changes with every write) and bytes."""
        base = f"{self.endpoint}{self.public_path(bucket)}"
        with urllib.request.urlopen(f"{base}?format=json", timeout=10) as answer:
            names = [entry["name"] for entry in json.load(answer)]
        stored = {}
        for name in names:
            with urllib.request.urlopen(base + name, timeout=10) as answer:
                headers = {k.lower(): v for k, v in answer.headers.items()
                           if k.lower() not in _PER_ANSWER_HEADERS}
                stored[name] = (headers, answer.read())
        return stored

    def stop(self) -> None:
        for process in self.processes:
            stop_process(process)


def start(folder: Path, bucket: str, timeout: float = 60) -> SwiftStore:
    """Builds a one-node store in an empty `folder`, starts it and creates a public bucket;
    returns once the bucket is there.

    Raises RuntimeError with the servers' output when it does not get ready.
    """
    begun = time.monotonic()
    store = SwiftStore(folder, {name: _free_port() for name in SERVERS})
    (folder / "etc").mkdir(parents=True)
    (folder / "devices" / "d1").mkdir(parents=True)
    (folder / "etc" / "swift.conf").write_text(
        "[swift-hash]\nswift_hash_path_suffix = vantrel-tests\nswift_hash_path_prefix = vantrel\n\n"
        "[storage-policy:0]\nname = gold\ndefault = yes\n")
    subprocess.run([SWIFT_PYTHON, "-c", _RINGS, str(folder / "etc"),
                    *(str(store.ports[name]) for name in SERVERS[:3])],
                   check=True, capture_output=True, timeout=60)
    for name in SERVERS:
        config = folder / "etc" / f"{name}-server.conf"
        config.write_text(_server_config(folder, name, store.ports[name]))
        log = (folder / f"{name}.log").open("wb")
        store.processes.append(subprocess.Popen(
            [f"/usr/bin/swift-{name}-server", str(config), "--verbose"], stdin=subprocess.DEVNULL,
            stdout=log, stderr=subprocess.STDOUT))
        log.close()
    deadline = time.monotonic() + timeout
    while store.create_public_bucket(bucket) != 200:
        ended = [p for p in store.processes if p.poll() is not None]
        if ended or time.monotonic() > deadline:
            store.stop()
            logs = "\n".join(f"--- {name}\n" + (folder / f"{name}.log").read_text(errors="replace")
                             for name in SERVERS)
            raise RuntimeError(f"Swift did not start in {folder}:\n{logs}")
        time.sleep(0.1)
    store.started_in = time.monotonic() - begun
    print(f"swift store ready in {store.started_in:.1f} s", file=sys.stderr)
    return store
