#include "transfer_run.h"

#include <chrono>

#include "device/block_transfer.h"
#include "link/export_lock.h"

namespace orv::ctl {

namespace {

struct Watch {
    ProgressBar *bar = nullptr;
    TransferOutcome *outcome = nullptr;
};

void ChunkDone(void *context, uint32_t bytesDone, uint32_t chunkIndex) {
    auto *watch = static_cast<Watch *>(context);
    watch->outcome->bytesDone = bytesDone;
    watch->outcome->lastChunk = chunkIndex;
    ++watch->outcome->chunksDone;
    watch->bar->update(bytesDone);
}

}  // namespace

const char *CallName(TransferWay way) {
    return way == TransferWay::Write ? "OrvWriteData" : "OrvReadData";
}

uint32_t TransferOutcome::dataBytes(const TransferRequest &request) const {
    if (request.way == TransferWay::Read && ok && flag == 0) return lastChunk * request.chunkSize;
    return bytesDone;
}

std::string TransferOutcome::sofar(uint32_t length) const {
    return " after " + std::to_string(bytesDone) + " of " + std::to_string(length) + " bytes (" +
           std::to_string(chunksDone) + (chunksDone == 1 ? " chunk" : " chunks") + " accepted)";
}

TransferOutcome RunTransfer(const TransferRequest &request, ProgressBar &bar) {
    TransferOutcome outcome;
    Watch watch{&bar, &outcome};
    const TransferObserver observer{&ChunkDone, &watch};
    const auto start = std::chrono::steady_clock::now();
    int32_t result = 0;
    {
        // The exports hold this lock around the same call.
        ExportGuard guard(ExportMutex());
        result = request.way == TransferWay::Write
            ? WriteTransfer(request.buffer, request.length, request.command, request.modifier,
                            request.argument, &outcome.flag, &outcome.value, request.timeoutMs,
                            request.chunkSize, &observer)
            : ReadTransfer(request.buffer, request.length, request.command, request.modifier,
                           request.argument, &outcome.flag, &outcome.value, request.timeoutMs,
                           request.chunkSize, &observer);
    }
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.ok = result == 1;
    bar.finish();
    return outcome;
}

}  // namespace orv::ctl
