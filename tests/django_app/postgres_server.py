"""A throwaway PostgreSQL server on 127.0.0.1, from Debian's postgresql package.

The server runs from a temporary directory and is removed when stopped. It refuses to run
as root, so as root every server command runs as the `postgres` user the package creates.
"""

from __future__ import annotations

import glob
import os
import shutil
import socket
import subprocess
import tempfile
from pathlib import Path


def server_binaries() -> Path:
    """The bin directory of the newest installed server version."""
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/pg_ctl"),
                   key=lambda path: int(Path(path).parent.parent.name))
    if not found:
        raise FileNotFoundError("PostgreSQL's server is not installed (Debian's postgresql "
                                "package; bash scripts/test.sh installs it)")
    return Path(found[-1]).parent


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port: int = probe.getsockname()[1]
        return port


class PostgresServer:
    """`with PostgresServer() as server:` a running server at 127.0.0.1:`server.port`."""

    user = "postgres"

    def __init__(self) -> None:
        self.bin = server_binaries()
        self.port = free_port()
        self.directory = Path(tempfile.mkdtemp(prefix="vemrat-pay-postgres-"))
        self.data = self.directory / "data"
        self.as_root = os.geteuid() == 0

    def _run(self, *command: str) -> None:
        run_as = {"user": self.user, "group": self.user} if self.as_root else {}
        # The server is the tests' tool, not under test: no sanitizer runtime preloaded into it
        # (the sanitized test run preloads one into every process it starts).
        environment = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
        result = subprocess.run([str(self.bin / command[0]), *command[1:]], capture_output=True,
                                text=True, timeout=120, cwd=self.directory, env=environment,
                                **run_as)
        if result.returncode != 0:
            raise RuntimeError(f"{command[0]} failed: {result.stdout}{result.stderr}")

    def start(self) -> PostgresServer:
        if self.as_root:
            shutil.chown(self.directory, self.user, self.user)
        self._run("initdb", "-D", str(self.data), "-U", self.user, "--auth=trust",
                  "--encoding=UTF8", "--no-sync")
        # Durability is not tested here; without it the suite runs much faster.
        options = (f"-c listen_addresses=127.0.0.1 -p {self.port} -k {self.directory} "
                   "-c fsync=off -c synchronous_commit=off -c full_page_writes=off")
        self._run("pg_ctl", "-D", str(self.data), "-l", str(self.directory / "server.log"),
                  "-o", options, "-w", "start")
        return self

    def stop(self) -> None:
        try:
            if (self.data / "postmaster.pid").exists():
                self._run("pg_ctl", "-D", str(self.data), "-m", "fast", "-w", "stop")
        finally:
            shutil.rmtree(self.directory, ignore_errors=True)

    def __enter__(self) -> PostgresServer:
        try:
            return self.start()
        except BaseException:
            self.stop()
            raise

    def __exit__(self, *exc_info: object) -> None:
        self.stop()
