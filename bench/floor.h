// The floor of the device operations on this machine: the mandated 1 ms
// pauses as the library's Sleep really takes them, plus bare write/read round
// trips of the same bytes over a pseudo-terminal, with no library and no
// simulator in the way.
#pragma once

#include <cstdint>

#include "measure.h"

namespace orv::bench {

struct Floor {
    Summary sleepPairMs;  // Sleep(1) twice
    Summary pingMs;       // 14 bytes out, 16 bytes back
    double exchangeMs() const { return sleepPairMs.median + pingMs.median; }
};

Floor MeasureFloor(int samples);

// One chunk of a transfer of chunkSize bytes: its pauses (four for a write,
// two for a read) and the bare round trips of its frames: for a write 14 out
// and 6 back, then chunkSize + 5 out and 10 back; for a read 14 out and
// 16 + chunkSize + 5 back. Milliseconds, median.
double ChunkFloorMs(const Floor &floor, bool write, uint32_t chunkSize, int samples);

}  // namespace orv::bench
