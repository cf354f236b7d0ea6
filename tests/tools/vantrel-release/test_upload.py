"""upload: a published tree deployed to a real S3-compatible store (a one-node Swift), in front
of which nginx plays the CDN."""

from __future__ import annotations

import hashlib
import itertools
import json
import os
import signal
import subprocess
from pathlib import Path

import pytest

from conftest import KEYS, Tree, fake_launcher, last_line, manifest_of, publish
from support import nginx_host, swift_store
from test_release_operations import free_port

SECRET, PUBLIC = KEYS / "release-test.key", KEYS / "release-test.pub"
VERSIONS = ["1.8.0", "1.9.0", "1.10.0"]  # oldest first; numeric order differs from text order
MANIFEST_KEY = "vantrel/launcher/stable/manifest.json"
VERSIONED = "public, max-age=31536000, immutable"
CONTENT_TYPES = {".gz": "application/gzip", ".sha256": "text/plain", ".minisig": "text/plain",
                 ".json": "application/json"}
_buckets = itertools.count()


@pytest.fixture(scope="session")
def swift(tmp_path_factory):
    reason = swift_store.available()
    if reason:
        pytest.skip(reason)
    store = swift_store.start(tmp_path_factory.mktemp("swift"), "warm-up")
    yield store
    store.stop()


@pytest.fixture
def bucket(swift) -> str:
    name = f"releases-{next(_buckets)}"
    assert swift.create_public_bucket(name) == 200
    return name


def make_tree(tools, root: Path, versions: list[str], size: int = 30000) -> Tree:
    for version in versions:
        assert publish(tools, SECRET, version, fake_launcher(size), root).returncode == 0
    return Tree(root, versions[-1])


def tree_files(tree: Tree) -> dict[str, bytes]:
    return {str(p.relative_to(tree.root)): p.read_bytes()
            for p in sorted(tree.root.rglob("*")) if p.is_file()}


def upload(tools, swift, tree: Tree, bucket: str, *extra, env: dict | None = None,
           endpoint: str | None = None):
    return tools.run("upload", "--key", PUBLIC, "--endpoint", endpoint or swift.endpoint, *extra,
                     tree.root, f"s3://{bucket}", env={**swift.credentials, **(env or {})})


def actions(result) -> list[str]:
    return [line.split()[0] for line in result.stdout.decode().splitlines()
            if line.split()[0] in ("uploaded", "skipped", "refused", "deleted")]


def stored(swift, bucket) -> dict[str, bytes]:
    return {key: body for key, (_, body) in swift.objects(bucket).items()}


def test_upload_then_again_then_a_rollback(tools, swift, bucket, tmp_path):
    tree = make_tree(tools, tmp_path / "site", VERSIONS[1:])
    first = upload(tools, swift, tree, bucket)
    assert first.returncode == 0, first.stderr.decode()
    lines = first.stdout.decode().splitlines()
    assert actions(first) == ["uploaded"] * 9
    assert lines[-2].startswith(f"uploaded  {MANIFEST_KEY}  ")  # the manifest last
    assert lines[-1].startswith("Uploaded 9 files (") and lines[-1].endswith(
        "stable names 1.10.0 (was none)")
    objects = swift.objects(bucket)
    assert {key: body for key, (_, body) in objects.items()} == tree_files(tree)
    for key, (headers, body) in objects.items():
        assert headers["content-type"] == CONTENT_TYPES[Path(key).suffix], key
        assert headers["cache-control"] == ("no-cache" if key == MANIFEST_KEY else VERSIONED)
        assert headers["x-object-meta-sha256"] == hashlib.sha256(body).hexdigest()

    again = upload(tools, swift, tree, bucket)
    assert again.returncode == 0 and actions(again) == ["skipped"] * 9
    assert swift.objects(bucket) == objects  # same bytes and the same timestamps

    assert tools.run("promote", "--key", PUBLIC, "--version", VERSIONS[1], tree.root).returncode == 0
    rollback = upload(tools, swift, tree, bucket)
    assert rollback.returncode == 0
    assert actions(rollback) == ["skipped"] * 8 + ["uploaded"]
    assert json.loads(stored(swift, bucket)[MANIFEST_KEY]) == manifest_of(VERSIONS[1])


def spoil_local_file(swift, bucket, tree):
    Tree(tree.root, VERSIONS[1]).file(2).write_bytes(b"x" * Tree(tree.root, VERSIONS[1]).file(2)
                                                      .stat().st_size)


def replace_stored_file(swift, bucket, tree):
    size = tree.file(0).stat().st_size
    swift.put_object(bucket, str(tree.file(0).relative_to(tree.root)), b"y" * size)


@pytest.mark.parametrize("change", [spoil_local_file, replace_stored_file])
def test_a_published_file_with_other_bytes_is_refused(tools, swift, bucket, tmp_path, change):
    tree = make_tree(tools, tmp_path / "site", VERSIONS[1:])
    assert upload(tools, swift, tree, bucket).returncode == 0
    change(swift, bucket, tree)
    make_tree(tools, tree.root, ["2.0.0"])  # a new release must not go up either
    before = swift.objects(bucket)
    result = upload(tools, swift, tree, bucket)
    assert result.returncode == 1
    assert "with other bytes than" in last_line(result.stderr)
    assert "refused" in actions(result) and "uploaded" not in actions(result)
    assert swift.objects(bucket) == before


def tampered_stable(tree):
    tree.file(0).write_bytes(tree.file(0).read_bytes()[:-1])


# (case, how the run differs, the message's start or part)
BAD_INPUT = [
    ("no credentials", {"env": {"AWS_ACCESS_KEY_ID": ""}}, "no credentials for the store"),
    ("wrong secret", {"env": {"AWS_SECRET_ACCESS_KEY": "wrong"}},
     "the store refused the credentials (HTTP 403 SignatureDoesNotMatch)"),
    ("missing bucket", {"bucket": "no-such-bucket"}, "the bucket no-such-bucket does not exist"),
    ("unreachable", {"endpoint": "http://127.0.0.1:1"},
     "could not reach the store at http://127.0.0.1:1"),
    ("untrusted certificate", {"endpoint": "https://localhost:{front}"},
     "the certificate of the store at https://localhost:"),
    ("tree does not verify", {"spoil": tampered_stable}, "{root} does not verify: Verification"),
    ("bad bucket URL", {"bucket": "Bad_Bucket"}, '"s3://Bad_Bucket" is not a bucket'),
    ("bad keep", {"extra": ["--keep", "0"]}, "--keep takes a number of versions of at least 1"),
]


@pytest.mark.parametrize("case, differs, message", BAD_INPUT, ids=[c[0] for c in BAD_INPUT])
def test_bad_input_changes_nothing(tools, swift, bucket, front, tmp_path, case, differs, message):
    tree = make_tree(tools, tmp_path / "site", VERSIONS[2:])
    if "spoil" in differs:
        differs["spoil"](tree)
    endpoint = differs.get("endpoint")
    if endpoint and "{front}" in endpoint:
        endpoint = endpoint.format(front=front().port)
    result = upload(tools, swift, tree, differs.get("bucket", bucket), *differs.get("extra", []),
                    env=differs.get("env"), endpoint=endpoint)
    assert result.returncode == 1, result.stdout
    assert last_line(result.stderr).startswith(message.format(root=tree.root)) or \
        message in last_line(result.stderr), last_line(result.stderr)
    assert swift.objects(bucket) == {}


def test_bad_usage_exits_2(tools, swift, tmp_path):
    result = tools.run("upload", "--key", PUBLIC, tmp_path)
    assert result.returncode == 2
    assert "expected 2 operand(s), got 1" in result.stderr.decode()


def test_an_upload_killed_midway_is_completed_by_the_next(tools, swift, bucket, tmp_path):
    tree = make_tree(tools, tmp_path / "site", VERSIONS, size=3_000_000)
    command = [tools.release, "upload", "--key", PUBLIC, "--endpoint", swift.endpoint,
               tree.root, f"s3://{bucket}"]
    with subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          env={**os.environ, **swift.credentials}) as running:
        sent = [running.stdout.readline() for _ in range(3)]
        running.send_signal(signal.SIGKILL)
    assert all(line.startswith(b"uploaded") for line in sent)
    partial = stored(swift, bucket)
    assert MANIFEST_KEY not in partial and len(partial) < 13
    resumed = upload(tools, swift, tree, bucket)
    assert resumed.returncode == 0, resumed.stderr.decode()
    # a PUT in flight at the kill may still land, so the store may hold one file more by now
    assert len(sent) <= actions(resumed).count("skipped") <= len(partial) + 1
    assert actions(resumed)[-1] == "uploaded"
    assert stored(swift, bucket) == tree_files(tree)


@pytest.fixture
def front(swift, bucket, test_ca, tmp_path):
    """front(refused=()) starts nginx as the CDN of the bucket at https://localhost:PORT/."""
    if not Path(nginx_host.NGINX).is_file():
        pytest.skip(f"{nginx_host.NGINX} is not installed")
    hosts = []

    def start(refused: tuple[str, ...] = ()):
        hosts.append(nginx_host.start(
            tmp_path / f"nginx-{len(hosts)}", None, test_ca, port=free_port(),
            upstream=swift.endpoint + swift.public_path(bucket), refused=refused))
        return hosts[-1]

    yield start
    for host in hosts:
        host.stop()


@pytest.mark.parametrize("hidden, code", [(None, 0), (2, 1)])
def test_the_public_url_is_checked_before_and_after_the_switch(tools, swift, bucket, front,
                                                               test_ca, tmp_path, hidden, code):
    tree = make_tree(tools, tmp_path / "site", VERSIONS[1:])
    assert tools.run("promote", "--key", PUBLIC, "--version", VERSIONS[1], tree.root).returncode == 0
    assert upload(tools, swift, tree, bucket).returncode == 0
    assert tools.run("promote", "--key", PUBLIC, "--version", VERSIONS[2], tree.root).returncode == 0
    refused = () if hidden is None else ("/" + str(tree.file(hidden).relative_to(tree.root)),)
    host = front(refused)
    result = upload(tools, swift, tree, bucket, "--public-url", f"https://localhost:{host.port}",
                    "--ca-file", test_ca.ca_certificate)
    assert result.returncode == code, result.stderr.decode()
    requested = [line.split('"')[1] for line in host.access_log.read_text().splitlines()]
    manifest = json.loads(stored(swift, bucket)[MANIFEST_KEY])
    if code == 0:
        assert f"The public URL served release {VERSIONS[2]} after " in result.stdout.decode()
        assert manifest == manifest_of(VERSIONS[2])
        # the pre-flight asked only for the versioned files, the check then for the manifest
        assert requested.index(f"GET /{MANIFEST_KEY} HTTP/1.1") == 4
    else:
        assert last_line(result.stderr).startswith(
            "the pre-flight failed, so the manifest on the store was left as it was: Network "
            "failed: The download server returned HTTP 404.")
        assert manifest == manifest_of(VERSIONS[1])
        assert f"GET /{MANIFEST_KEY} HTTP/1.1" not in requested
    # players are served a whole release either way: the new one, or still the old one
    served = tools.run("check", "--key", PUBLIC, "--ca-file", test_ca.ca_certificate,
                       "--expect-version", manifest["version"], f"https://localhost:{host.port}")
    assert served.returncode == 0, served.stderr.decode()
    # the front keeps the headers the store keeps: no warning about the manifest's caching
    assert f"cache: {VERSIONED}" in served.stdout.decode()
    assert "Warning" not in served.stdout.decode()


def beta_manifest(swift, bucket):
    swift.put_object(bucket, "vantrel/launcher/beta/manifest.json",
                     json.dumps(manifest_of(VERSIONS[0])).encode())


@pytest.mark.parametrize("other_manifest, deleted", [(None, [VERSIONS[0]]), (beta_manifest, [])])
def test_keep_deletes_old_folders_but_stable_the_previous_and_named(tools, swift, bucket, tmp_path,
                                                                     other_manifest, deleted):
    tree = make_tree(tools, tmp_path / "site", VERSIONS)
    assert upload(tools, swift, tree, bucket).returncode == 0
    if other_manifest:
        other_manifest(swift, bucket)
    before = stored(swift, bucket)
    dry = upload(tools, swift, tree, bucket, "--keep", "1", "--dry-run")
    assert dry.returncode == 0
    assert stored(swift, bucket) == before
    would = [line.split()[3] for line in dry.stdout.decode().splitlines()
             if line.startswith("would send DELETE")]
    result = upload(tools, swift, tree, bucket, "--keep", "1")
    assert result.returncode == 0, result.stderr.decode()
    gone = sorted(set(before) - set(stored(swift, bucket)))
    assert gone == sorted(f"vantrel/launcher/{v}/{name}" for v in deleted
                          for name in (p.name for p in Tree(tree.root, v).folder.iterdir()))
    assert [url.split(f"/{bucket}/")[1] for url in would] == [
        line.split()[1] for line in result.stdout.decode().splitlines()
        if line.startswith("deleted")]
    assert sorted(gone) == sorted(url.split(f"/{bucket}/")[1] for url in would)


def test_a_dry_run_prints_the_uploads_and_changes_nothing(tools, swift, bucket, tmp_path):
    tree = make_tree(tools, tmp_path / "site", VERSIONS[2:])
    result = upload(tools, swift, tree, bucket, "--dry-run")
    assert result.returncode == 0, result.stderr.decode()
    puts = [line for line in result.stdout.decode().splitlines() if line.startswith("would send PUT")]
    assert len(puts) == 5
    assert puts[-1].startswith(f"would send PUT {swift.endpoint}/{bucket}/{MANIFEST_KEY}  ")
    assert puts[-1].endswith("Cache-Control: no-cache, Content-Type: application/json")
    assert last_line(result.stdout).startswith("Dry run: would upload 5 files")
    assert swift.objects(bucket) == {}
