// One block transfer through the library's own chunk loop (the one behind
// OrvWriteData and OrvReadData), watched chunk by chunk for the progress bar
// and for telling how far a failed transfer got.
#pragma once

#include <cstdint>
#include <string>

#include "progress_bar.h"

namespace orv::ctl {

enum class TransferWay { Write, Read };

struct TransferRequest {
    TransferWay way = TransferWay::Write;
    uint8_t *buffer = nullptr;  // read: filled; write: only read
    uint32_t length = 0;
    uint8_t command = 0;
    uint8_t modifier = 0;
    uint32_t argument = 0;
    uint32_t timeoutMs = 1000;
    uint32_t chunkSize = 4096;
};

struct TransferOutcome {
    bool ok = false;
    uint16_t flag = 0;
    uint32_t value = 0;
    uint32_t bytesDone = 0;   // bytes of the chunks the device accepted
    uint32_t chunksDone = 0;
    uint32_t lastChunk = 0;   // index of the last accepted chunk
    double seconds = 0;

    // Bytes that carry data: a read chunk answered with flag 0 brings none.
    uint32_t dataBytes(const TransferRequest &request) const;
    std::string sofar(uint32_t length) const;  // " after 4096 of 8192 bytes (1 chunk)"
};

const char *CallName(TransferWay way);

TransferOutcome RunTransfer(const TransferRequest &request, ProgressBar &bar);

}  // namespace orv::ctl
