// The Windows-named serial, event, thread and profile operations that the
// library is written against, provided over POSIX. Only what the library uses,
// with the results its callers rely on. Nothing here is exported.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orv::win {

using BOOL = int;
using DWORD = uint32_t;
using WORD = uint16_t;
using BYTE = uint8_t;
using ULONG_PTR = uintptr_t;
using HANDLE = void *;
using LPCSTR = const char *;
using LPSTR = char *;
using LPVOID = void *;
using LPCVOID = const void *;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~uintptr_t{0});

// CreateFileA
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;

// Results
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_IO_INCOMPLETE = 996;
constexpr DWORD ERROR_IO_PENDING = 997;
constexpr DWORD ERROR_DEVICE_REMOVED = 1617;

// PurgeComm
constexpr DWORD PURGE_TXABORT = 0x0001;
constexpr DWORD PURGE_RXABORT = 0x0002;
constexpr DWORD PURGE_TXCLEAR = 0x0004;
constexpr DWORD PURGE_RXCLEAR = 0x0008;

// SetCommMask / WaitCommEvent
constexpr DWORD EV_RXCHAR = 0x0001;
constexpr DWORD EV_RXFLAG = 0x0002;
constexpr DWORD EV_TXEMPTY = 0x0004;
constexpr DWORD EV_CTS = 0x0008;
constexpr DWORD EV_DSR = 0x0010;
constexpr DWORD EV_RLSD = 0x0020;
constexpr DWORD EV_BREAK = 0x0040;
constexpr DWORD EV_ERR = 0x0080;
constexpr DWORD EV_RING = 0x0100;

// ClearCommError error bits
constexpr DWORD CE_RXOVER = 0x0001;
constexpr DWORD CE_OVERRUN = 0x0002;
constexpr DWORD CE_RXPARITY = 0x0004;
constexpr DWORD CE_FRAME = 0x0008;
constexpr DWORD CE_BREAK = 0x0010;

// EscapeCommFunction
constexpr DWORD SETRTS = 3;
constexpr DWORD CLRRTS = 4;
constexpr DWORD SETDTR = 5;
constexpr DWORD CLRDTR = 6;

// DCB values
constexpr DWORD DTR_CONTROL_DISABLE = 0;
constexpr DWORD DTR_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_DISABLE = 0;
constexpr DWORD RTS_CONTROL_ENABLE = 1;
constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE TWOSTOPBITS = 2;

// Waits
constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};
static_assert(sizeof(DCB) == 28, "DCB keeps the system's layout");

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

struct COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
};

struct OVERLAPPED {
    ULONG_PTR Internal;      // result of the last transfer on this record
    ULONG_PTR InternalHigh;  // bytes moved by it
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES *;
// A thread's start routine; the calling convention is the system's on Windows.
#ifndef WINAPI
#define WINAPI
#endif
using LPTHREAD_START_ROUTINE = DWORD(WINAPI *)(LPVOID);

// Ports. "COM<n>" and "\\.\COM<n>" name the device file of the profile's
// [Devices] entry, or /dev/ttyS<n-1>. Opening is exclusive.
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL CloseHandle(HANDLE object);
BOOL GetCommState(HANDLE port, DCB *dcb);
BOOL SetCommState(HANDLE port, DCB *dcb);
BOOL GetCommTimeouts(HANDLE port, COMMTIMEOUTS *timeouts);
BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS *timeouts);
BOOL SetCommMask(HANDLE port, DWORD mask);
BOOL GetCommMask(HANDLE port, DWORD *mask);
// Blocks until an event of the mask occurs. A SetCommMask from another thread
// ends a pending wait with the report 0 (the system's rule), which is how a
// waiter is woken to stop.
BOOL WaitCommEvent(HANDLE port, DWORD *eventMask, OVERLAPPED *overlapped);
BOOL SetupComm(HANDLE port, DWORD inQueue, DWORD outQueue);
BOOL PurgeComm(HANDLE port, DWORD flags);
BOOL ClearCommError(HANDLE port, DWORD *errors, COMSTAT *stat);
BOOL EscapeCommFunction(HANDLE port, DWORD function);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, DWORD *read, OVERLAPPED *overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, DWORD *written,
               OVERLAPPED *overlapped);
BOOL GetOverlappedResult(HANDLE file, OVERLAPPED *overlapped, DWORD *transferred, BOOL wait);

DWORD GetLastError();
void SetLastError(DWORD error);

// Events: unnamed ones are private to the process; named ones are shared by
// the processes of one user (FIFOs in a per-user directory).
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES securityAttributes, BOOL manualReset,
                    BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE *objects, BOOL waitAll,
                             DWORD milliseconds);

// Threads: a thread handle is signalled once the thread has returned.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES securityAttributes, size_t stackSize,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                    DWORD creationFlags, DWORD *threadId);

void Sleep(DWORD milliseconds);

// The profile: one INI file (ORVLINK_PROFILE, then the user's, then /etc). Returns the length copied,
// at most size - 1, and always terminates the text.
DWORD GetProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText,
                        LPSTR returnedString, DWORD size);

}  // namespace orv::win
