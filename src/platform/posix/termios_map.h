// Line settings between the DCB the library speaks and the termios a tty
// takes. Pure: no I/O.
#pragma once

#include <termios.h>

#include "platform/posix/win_api.h"

namespace orv::win {

// The termios speed of a rate in bit/s; false for a rate termios lacks.
bool SpeedOf(DWORD baudRate, speed_t *speed);
// The rate of a termios speed, 0 when unknown.
DWORD BaudRateOf(speed_t speed);

// A raw line: no echo, no line editing, no translation, no signals, no flow
// control, reads that never block, and line errors marked in the data.
void MakeRawLine(termios &t);

// Fills t from the DCB (over MakeRawLine). False, leaving t unspecified, for
// a speed, byte size, parity or stop-bit setting the line cannot take.
bool DcbToTermios(const DCB &dcb, termios &t);

// The fields of dcb that termios holds; the others are left as they are.
void TermiosToDcb(const termios &t, DCB &dcb);

}  // namespace orv::win
