"""Argument checks done before the library is called: the C types would
otherwise wrap or truncate a bad value silently."""

from __future__ import annotations

import operator
from typing import Any

UINT8_MAX = 0xFF
UINT32_MAX = 0xFFFF_FFFF
LOWEST_PORT, HIGHEST_PORT = 1, 999
LONGEST_PHONE = 60
LARGEST_CHUNK = 10003


def integer(name: str, value: Any, lowest: int, highest: int) -> int:
    """value as an int within lowest..highest, else TypeError or ValueError."""
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, not bool")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if not lowest <= number <= highest:
        raise ValueError(f"{name} must be {lowest} to {highest}, got {number}")
    return number


def port(value: Any) -> int:
    return integer("port", value, LOWEST_PORT, HIGHEST_PORT)


def byte(name: str, value: Any) -> int:
    return integer(name, value, 0, UINT8_MAX)


def uint32(name: str, value: Any) -> int:
    return integer(name, value, 0, UINT32_MAX)


def chunk(value: Any) -> int:
    return integer("chunk", value, 1, LARGEST_CHUNK)


def phone(value: Any) -> bytes:
    """The number as the ASCII bytes the modem dials."""
    if not isinstance(value, str):
        raise TypeError(f"modem must be a phone number as str, not {type(value).__name__}")
    if not 1 <= len(value) <= LONGEST_PHONE:
        raise ValueError(f"modem phone number must be 1 to {LONGEST_PHONE} characters, got {len(value)}")
    if "\0" in value or not value.isascii() or not value.isprintable():
        raise ValueError(f"modem phone number must be printable ASCII, got {value!r}")
    return value.encode("ascii")


def data(value: Any) -> memoryview:
    """value as a flat view of bytes, without copying when it already is one."""
    try:
        view = memoryview(value)
    except TypeError:
        raise TypeError(f"data must be bytes-like, not {type(value).__name__}") from None
    if not view.c_contiguous:
        view = memoryview(view.tobytes())
    view = view.cast("B")
    if view.nbytes > UINT32_MAX:
        raise ValueError(f"data must be at most {UINT32_MAX} bytes, got {view.nbytes}")
    return view
