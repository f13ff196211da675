"""Finding liborvlink and declaring its seven functions for ctypes."""

from __future__ import annotations

import ctypes
import os
import sys
import threading
from pathlib import Path
from typing import Optional, Union

__all__ = ["LIBRARY_ENV", "find_library", "load_library"]

#: The environment variable that names the library file.
LIBRARY_ENV = "ORVLINK_LIBRARY"

if sys.platform == "win32":
    _FILE_NAME = "orvlink.dll"
    _BUILD_SUBDIR = "bin"
else:
    _FILE_NAME = "liborvlink.so.1"
    _BUILD_SUBDIR = "lib"

_u8 = ctypes.c_uint8
_u16_out = ctypes.POINTER(ctypes.c_uint16)
_u32 = ctypes.c_uint32
_u32_out = ctypes.POINTER(ctypes.c_uint32)
_bytes_in = ctypes.POINTER(ctypes.c_uint8)

# The C header, one function a line: name and argument types; every one
# returns int32_t.
_SIGNATURES = {
    "OrvOpenComm": (ctypes.c_int32, ctypes.c_int32, ctypes.c_char_p, _u32),
    "OrvCloseComm": (),
    "OrvSendCommand": (_u8, _u8, _u32, _u16_out, _u32_out, _u32),
    "OrvWriteData": (_bytes_in, _u32, _u8, _u8, _u32, _u16_out, _u32_out, _u32, _u32),
    "OrvReadData": (_bytes_in, _u32, _u8, _u8, _u32, _u16_out, _u32_out, _u32, _u32),
    "OrvHandshake": (_u8, _u8, _u32, _u16_out, _u32_out),
    "OrvDevicePowerON": (),
}

_loaded: Optional[ctypes.CDLL] = None
_loaded_from: Optional[str] = None
_load_lock = threading.Lock()


def _source_tree_build() -> Optional[Path]:
    """The library in the build folder when this package runs from the repository."""
    repo = Path(__file__).resolve().parents[2]
    if not (repo / "include" / "orvlink.h").is_file():
        return None
    candidate = repo / "build" / _BUILD_SUBDIR / _FILE_NAME
    return candidate if candidate.is_file() else None


def find_library(path: Union[str, os.PathLike, None] = None) -> str:
    """Tell which library file :func:`load_library` would load.

    The first of these that applies wins:

    1. ``path``, when given (it must exist);
    2. the environment variable ``ORVLINK_LIBRARY``, when set and not empty
       (it must exist);
    3. ``build/lib/liborvlink.so.1`` of the repository, when the package runs
       from the source tree and that file has been built;
    4. the bare name ``liborvlink.so.1`` (``orvlink.dll`` on Windows), which
       the system's loader looks up along its usual search path.

    Raises:
        FileNotFoundError: ``path`` or ``ORVLINK_LIBRARY`` names no file.
    """
    for given, origin in ((path, "the path given"), (os.environ.get(LIBRARY_ENV), LIBRARY_ENV)):
        if given is None or given == "":
            continue
        file = Path(given)
        if not file.is_file():
            raise FileNotFoundError(f"orvlink library named by {origin} does not exist: {file}")
        return str(file.absolute())
    built = _source_tree_build()
    if built is not None:
        return str(built)
    return _FILE_NAME


def _declare(library: ctypes.CDLL) -> None:
    for name, argtypes in _SIGNATURES.items():
        function = getattr(library, name)
        function.argtypes = argtypes
        function.restype = ctypes.c_int32


def load_library(path: Union[str, os.PathLike, None] = None) -> ctypes.CDLL:
    """Load liborvlink once for this process and declare its seven functions.

    The library keeps one link per process, so the package loads one copy of
    it: the first call decides which file (see :func:`find_library`); later
    calls return the same library. Asking for a different file once one is
    loaded raises :class:`RuntimeError`.

    Raises:
        FileNotFoundError: ``path`` or ``ORVLINK_LIBRARY`` names no file.
        OSError: the system cannot load the file, or finds none by that name.
        RuntimeError: another file is already loaded.
    """
    global _loaded, _loaded_from
    with _load_lock:
        wanted = find_library(path)
        if _loaded is not None:
            if path is not None and wanted != _loaded_from:
                raise RuntimeError(
                    f"orvlink library {_loaded_from} is already loaded; cannot load {wanted} as well")
            return _loaded
        loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL  # WINAPI on Windows
        try:
            library = loader(wanted)
        except OSError as error:
            raise OSError(
                f"cannot load the orvlink library {wanted!r} ({error}); build it, "
                f"or name the file with {LIBRARY_ENV} or load_library(path)") from error
        _declare(library)
        _loaded, _loaded_from = library, wanted
        return library
