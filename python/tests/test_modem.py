"""A link dialled through the modem simulator, whose call reaches the device simulator."""

from __future__ import annotations

from typing import Any

import pytest

import orvlink

from conftest import Profile, Simulator

WRITE, READ = 0x21, 0x22
PHONE = "5551234"


def test_a_dialled_link_does_everything_a_direct_one_does(modem: Simulator) -> None:
    with orvlink.open(port=5, modem=PHONE, dial_wait=10) as link:
        assert (link.port, link.modem) == (5, PHONE)
        assert "modem '5551234'" in repr(link)
        link.wake()
        assert link.send(0x10, 0, 4321) == (False, 4321)
        assert link.handshake(0x10, 0, 99) == (False, 99)
        sent = bytes(range(256)) * 256
        assert link.write(sent, WRITE, 0, 6, chunk=4096, timeout_ms=2000) == (True, len(sent))
        assert link.read(len(sent), READ, 0, 6, chunk=4096, timeout_ms=2000) == (sent, True, len(sent))
    assert link.closed


def test_a_failed_dial_raises_link_error_naming_the_number(start_sim: Any, profile: Profile) -> None:
    sim = start_sim("modem", "--dial-outcome", "busy")
    profile.map(5, sim.path)
    with pytest.raises(orvlink.LinkError, match=f"^OrvOpenComm failed \\(dialling {PHONE}\\) on COM5$") as raised:
        orvlink.open(port=5, modem=PHONE, dial_wait=10)
    assert (raised.value.call, raised.value.port) == ("OrvOpenComm", 5)

