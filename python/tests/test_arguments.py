"""Arguments out of range are refused in Python, before the library is called."""

from __future__ import annotations

import array
from typing import Any, Callable, List, Tuple

import pytest

import orvlink
from orvlink import _link

U32_END = 2 ** 32


class RecordingLibrary:
    """Stands in for liborvlink: records every call and succeeds."""

    def __init__(self) -> None:
        self.calls: List[str] = []

    def __getattr__(self, name: str) -> Callable[..., int]:
        def call(*args: Any) -> int:
            self.calls.append(name)
            return 1
        return call


@pytest.fixture
def recording(monkeypatch: pytest.MonkeyPatch) -> RecordingLibrary:
    library = RecordingLibrary()
    monkeypatch.setattr(_link, "load_library", lambda path=None: library)
    monkeypatch.setattr(_link, "_current", None)
    return library


BAD_OPENS: List[Tuple[dict, type]] = [
    (dict(port=0), ValueError),
    (dict(port=1000), ValueError),
    (dict(port=-3), ValueError),
    (dict(port="3"), TypeError),
    (dict(port=3.0), TypeError),
    (dict(port=3, modem=""), ValueError),
    (dict(port=3, modem="5" * 61), ValueError),
    (dict(port=3, modem="555\x001234"), ValueError),
    (dict(port=3, modem="555–1234"), ValueError),
    (dict(port=3, modem=5551234), TypeError),
    (dict(port=3, dial_wait=-1), ValueError),
    (dict(port=3, dial_wait=U32_END), ValueError),
]


@pytest.mark.parametrize("arguments, error", BAD_OPENS)
def test_open_refuses_bad_arguments_before_calling_the_library(
        recording: RecordingLibrary, arguments: dict, error: type) -> None:
    with pytest.raises(error):
        orvlink.open(**arguments)
    assert recording.calls == []


def test_open_takes_the_edges_of_every_range(recording: RecordingLibrary) -> None:
    orvlink.open(port=1, dial_wait=0).close()
    orvlink.open(port=999, modem="5" * 60, dial_wait=U32_END - 1).close()
    orvlink.open(port=2, modem="1").close()
    assert recording.calls == ["OrvOpenComm", "OrvCloseComm"] * 3


BAD_CALLS: List[Tuple[str, tuple, dict, type]] = [
    ("handshake", (256, 0, 0), {}, ValueError),
    ("handshake", (0, -1, 0), {}, ValueError),
    ("handshake", (0, 0, U32_END), {}, ValueError),
    ("handshake", (0, 0, -1), {}, ValueError),
    ("handshake", (0, 0, True), {}, TypeError),
    ("send", (0, 256, 0), {}, ValueError),
    ("send", (-1, 0, 0), {}, ValueError),
    ("send", (0, 0, 0), dict(timeout_ms=-1), ValueError),
    ("send", (0, 0, 0), dict(timeout_ms=U32_END), ValueError),
    ("send", ("16", 0, 0), {}, TypeError),
    ("write", (b"x", 0x21, 0, 0), dict(chunk=0), ValueError),
    ("write", (b"x", 0x21, 0, 0), dict(chunk=10004), ValueError),
    ("write", (b"x", 0x21, 0, U32_END), {}, ValueError),
    ("write", (b"x", 0x21, 0, 0), dict(timeout_ms=U32_END), ValueError),
    ("write", ("text", 0x21, 0, 0), {}, TypeError),
    ("write", (17, 0x21, 0, 0), {}, TypeError),
    ("write", ([1, 2, 3], 0x21, 0, 0), {}, TypeError),
    ("read", (-1, 0x22, 0, 0), {}, ValueError),
    ("read", (U32_END, 0x22, 0, 0), {}, ValueError),
    ("read", (4, 0x122, 0, 0), {}, ValueError),
    ("read", (4, 0x22, 0, 0), dict(chunk=0), ValueError),
    ("read", (4, 0x22, 0, 0), dict(chunk=10004), ValueError),
    ("read", (4, 0x22, 0, 0), dict(timeout_ms=-5), ValueError),
]


@pytest.mark.parametrize("method, args, options, error", BAD_CALLS)
def test_device_calls_refuse_bad_arguments_before_calling_the_library(
        recording: RecordingLibrary, method: str, args: tuple, options: dict, error: type) -> None:
    link = orvlink.open(port=3)
    recording.calls.clear()
    with pytest.raises(error):
        getattr(link, method)(*args, **options)
    assert recording.calls == []
    assert not link.closed


@pytest.mark.parametrize("data", [
    b"abc", bytearray(b"abc"), memoryview(b"xabcx")[1:4], array.array("B", b"abc"),
    memoryview(bytearray(b"a-b-c"))[::2],
])
def test_write_takes_any_bytes_like_object(recording: RecordingLibrary, data: Any) -> None:
    orvlink.open(port=3).write(data, 0x21, 0, 0, chunk=10003, timeout_ms=U32_END - 1)
    assert recording.calls[-1] == "OrvWriteData"
