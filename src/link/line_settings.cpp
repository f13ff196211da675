#include "link/line_settings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/link_state.h"

namespace orv {

namespace {

bool IsAcceptedSpeed(long speed) {
    return std::find(std::begin(kAcceptedSpeeds), std::end(kAcceptedSpeeds), speed) !=
           std::end(kAcceptedSpeeds);
}

}  // namespace

LineEntry ParseLineEntry(std::string_view text) {
    LineEntry entry;
    if (text == kKeyNotFound) {
        entry.missing = true;
        return entry;
    }
    const auto comma = text.find(',');
    if (comma == std::string_view::npos) return entry;
    entry.hasComma = true;
    // The standard decimal conversion: leading white space, a sign, digits.
    const std::string speedText(text.substr(0, comma));
    const long speed = std::strtol(speedText.c_str(), nullptr, 10);
    if (!IsAcceptedSpeed(speed)) return entry;
    entry.speedAccepted = true;
    entry.speed = static_cast<uint32_t>(speed);
    if (comma + 1 < text.size()) {
        switch (text[comma + 1]) {
        case 'n': entry.parityAccepted = true; entry.parity = NOPARITY; break;
        case 'o': entry.parityAccepted = true; entry.parity = ODDPARITY; break;
        case 'e': entry.parityAccepted = true; entry.parity = EVENPARITY; break;
        default: break;
        }
    }
    // The stop-bit character stands five after the comma: one-character
    // parity and data-bits fields are assumed.
    if (comma + 5 < text.size()) {
        switch (text[comma + 5]) {
        case '1': entry.stopBitsAccepted = true; entry.stopBits = ONESTOPBIT; break;
        case '2': entry.stopBitsAccepted = true; entry.stopBits = TWOSTOPBITS; break;
        default: break;
        }
    }
    return entry;
}

bool ReadLineEntryText(int32_t portNumber, char (&text)[kLineEntrySize]) {
    char key[8];
    const int length = std::snprintf(key, sizeof key, "COM%d:", portNumber);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof key) return false;
    GetProfileStringA("Ports", key, kKeyNotFound, text, sizeof text);
    return true;
}

int32_t ApplyDirectLineSettings(int32_t portNumber) {
    linkState.frameReadIo.Offset = linkState.frameReadIo.OffsetHigh = 0;
    linkState.frameWriteIo.Offset = linkState.frameWriteIo.OffsetHigh = 0;
    linkState.frameReadEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    linkState.frameReadIo.hEvent = linkState.frameReadEvent;
    if (linkState.frameReadEvent == nullptr) return 0;

    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    GetCommState(linkState.portHandle, &dcb);

    char text[kLineEntrySize] = {};
    if (!ReadLineEntryText(portNumber, text)) return 0;
    const LineEntry entry = ParseLineEntry(text);
    uint8_t parity = NOPARITY;
    uint8_t stopBits = ONESTOPBIT;
    if (entry.missing) {
        linkState.baudRate = 9600;
    } else {
        if (!entry.hasComma || !entry.speedAccepted) return 0;
        linkState.baudRate = entry.speed;  // kept even when a later check refuses
        if (!entry.parityAccepted || !entry.stopBitsAccepted) return 0;
        parity = entry.parity;
        stopBits = entry.stopBits;
    }

    dcb.BaudRate = linkState.baudRate;
    dcb.fBinary = 1;
    dcb.fParity = parity == NOPARITY ? 0 : 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 1;
    dcb.XonLim = 0;
    dcb.XoffLim = 0;
    dcb.ByteSize = 8;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    dcb.XonChar = 0x00;
    dcb.XoffChar = 0x01;
    dcb.ErrorChar = 0x00;
    dcb.EofChar = 0x00;
    dcb.EvtChar = 0x00;
    return SetCommState(linkState.portHandle, &dcb) ? 1 : 0;
}

int32_t ApplyModemLineSettings(int32_t portNumber) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    GetCommState(linkState.portHandle, &dcb);

    char text[kLineEntrySize] = {};
    if (!ReadLineEntryText(portNumber, text)) return 0;
    const LineEntry entry = ParseLineEntry(text);
    uint32_t speed = 9600;
    if (!entry.missing) {
        if (!entry.hasComma || !entry.speedAccepted) return 0;
        speed = entry.speed;
    }
    linkState.baudRate = speed;

    dcb.BaudRate = speed;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 1;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x00;
    dcb.XoffChar = 0x00;
    return SetCommState(linkState.portHandle, &dcb) ? 1 : 0;
}

}  // namespace orv
