// Faults that a pseudo-terminal cannot produce, injected into the platform
// layer by the project's tests, and records of what the layer asked of the
// device. Only the test build (ORVLINK_TEST_SEAM) has them; elsewhere the
// hooks below are constants and nothing can be triggered from outside.
#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/posix/win_api.h"

namespace orv::win::seam {

#ifdef ORVLINK_TEST_SEAM

struct Faults {
    bool refuseCommTimeouts = false;
    std::size_t writeCap = 0;  // most bytes one WriteFile moves; 0: no cap
    bool failCreateThread = false;
    bool failCreateEvent = false;
    // Raw bytes that the next receive of any port takes in before the
    // device's own, e.g. the marking of a parity error: FF 00 00.
    std::vector<uint8_t> rawInput;
};

// Sets the faults (the records are kept).
void Inject(const Faults &faults);
// Clears faults and records.
void Reset();

// The termios that the last SetCommState asked for, before the device
// dropped what it does not support; false when none was asked yet.
bool LastTermios(termios *out);
// The modem-line requests made, in order, as SETDTR, CLRDTR, SETRTS, CLRRTS.
std::vector<DWORD> ModemLineLog();

// Hooks called by the layer.
bool RefuseCommTimeouts();
std::size_t CapWrite(std::size_t n);
bool FailCreateThread();
bool FailCreateEvent();
std::vector<uint8_t> TakeRawInput();
void RecordTermios(const termios &asked);
void RecordModemLine(DWORD function);

#else

inline bool RefuseCommTimeouts() { return false; }
inline std::size_t CapWrite(std::size_t n) { return n; }
inline bool FailCreateThread() { return false; }
inline bool FailCreateEvent() { return false; }
inline std::vector<uint8_t> TakeRawInput() { return {}; }
inline void RecordTermios(const termios &) {}
inline void RecordModemLine(DWORD) {}

#endif

}  // namespace orv::win::seam
