"""A local certificate authority and a server certificate signed by it, made with the
`openssl` command (the standard library can verify certificates but not make them).

The CA (ca.pem, with its key ca.key) is kept in the directory and reused by later starts,
so that a merchant trusts it once; the server certificate is made anew at every start for
localhost, 127.0.0.1, ::1 and the host the sandbox listens on. Both use P-256 keys.
"""

from __future__ import annotations

import ipaddress
import os
import secrets
import shutil
import subprocess
from dataclasses import dataclass
from pathlib import Path

CA_NAME = "Vemrat sandbox local CA"
VALID_DAYS = 365

_CONFIG = """
[req]
distinguished_name = name
prompt = no
[name]
CN = {common_name}
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = {names}
"""


class OpensslMissing(RuntimeError):
    pass


@dataclass(frozen=True)
class ServerCertificate:
    ca_file: str
    certificate_file: str
    key_file: str


def make_certificates(directory: str | os.PathLike[str], host: str) -> ServerCertificate:
    """Reuse or make the CA in `directory`, then sign a fresh certificate for `host`."""
    openssl = shutil.which("openssl")
    if openssl is None:
        raise OpensslMissing(
            "HTTPS needs the openssl command to make the sandbox's certificate; install it "
            "(Debian/Ubuntu: apt-get install openssl; Fedora/RHEL: dnf install openssl; "
            "macOS: brew install openssl)")
    folder = Path(directory)
    folder.mkdir(parents=True, exist_ok=True)
    ca_file, ca_key = folder / "ca.pem", folder / "ca.key"
    if not (ca_file.exists() and ca_key.exists()):
        _run(openssl, folder, "ca.cnf", CA_NAME, "DNS:localhost",
             "req", "-x509", *_new_key(ca_key), "-out", str(ca_file),
             "-days", str(VALID_DAYS * 3), "-extensions", "ca")
    certificate, key, request = folder / "server.pem", folder / "server.key", folder / "server.csr"
    names = _subject_names(host)
    _run(openssl, folder, "server.cnf", "localhost", names,
         "req", *_new_key(key), "-out", str(request))
    _run(openssl, folder, "server.cnf", "localhost", names,
         "x509", "-req", "-in", str(request), "-CA", str(ca_file), "-CAkey", str(ca_key),
         "-set_serial", "0x" + secrets.token_hex(16), "-days", str(VALID_DAYS),
         "-extfile", str(folder / "server.cnf"), "-extensions", "server", "-out", str(certificate))
    request.unlink()
    return ServerCertificate(str(ca_file), str(certificate), str(key))


def _new_key(path: Path) -> list[str]:
    return ["-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", str(path)]


def _subject_names(host: str) -> str:
    names = ["DNS:localhost", "IP:127.0.0.1", "IP:::1"]
    if host and host not in ("0.0.0.0", "::", "localhost", "127.0.0.1", "::1"):
        try:
            names.append(f"IP:{ipaddress.ip_address(host)}")
        except ValueError:
            names.append(f"DNS:{host}")
    return ", ".join(names)


def _run(openssl: str, folder: Path, config_name: str, common_name: str, names: str,
         *arguments: str) -> None:
    config = folder / config_name
    config.write_text(_CONFIG.format(common_name=common_name, names=names), encoding="utf-8")
    uses_config = arguments[0] == "req"
    command = [openssl, *arguments, *(["-config", str(config)] if uses_config else [])]
    # Keys are readable by their owner only.
    previous = os.umask(0o077)
    try:
        result = subprocess.run(command, capture_output=True, text=True, check=False)
    finally:
        os.umask(previous)
    if result.returncode != 0:
        raise RuntimeError(f"openssl failed making the sandbox's certificate: {result.stderr.strip()}")
