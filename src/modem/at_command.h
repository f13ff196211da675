// The AT command exchange: one command line out, the modem's success answer
// awaited on a short-lived watcher thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/platform.h"

namespace orv {

constexpr char kCommandTerminator = 0x0D;
// Holds the command text, its CR and a NUL: at most 254 characters of text.
constexpr std::size_t kCommandLineArea = 256;
constexpr std::size_t kMaxAtCommand = kCommandLineArea - 2;
// The most that one ReadModemBytes takes.
constexpr std::size_t kModemReadArea = 256;

constexpr DWORD kPurgeBeforeCommand = PURGE_TXCLEAR | PURGE_RXCLEAR;  // 0x0C
constexpr DWORD kPurgeAfterCommand = PURGE_RXCLEAR;                   // 0x08
constexpr DWORD kWatcherEventMask = 0x01FF;                           // all nine events
constexpr DWORD kWaitSliceMs = 50;
constexpr uint32_t kCommandSlices = 20;        // about 1 s
constexpr uint32_t kSlicesPerDialSecond = 20;  // the dial: dialWaitSeconds of them

// Writes atCommand and a CR in one write. 1 when the whole line was written;
// 0 also for a text longer than kMaxAtCommand, before anything is sent.
int32_t SendAtCommand(HANDLE port, const char *atCommand);
// Takes what the port has queued, at most 256 bytes, without waiting for more.
DWORD ReadModemBytes(HANDLE port, std::span<uint8_t, kModemReadArea> readArea);
// Watches for the success answer to atCommand: 1 when it came in time.
int32_t AwaitModemResponse(HANDLE port, const char *atCommand);
// Body of the watcher thread; its parameter is the port.
DWORD WINAPI ModemResponseWatcher(LPVOID port);

// A dial line: its first three characters are "ATD" in any case.
bool IsDialCommand(const char *text);

// The watcher's stop request. Cleared before a watcher starts; the watcher
// looks at it after every wake and before it reads or signals.
void ClearWatcherStop();
// Asks the running watcher to stop, wakes it, and joins it: afterwards it
// neither reads the port nor signals. Releases linkState.watcherThread.
void EndWatcher(HANDLE port);

}  // namespace orv
