"""Talk to one orvlink device over a serial port or a dialled modem.

A thin layer over the shared library liborvlink (loaded with ctypes): open
the link, wake the device, exchange commands and move blocks of data::

    import orvlink

    with orvlink.open(port=3) as link:
        link.wake()
        more, value = link.send(0x10, 0, 5)
        link.write(b"hello", 0x21, 0, 7)
        data, more, value = link.read(5, 0x22, 0, 7)

The port ``COM<port>`` and its line settings come from the profile (the INI
file named by ``ORVLINK_PROFILE``). The library file is found as
:func:`find_library` says; ``ORVLINK_LIBRARY`` names it explicitly.

One process holds one link: a second :func:`open` closes the first.
"""

from ._library import LIBRARY_ENV, find_library, load_library
from ._link import BytesLike, Link, LinkClosedError, LinkError, ReadResult, Reply, open

__version__ = "1.0.0"

# Shown as orvlink.LinkError (not orvlink._link.LinkError) in help() and tracebacks.
for _public in (Link, LinkClosedError, LinkError, ReadResult, Reply, find_library, load_library, open):
    _public.__module__ = __name__
del _public

__all__ = [
    "BytesLike",
    "LIBRARY_ENV",
    "Link",
    "LinkClosedError",
    "LinkError",
    "ReadResult",
    "Reply",
    "find_library",
    "load_library",
    "open",
]
