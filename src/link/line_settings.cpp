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

namespace {

// The speed the entry puts in force: 9600 without an entry, 0 when the
// entry has no comma or a speed outside the list.
uint32_t EntrySpeed(const LineEntry &entry) {
    if (entry.missing) return 9600;
    return entry.hasComma && entry.speedAccepted ? entry.speed : 0;
}

// The fields both modes set alike: binary, 8 data bits, no flow control.
void FillCommonFields(DCB &dcb, uint32_t speed) {
    dcb.BaudRate = speed;
    dcb.fBinary = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fNull = 0;
    dcb.ByteSize = 8;
    dcb.XonChar = 0x00;
}

LineEntry ReadLineEntry(int32_t portNumber, bool &keyFits) {
    char text[kLineEntrySize] = {};
    keyFits = ReadLineEntryText(portNumber, text);
    return ParseLineEntry(text);
}

}  // namespace

int32_t ApplyDirectLineSettings(int32_t portNumber) {
    linkState.frameReadIo.Offset = linkState.frameReadIo.OffsetHigh = 0;
    linkState.frameWriteIo.Offset = linkState.frameWriteIo.OffsetHigh = 0;
    linkState.frameReadEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    linkState.frameReadIo.hEvent = linkState.frameReadEvent;
    if (linkState.frameReadEvent == nullptr) return 0;

    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    GetCommState(linkState.portHandle, &dcb);

    bool keyFits = false;
    const LineEntry entry = ReadLineEntry(portNumber, keyFits);
    const uint32_t speed = EntrySpeed(entry);
    if (!keyFits || speed == 0) return 0;
    linkState.baudRate = speed;  // kept even when a later check refuses
    uint8_t parity = NOPARITY;
    uint8_t stopBits = ONESTOPBIT;
    if (!entry.missing) {
        if (!entry.parityAccepted || !entry.stopBitsAccepted) return 0;
        parity = entry.parity;
        stopBits = entry.stopBits;
    }

    FillCommonFields(dcb, speed);
    dcb.fParity = parity == NOPARITY ? 0 : 1;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fErrorChar = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 1;
    dcb.XonLim = 0;
    dcb.XoffLim = 0;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
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

    bool keyFits = false;
    const uint32_t speed = EntrySpeed(ReadLineEntry(portNumber, keyFits));
    if (!keyFits || speed == 0) return 0;
    linkState.baudRate = speed;

    // The error character, abort-on-error and the other characters stay as the
    // port had them.
    FillCommonFields(dcb, speed);
    dcb.fParity = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 1;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XoffChar = 0x00;
    return SetCommState(linkState.portHandle, &dcb) ? 1 : 0;
}

}  // namespace orv
