"""The link to one device: open, the device calls, close."""

from __future__ import annotations

import atexit
import ctypes
import os
import threading
from types import TracebackType
from typing import Any, Callable, NamedTuple, Optional, Type, Union

from . import _checks
from ._library import load_library

__all__ = ["BytesLike", "Link", "LinkClosedError", "LinkError", "ReadResult", "Reply", "open"]

BytesLike = Union[bytes, bytearray, memoryview]

DEFAULT_TIMEOUT_MS = 1000
DEFAULT_CHUNK = 4096
DEFAULT_DIAL_WAIT = 30


class LinkError(Exception):
    """A library call failed (returned 0).

    The library gives no reason beyond failure, so the error tells which call
    failed and on which port: ``call`` is the C function's name (for example
    ``"OrvSendCommand"``) and ``port`` the port number.
    """

    def __init__(self, call: str, port: int, detail: str = "failed") -> None:
        self.call = call
        self.port = port
        super().__init__(f"{call} {detail} on COM{port}")


class LinkClosedError(LinkError):
    """A call on a :class:`Link` that is closed, or that a later open replaced."""


class Reply(NamedTuple):
    """The device's answer to a command: its more flag and its 32-bit value."""

    more: bool
    value: int


class ReadResult(NamedTuple):
    """What :meth:`Link.read` brings back: the bytes, the more flag, the value."""

    data: bytes
    more: bool
    value: int


# One link per process, as in the library. The lock also keeps a Link's
# state check and its library call together, so a call on a replaced Link
# can never reach the link that replaced it.
_lock = threading.RLock()
_current: Optional["Link"] = None

_OPEN, _CLOSED, _REPLACED = "open", "closed", "replaced"


class Link:
    """An open link to the device on one serial port (made by :func:`open`).

    Use it as a context manager, which closes it on leaving the block::

        with orvlink.open(port=3) as link:
            link.wake()
            more, value = link.send(0x10, 0, 5)

    Every call returns only when its work is done. A call the library fails
    raises :class:`LinkError`; an argument out of range raises
    :class:`ValueError` (a wrong type :class:`TypeError`) before the library
    is called. A closed link, or one replaced by a later :func:`open`, raises
    :class:`LinkClosedError` on every call but :meth:`close`.

    Calls from several threads are safe; they run one after the other.
    """

    def __init__(self, library: ctypes.CDLL, port: int, phone: Optional[str]) -> None:
        """Called by :func:`open` once the library has opened the port; not by users."""
        self._library = library
        self._port = port
        self._phone = phone
        self._state = _OPEN

    @property
    def port(self) -> int:
        """The port number: the link runs on COM<port>."""
        return self._port

    @property
    def modem(self) -> Optional[str]:
        """The phone number dialled, or None on a direct cable."""
        return self._phone

    @property
    def closed(self) -> bool:
        """True once closed, or replaced by a later :func:`open`."""
        return self._state != _OPEN

    def __repr__(self) -> str:
        how = f"modem {self._phone!r}" if self._phone is not None else "direct"
        return f"<orvlink.Link COM{self._port} {how} {self._state}>"

    def __enter__(self) -> "Link":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], error: Optional[BaseException],
                 trace: Optional[TracebackType]) -> None:
        self.close()

    def close(self) -> None:
        """Close the link; on a modem the call is held 3 s after it came up.

        Closing a closed link does nothing, and so does closing a link that
        a later :func:`open` replaced (the new link stays open).

        Raises:
            LinkError: the library could not release the port (the link is
                closed all the same).
        """
        global _current
        with _lock:
            if self._state != _OPEN:
                return
            self._state = _CLOSED
            _current = None
            released = self._library.OrvCloseComm()
        if released == 0:
            raise LinkError("OrvCloseComm", self._port)

    def wake(self) -> None:
        """Send the wake-up burst to the device (OrvDevicePowerON)."""
        self._call("OrvDevicePowerON", lambda f: f())

    def handshake(self, cmd: int, mod: int, arg: int) -> Reply:
        """One quick exchange, one attempt (OrvHandshake).

        The device has 50 ms to acknowledge and 100 ms to reply.

        Args:
            cmd: command byte, 0 to 255.
            mod: modifier byte, 0 to 255.
            arg: argument, 0 to 2**32-1.

        Returns:
            ``(more, value)``: the device's more flag and 32-bit value.
        """
        frame = _frame(cmd, mod, arg)
        more, value = ctypes.c_uint16(), ctypes.c_uint32()
        self._call("OrvHandshake", lambda f: f(*frame, ctypes.byref(more), ctypes.byref(value)))
        return Reply(bool(more.value), value.value)

    def send(self, cmd: int, mod: int, arg: int, timeout_ms: int = DEFAULT_TIMEOUT_MS) -> Reply:
        """One command exchange, up to three attempts (OrvSendCommand).

        Args:
            cmd: command byte, 0 to 255.
            mod: modifier byte, 0 to 255.
            arg: argument, 0 to 2**32-1.
            timeout_ms: how long the device has to reply, 0 to 2**32-1 ms.

        Returns:
            ``(more, value)``: the device's more flag and 32-bit value.
        """
        frame = _frame(cmd, mod, arg)
        timeout = _checks.uint32("timeout_ms", timeout_ms)
        more, value = ctypes.c_uint16(), ctypes.c_uint32()
        self._call("OrvSendCommand",
                   lambda f: f(*frame, ctypes.byref(more), ctypes.byref(value), timeout))
        return Reply(bool(more.value), value.value)

    def write(self, data: BytesLike, cmd: int, mod: int, arg: int, chunk: int = DEFAULT_CHUNK,
              timeout_ms: int = DEFAULT_TIMEOUT_MS) -> Reply:
        """Send ``data`` to the device in numbered chunks (OrvWriteData).

        Args:
            data: the bytes to send (any bytes-like object).
            cmd, mod, arg: the command, modifier and argument of every chunk.
            chunk: chunk size, 1 to 10003 bytes.
            timeout_ms: how long the device has to reply to each chunk.

        Returns:
            ``(more, value)`` of the device's last reply.
        """
        view = _checks.data(data)
        frame = _frame(cmd, mod, arg)
        size = _checks.chunk(chunk)
        timeout = _checks.uint32("timeout_ms", timeout_ms)
        buffer = _bytes_of(view)
        more, value = ctypes.c_uint16(), ctypes.c_uint32()
        self._call("OrvWriteData", lambda f: f(buffer, len(buffer), *frame, ctypes.byref(more),
                                                 ctypes.byref(value), timeout, size))
        return Reply(bool(more.value), value.value)

    def read(self, length: int, cmd: int, mod: int, arg: int, chunk: int = DEFAULT_CHUNK,
             timeout_ms: int = DEFAULT_TIMEOUT_MS) -> ReadResult:
        """Read ``length`` bytes from the device in numbered chunks (OrvReadData).

        Args:
            length: how many bytes to read, 0 to 2**32-1.
            cmd, mod, arg: the command, modifier and argument of every chunk.
            chunk: chunk size, 1 to 10003 bytes.
            timeout_ms: how long the device has to reply to each chunk.

        Returns:
            ``(data, more, value)``: the bytes read, and the more flag and
            value of the device's last reply.
        """
        count = _checks.uint32("length", length)
        frame = _frame(cmd, mod, arg)
        size = _checks.chunk(chunk)
        timeout = _checks.uint32("timeout_ms", timeout_ms)
        buffer = (ctypes.c_uint8 * count)()
        more, value = ctypes.c_uint16(), ctypes.c_uint32()
        self._call("OrvReadData", lambda f: f(buffer, count, *frame, ctypes.byref(more),
                                                ctypes.byref(value), timeout, size))
        return ReadResult(bytes(buffer), bool(more.value), value.value)

    def _call(self, name: str, invoke: Callable[[Any], int]) -> None:
        with _lock:
            if self._state == _REPLACED:
                raise LinkClosedError(name, self._port, "refused: a later open replaced this link")
            if self._state == _CLOSED:
                raise LinkClosedError(name, self._port, "refused: the link is closed")
            succeeded = invoke(getattr(self._library, name))
        if succeeded == 0:
            raise LinkError(name, self._port)


def _frame(cmd: int, mod: int, arg: int) -> tuple:
    return _checks.byte("cmd", cmd), _checks.byte("mod", mod), _checks.uint32("arg", arg)


def _bytes_of(view: memoryview) -> ctypes.Array:
    """A ctypes array over the caller's bytes: shared when writable, else a copy."""
    array_type = ctypes.c_uint8 * view.nbytes
    if view.readonly:
        return array_type.from_buffer_copy(view)
    return array_type.from_buffer(view)


def open(port: int, modem: Optional[str] = None, dial_wait: int = DEFAULT_DIAL_WAIT, *,
         library: Union[str, os.PathLike, None] = None) -> Link:
    """Open the link to the device on COM<port> (OrvOpenComm).

    One process holds one link: opening while another link is open closes
    that one first (the library does so). The old :class:`Link` then raises
    :class:`LinkClosedError` on every call instead of using the new link.

    Args:
        port: the port number, 1 to 999. The profile (``ORVLINK_PROFILE``)
            maps ``COM<port>`` to a device file and gives its line settings.
        modem: a phone number of 1 to 60 characters to dial through a Hayes
            modem on the port; None for a direct cable.
        dial_wait: seconds the modem may take to connect; the library takes
            10 to 60 and uses 10 for any other value.
        library: the library file to load; see :func:`orvlink.find_library`
            for where it is looked for otherwise.

    Returns:
        The open :class:`Link`, best used in a ``with`` block.

    Raises:
        ValueError: an argument out of range (nothing is called then, and a
            link already open stays open).
        TypeError: an argument of the wrong type (likewise).
        LinkError: the port could not be opened or set up, or the dial failed.
        OSError: the library cannot be loaded; RuntimeError: ``library``
            names another file than the one already loaded.
    """
    global _current
    number = _checks.port(port)
    phone = _checks.phone(modem) if modem is not None else None
    wait = _checks.uint32("dial_wait", dial_wait)
    lib = load_library(library)
    with _lock:
        if _current is not None:
            _current._state = _REPLACED
            _current = None
        opened = lib.OrvOpenComm(number, 1 if phone is not None else 0, phone, wait)
        if opened == 0:
            detail = f"failed (dialling {modem})" if phone is not None else "failed"
            raise LinkError("OrvOpenComm", number, detail)
        _current = Link(lib, number, modem)
        return _current


@atexit.register
def _close_at_exit() -> None:
    # The library does nothing to an open link when it is unloaded; a modem
    # would stay off-hook.
    link = _current
    if link is not None:
        try:
            link.close()
        except LinkError:
            pass
