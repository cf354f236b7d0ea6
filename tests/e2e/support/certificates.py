"""A throwaway certificate authority and a `localhost` server certificate, made with openssl.

scripts/test creates one per run (through prepare.py), adds the CA to the CA bundle that Wine
reads, and passes the folder on in VANTREL_TEST_CA_DIR.
"""

from __future__ import annotations

import secrets
import subprocess
from dataclasses import dataclass
from pathlib import Path

SYSTEM_CA_BUNDLE = Path("/etc/ssl/certs/ca-certificates.crt")
SERVER_HOST = "localhost"
VALID_DAYS = 7


@dataclass(frozen=True)
class CertificateAuthority:
    folder: Path

    @property
    def ca_certificate(self) -> Path:
        return self.folder / "ca.pem"

    @property
    def server_certificate(self) -> Path:
        return self.folder / "server.pem"

    @property
    def server_key(self) -> Path:
        return self.folder / "server.key"

    def complete(self) -> bool:
        return all(
            p.is_file() for p in (self.ca_certificate, self.server_certificate, self.server_key)
        )

    def trusted_by_system(self, bundle: Path = SYSTEM_CA_BUNDLE) -> bool:
        """Whether the host CA bundle, which Wine's certificate checks read, holds this CA."""
        try:
            return self.ca_certificate.read_text().strip() in bundle.read_text()
        except OSError:
            return False


def _openssl(*args: str, cwd: Path) -> None:
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def create(folder: Path) -> CertificateAuthority:
    """Makes a new CA and a server certificate for localhost (and 127.0.0.1) signed by it."""
    folder.mkdir(parents=True, exist_ok=True)
    ca = CertificateAuthority(folder)
    # A distinct name per run, so that a stale CA in some bundle never matches this one.
    ca_name = f"/CN=Vantrel test CA {secrets.token_hex(6)}"
    _openssl(
        "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
        "-days", str(VALID_DAYS), "-subj", ca_name,
        "-keyout", "ca.key", "-out", ca.ca_certificate.name,
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign",
        cwd=folder,
    )  # fmt: skip
    _openssl(
        "req", "-new", "-newkey", "rsa:2048", "-nodes", "-sha256",
        "-subj", f"/CN={SERVER_HOST}", "-keyout", ca.server_key.name, "-out", "server.csr",
        cwd=folder,
    )  # fmt: skip
    (folder / "server.ext").write_text(
        f"subjectAltName=DNS:{SERVER_HOST},IP:127.0.0.1\n"
        "basicConstraints=critical,CA:FALSE\n"
        "keyUsage=critical,digitalSignature,keyEncipherment\n"
        "extendedKeyUsage=serverAuth\n"
    )
    _openssl(
        "x509", "-req", "-sha256", "-days", str(VALID_DAYS),
        "-in", "server.csr", "-CA", ca.ca_certificate.name, "-CAkey", "ca.key",
        "-set_serial", str(int.from_bytes(secrets.token_bytes(8), "big")),
        "-extfile", "server.ext", "-out", ca.server_certificate.name,
        cwd=folder,
    )  # fmt: skip
    return ca


def write_bundle(ca: CertificateAuthority, destination: Path, system: Path = SYSTEM_CA_BUNDLE):
    """The system's CAs followed by the test CA: what gets bind-mounted over the system file."""
    text = system.read_text() if system.is_file() else ""
    if text and not text.endswith("\n"):
        text += "\n"
    destination.write_text(text + ca.ca_certificate.read_text())
