"""Every method of a Link against the device simulator on a direct line."""

from __future__ import annotations

import array
import os
import subprocess
import sys
from pathlib import Path
from typing import Any, Iterator

import pytest

import orvlink

from conftest import Profile, Simulator

WRITE, READ, REFUSED = 0x21, 0x22, 0x30
MIB = 1 << 20
U32_MAX = 2 ** 32 - 1


@pytest.fixture
def link(device: Simulator) -> Iterator[orvlink.Link]:
    with orvlink.open(port=3) as opened:
        yield opened


def pattern(size: int, seed: int = 1) -> bytes:
    """Bytes that differ from chunk to chunk, so a misplaced chunk shows."""
    return bytes((i * 7 + i // 251 + seed) & 0xFF for i in range(size))


def test_open_gives_an_open_link_on_the_port(link: orvlink.Link) -> None:
    assert (link.port, link.modem, link.closed) == (3, None, False)
    assert "COM3" in repr(link) and "open" in repr(link)


def test_wake_sends_the_burst_and_the_device_answers_after_it(link: orvlink.Link) -> None:
    assert link.wake() is None
    assert link.send(0x10, 0, 77) == (False, 77)


@pytest.mark.parametrize("cmd, mod, arg", [(0x10, 0, 5), (0, 0, 0), (0xFF, 0xFF, U32_MAX), (0x7F, 3, 0x80000000)])
def test_send_returns_the_flag_and_value_of_the_reply(link: orvlink.Link, cmd: int, mod: int, arg: int) -> None:
    reply = link.send(cmd, mod, arg, timeout_ms=500)
    assert isinstance(reply, orvlink.Reply)
    assert (reply.more, reply.value) == (False, arg)
    more, value = reply
    assert more is False and value == arg


@pytest.mark.parametrize("arg", [0, 12345, U32_MAX])
def test_handshake_returns_the_flag_and_value_of_the_reply(link: orvlink.Link, arg: int) -> None:
    assert link.handshake(0x11, 1, arg) == orvlink.Reply(more=False, value=arg)


@pytest.mark.parametrize("size, chunk", [(1, 1), (1000, 7), (10003, 10003), (25000, 4096), (4096, 10003)])
def test_write_then_read_brings_the_same_bytes_back(link: orvlink.Link, size: int, chunk: int) -> None:
    sent = pattern(size, seed=size)
    written = link.write(sent, WRITE, 0, 9, chunk=chunk)
    assert written == (True, size)  # the device counts what it stored
    back = link.read(size, READ, 0, 9, chunk=chunk)
    assert isinstance(back, orvlink.ReadResult) and isinstance(back.data, bytes)
    assert back == (sent, True, size)


def test_a_mebibyte_goes_there_and_back_whole(link: orvlink.Link) -> None:
    sent = pattern(MIB)
    assert link.write(sent, WRITE, 0, 1, chunk=10003, timeout_ms=2000) == (True, MIB)
    data, more, value = link.read(MIB, READ, 0, 1, chunk=10003, timeout_ms=2000)
    assert (more, value) == (True, MIB)
    assert data == sent


def test_regions_are_kept_apart_by_their_argument(link: orvlink.Link) -> None:
    link.write(b"first", WRITE, 0, 1)
    link.write(b"second", WRITE, 0, 2)
    assert link.read(5, READ, 0, 1).data == b"first"
    assert link.read(6, READ, 0, 2).data == b"second"


@pytest.mark.parametrize("make", [
    bytearray, lambda b: memoryview(b"<" + b + b">")[1:-1], lambda b: array.array("H", b),
    lambda b: memoryview(bytearray(b"".join(bytes([x, 0]) for x in b)))[::2],
])
def test_write_sends_the_bytes_of_any_bytes_like_object(link: orvlink.Link, make: Any) -> None:
    sent = pattern(600)
    link.write(make(sent), WRITE, 0, 4, chunk=256)
    assert link.read(600, READ, 0, 4, chunk=256).data == sent


@pytest.mark.parametrize("method, args", [
    ("write", (b"payload", REFUSED, 0, 1)),
    ("read", (7, REFUSED, 0, 1)),
])
def test_a_refused_transfer_raises_link_error_naming_the_call_and_port(
        link: orvlink.Link, method: str, args: tuple) -> None:
    call = {"write": "OrvWriteData", "read": "OrvReadData"}[method]
    with pytest.raises(orvlink.LinkError, match=f"^{call} failed on COM3$") as raised:
        getattr(link, method)(*args, timeout_ms=200)
    assert (raised.value.call, raised.value.port) == (call, 3)
    assert link.send(0x10, 0, 8) == (False, 8)  # the link goes on


@pytest.mark.parametrize("call, invoke", [
    ("OrvSendCommand", lambda link: link.send(0x10, 0, 1, timeout_ms=100)),
    ("OrvHandshake", lambda link: link.handshake(0x10, 0, 1)),
    ("OrvWriteData", lambda link: link.write(b"abc", WRITE, 0, 1, timeout_ms=100)),
    ("OrvReadData", lambda link: link.read(3, READ, 0, 1, timeout_ms=100)),
])
def test_calls_to_a_device_that_is_gone_raise_link_error(
        device: Simulator, link: orvlink.Link, call: str, invoke: Any) -> None:
    assert device.stop() == 0
    with pytest.raises(orvlink.LinkError) as raised:
        invoke(link)
    assert (raised.value.call, raised.value.port) == (call, 3)
    assert not isinstance(raised.value, orvlink.LinkClosedError)


def test_opening_a_port_without_a_device_raises_link_error(profile: Profile, tmp_path: Path) -> None:
    profile.map(4, str(tmp_path / "absent"))
    with pytest.raises(orvlink.LinkError, match="^OrvOpenComm failed on COM4$") as raised:
        orvlink.open(port=4)
    assert (raised.value.call, raised.value.port) == ("OrvOpenComm", 4)


@pytest.mark.parametrize("method, args", [
    ("wake", ()), ("handshake", (1, 0, 0)), ("send", (1, 0, 0)),
    ("write", (b"x", WRITE, 0, 0)), ("read", (1, READ, 0, 0)),
])
def test_a_closed_link_refuses_every_call(device: Simulator, method: str, args: tuple) -> None:
    with orvlink.open(port=3) as link:
        pass
    assert link.closed
    with pytest.raises(orvlink.LinkClosedError, match="the link is closed") as raised:
        getattr(link, method)(*args)
    assert raised.value.port == 3
    link.close()  # closing again does nothing


def port_opens_in_another_process(port: int) -> bool:
    """Whether a second process can open the port (it is held exclusively while open)."""
    script = (f"import orvlink, sys\n"
              f"try:\n    orvlink.open({port}).close()\n"
              f"except orvlink.LinkError:\n    sys.exit(1)\n")
    env = dict(os.environ, PYTHONPATH=str(Path(orvlink.__file__).parents[1]))
    return subprocess.run([sys.executable, "-c", script], env=env, timeout=60).returncode == 0


def test_a_second_open_closes_the_first_link_which_then_refuses_calls(
        start_sim: Any, profile: Profile) -> None:
    first_sim, second_sim = start_sim("device"), start_sim("device")
    profile.map(3, first_sim.path)
    profile.map(4, second_sim.path)
    first = orvlink.open(port=3)
    assert not port_opens_in_another_process(3)
    with orvlink.open(port=4) as second:
        assert first.closed and "replaced" in repr(first)
        assert port_opens_in_another_process(3)  # the library closed it
        with pytest.raises(orvlink.LinkClosedError, match="^OrvSendCommand refused: a later open replaced"):
            first.send(0x10, 0, 1)
        first.close()  # must not close the link that replaced it
        assert second.send(0x10, 0, 42) == (False, 42)
    assert second.closed


def test_a_refused_open_leaves_the_open_link_alone(link: orvlink.Link) -> None:
    with pytest.raises(ValueError):
        orvlink.open(port=1000)
    assert not link.closed
    assert link.send(0x10, 0, 3) == (False, 3)
