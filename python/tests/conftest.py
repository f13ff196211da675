"""Fixtures: the build under test, the simulators as processes, a profile
and a runtime folder of each test's own."""

from __future__ import annotations

import importlib.util
import os
import selectors
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path
from typing import Callable, Dict, Iterator, List

import pytest

REPO = Path(__file__).resolve().parents[2]

# An installed copy is tested as installed; otherwise the one in this tree.
if importlib.util.find_spec("orvlink") is None:
    sys.path.insert(0, str(REPO / "python"))
BUILD = Path(os.environ.get("ORVLINK_BUILD_DIR") or REPO / "build").resolve()
ORVCTL = BUILD / "bin" / "orvctl"
LIBRARY = BUILD / "lib" / "liborvlink.so.1"

# The package under test loads the build's library unless told otherwise.
os.environ.setdefault("ORVLINK_LIBRARY", str(LIBRARY))

STARTUP_SECONDS = 10
STOP_SECONDS = 10


class Simulator:
    """An `orvctl sim ...` process and the pseudo-terminal it serves."""

    def __init__(self, kind: str, options: List[str]) -> None:
        self.kind = kind
        self.process = subprocess.Popen([str(ORVCTL), "sim", kind, *options],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        stdin=subprocess.DEVNULL)
        self.path = self._first_line()
        # Whatever it prints later must not fill the pipe and stall it.
        threading.Thread(target=self.process.stdout.read, daemon=True).start()
        threading.Thread(target=self.process.stderr.read, daemon=True).start()

    def _first_line(self) -> str:
        stream = self.process.stdout
        selector = selectors.DefaultSelector()
        selector.register(stream, selectors.EVENT_READ)
        deadline = time.monotonic() + STARTUP_SECONDS
        line = b""
        while not line.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not selector.select(left):
                self.kill()
                raise RuntimeError(f"orvctl sim {self.kind} printed no path within {STARTUP_SECONDS} s")
            byte = os.read(stream.fileno(), 1)
            if not byte:
                self.process.wait()
                raise RuntimeError(f"orvctl sim {self.kind} ended ({self.process.returncode}) "
                                   f"before printing its path: {self.process.stderr.read()!r}")
            line += byte
        selector.close()
        return line.decode().strip()

    def stop(self) -> int:
        """SIGTERM, then its exit code (it is killed if it does not end)."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(STOP_SECONDS)
            except subprocess.TimeoutExpired:
                self.kill()
        return self.process.returncode

    def kill(self) -> None:
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


@pytest.fixture(scope="session", autouse=True)
def build_present() -> None:
    for needed in (ORVCTL, LIBRARY):
        if not needed.is_file():
            pytest.exit(f"{needed} is missing: build the project first (or set ORVLINK_BUILD_DIR)",
                        returncode=3)


@pytest.fixture(autouse=True)
def runtime_dir(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> Path:
    """A runtime folder of this test's own, so that modem events of parallel runs never meet."""
    folder = tmp_path / "runtime"
    folder.mkdir(mode=0o700)
    monkeypatch.setenv("XDG_RUNTIME_DIR", str(folder))
    return folder


class Profile:
    """The profile file (ORVLINK_PROFILE) mapping ports to device files."""

    def __init__(self, file: Path) -> None:
        self.file = file
        self.devices: Dict[int, str] = {}

    def map(self, port: int, device: str) -> None:
        self.devices[port] = device
        ports = "".join(f"COM{p}:=9600,n,8,1\n" for p in self.devices)
        devices = "".join(f"COM{p}={d}\n" for p, d in self.devices.items())
        self.file.write_text(f"[Ports]\n{ports}[Devices]\n{devices}")


@pytest.fixture
def profile(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> Profile:
    file = tmp_path / "profile.ini"
    monkeypatch.setenv("ORVLINK_PROFILE", str(file))
    return Profile(file)


@pytest.fixture
def start_sim() -> Iterator[Callable[..., Simulator]]:
    """Starts `orvctl sim KIND OPTIONS...`; every one started is stopped, and must exit 0."""
    started: List[Simulator] = []

    def start(kind: str, *options: str) -> Simulator:
        sim = Simulator(kind, list(options))
        started.append(sim)
        return sim

    yield start
    codes = {sim.kind: sim.stop() for sim in started}
    assert all(code == 0 for code in codes.values()), f"simulators ended with {codes}"


@pytest.fixture
def device(start_sim: Callable[..., Simulator], profile: Profile) -> Simulator:
    """The device simulator, on COM3."""
    sim = start_sim("device")
    profile.map(3, sim.path)
    return sim


@pytest.fixture
def modem(start_sim: Callable[..., Simulator], profile: Profile) -> Simulator:
    """The modem simulator, on COM5."""
    sim = start_sim("modem")
    profile.map(5, sim.path)
    return sim


def pytest_report_header() -> str:
    import orvlink
    return f"orvlink package: {Path(orvlink.__file__).parent}; build: {BUILD}"
