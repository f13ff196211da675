// SendAtCommand and ReadModemBytes: the modem's two transfers.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "link/link_state.h"
#include "modem/at_command.h"
#include "link/port_io.h"

namespace orv {

namespace {

void RewindModemIo() {
    linkState.modemIo.Offset = 0;
    linkState.modemIo.OffsetHigh = 0;
}

}  // namespace

bool IsDialCommand(const char *text) {
    static constexpr char kDial[] = "ATD";
    if (text == nullptr) return false;
    for (std::size_t i = 0; i < 3; ++i) {
        if (text[i] == '\0') return false;
        if (std::toupper(static_cast<unsigned char>(text[i])) != kDial[i]) return false;
    }
    return true;
}

int32_t SendAtCommand(HANDLE port, const char *atCommand) {
    if (atCommand == nullptr) return 0;
    const std::size_t textLength = strnlen(atCommand, kMaxAtCommand + 1);
    if (textLength > kMaxAtCommand) return 0;  // would not fit the line area

    char line[kCommandLineArea];
    std::memcpy(line, atCommand, textLength);
    line[textLength] = kCommandTerminator;
    line[textLength + 1] = '\0';
    const DWORD lineLength = static_cast<DWORD>(textLength + 1);

    PurgeComm(port, kPurgeBeforeCommand);
    Sleep(1);
    RewindModemIo();
    DWORD count = 0;
    const BOOL started = WriteFile(port, line, lineLength, &count, &linkState.modemIo);
    count = CompleteTransfer(port, linkState.modemIo, started, count);
    // The echo that came in during the write goes too: the watcher judges only
    // what arrives from here on. No drain wait here: that is the watcher's gate.
    PurgeComm(port, kPurgeAfterCommand);
    if (count == lineLength) return 1;
    Sleep(1);
    return 0;
}

DWORD ReadModemBytes(HANDLE port, std::span<uint8_t, kModemReadArea> readArea) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port, &errors, &status)) return 0;
    if (status.cbInQue == 0) return 0;
    const DWORD n = std::min<DWORD>(status.cbInQue, kModemReadArea);
    RewindModemIo();
    DWORD count = 0;
    const BOOL started = ReadFile(port, readArea.data(), n, &count, &linkState.modemIo);
    return CompleteTransfer(port, linkState.modemIo, started, count);
}

}  // namespace orv
