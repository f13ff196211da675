// OrvDevicePowerON: the wake-up burst.
#include "link/export_lock.h"
#include "link/link_state.h"
#include "orvlink.h"
#include "protocol/frame_format.h"

namespace orv {
namespace {

int WakeUpFrameCount(uint32_t baudRate) {
    switch (baudRate) {
    case 1200:
    case 2400: return 10;
    case 4800: return 15;
    default: return 20;
    }
}

// A write completed as the port I/O primitives do, except that a failure
// leaves the port's error state alone: the burst clears it once at its end.
void WriteWakeUpFrame() {
    DWORD count = 0;
    if (WriteFile(linkState.portHandle, WakeUpFrame.data(), kWakeUpFrameSize, &count,
                  &linkState.frameWriteIo))
        return;
    if (GetLastError() != ERROR_IO_PENDING) return;
    while (!GetOverlappedResult(linkState.portHandle, &linkState.frameWriteIo, &count, TRUE)) {
        if (GetLastError() != ERROR_IO_INCOMPLETE) return;
    }
}

}  // namespace
}  // namespace orv

using namespace orv;

extern "C" ORVLINK_API int32_t ORVLINK_CALL OrvDevicePowerON(void) {
    ExportGuard guard(ExportMutex());
    PurgeComm(linkState.portHandle, PURGE_TXCLEAR | PURGE_RXCLEAR);
    Sleep(1);
    const int frames = WakeUpFrameCount(linkState.baudRate);
    for (int i = 0; i < frames; ++i) WriteWakeUpFrame();
    Sleep(1);
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(linkState.portHandle, &errors, &status);
    return 1;
}
