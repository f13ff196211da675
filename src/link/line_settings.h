// The line settings of a port, from its entry in the profile's "Ports" section.
#pragma once

#include <cstdint>
#include <string_view>

namespace orv {

constexpr uint32_t kAcceptedSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400};
constexpr char kKeyNotFound[] = "Key Not Found";
constexpr std::size_t kLineEntrySize = 20;  // the entry text is cut to 19 characters

// An entry text judged field by field, without touching any port; the apply
// operations below take these verdicts in their own order of steps.
struct LineEntry {
    bool missing = false;   // the default text came back: no entry
    bool hasComma = false;
    bool speedAccepted = false;
    uint32_t speed = 0;
    bool parityAccepted = false;
    uint8_t parity = 0;     // NOPARITY, ODDPARITY or EVENPARITY
    bool stopBitsAccepted = false;
    uint8_t stopBits = 0;   // ONESTOPBIT or TWOSTOPBITS
};
LineEntry ParseLineEntry(std::string_view text);

// Reads the entry of "COM<portNumber>:" as the library does (cut to 19 characters).
// Returns false when the port number does not fit the key.
bool ReadLineEntryText(int32_t portNumber, char (&text)[kLineEntrySize]);

int32_t ApplyDirectLineSettings(int32_t portNumber);
int32_t ApplyModemLineSettings(int32_t portNumber);

}  // namespace orv
