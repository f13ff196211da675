// OrvOpenComm and OrvCloseComm: the one place where the link meets the modem.
#include <cstdio>
#include <cstring>

#include "link/export_lock.h"
#include "link/line_settings.h"
#include "link/link_state.h"
#include "link/port_io.h"
#include "modem/modem_connect.h"
#include "orvlink.h"

namespace orv {

namespace {

constexpr int32_t kLowestPort = 1;
constexpr int32_t kHighestPort = 999;     // the profile key holds three digits
constexpr std::size_t kMaxPhoneNumber = 60;  // the dial line holds "ATD" and 60 more

bool RefusedBeforeAnything(int32_t portNumber, int32_t viaModem, const char *phoneNumber) {
    if (portNumber < kLowestPort || portNumber > kHighestPort) return true;
    if (viaModem == 0) return false;
    if (phoneNumber == nullptr || phoneNumber[0] == '\0') return true;
    return strnlen(phoneNumber, kMaxPhoneNumber + 1) > kMaxPhoneNumber;
}

void ReleaseFrameReadEvent() {
    if (linkState.frameReadEvent != nullptr) {
        CloseHandle(linkState.frameReadEvent);
        linkState.frameReadEvent = nullptr;
    }
    linkState.frameReadIo.hEvent = nullptr;
}

int32_t FailOpen() {
    CloseHandle(linkState.portHandle);
    linkState.portHandle = INVALID_HANDLE_VALUE;
    // Events made for this open go with it, so failed opens leak nothing.
    ReleaseFrameReadEvent();
    return 0;
}

}  // namespace

}  // namespace orv

using namespace orv;

extern "C" ORVLINK_API int32_t ORVLINK_CALL OrvOpenComm(int32_t portNumber, int32_t viaModem,
                                                        const char *phoneNumber,
                                                        uint32_t requestedDialWait) {
    ExportGuard guard(ExportMutex());
    if (RefusedBeforeAnything(portNumber, viaModem, phoneNumber)) return 0;
    if (linkState.portHandle != INVALID_HANDLE_VALUE) OrvCloseComm();
    linkState.viaModem = viaModem;

    // The device-namespace form: on Windows "COM10" and above open only so.
    char portName[16];
    std::snprintf(portName, sizeof portName, "\\\\.\\COM%d", portNumber);
    linkState.portHandle = CreateFileA(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (linkState.portHandle == INVALID_HANDLE_VALUE) return 0;

    SetCommMask(linkState.portHandle, EV_TXEMPTY);
    SetupComm(linkState.portHandle, 65536, 65536);
    PurgeComm(linkState.portHandle,
              PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);

    if (!SetLinkTimeouts(100)) return FailOpen();
    const int32_t settled = viaModem ? ApplyModemLineSettings(portNumber)
                                     : ApplyDirectLineSettings(portNumber);
    if (!settled) return FailOpen();
    if (!viaModem) return 1;
    if (!ModemConnect(phoneNumber, requestedDialWait)) return FailOpen();
    return 1;
}

extern "C" ORVLINK_API int32_t ORVLINK_CALL OrvCloseComm(void) {
    ExportGuard guard(ExportMutex());
    if (linkState.portHandle == INVALID_HANDLE_VALUE) return 1;
    SetCommMask(linkState.portHandle, 0);
    EscapeCommFunction(linkState.portHandle, CLRDTR);
    PurgeComm(linkState.portHandle,
              PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (linkState.viaModem != 0) ModemRelease();
    ReleaseFrameReadEvent();
    const BOOL released = CloseHandle(linkState.portHandle);
    linkState.portHandle = INVALID_HANDLE_VALUE;
    return released ? 1 : 0;
}
