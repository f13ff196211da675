// CreateFileA for ports: "COM<n>" names a device file, opened exclusively and
// put into a raw line before the library sees it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/posix/serial_port.h"
#include "platform/posix/termios_map.h"

namespace orv::win {

namespace {

// The port number of "COM<n>" or "\\.\COM<n>", or 0.
unsigned PortNumberOf(const char *name) {
    if (!name) return 0;
    if (std::strncmp(name, "\\\\.\\", 4) == 0) name += 4;
    if (strncasecmp(name, "COM", 3) != 0) return 0;
    name += 3;
    if (!std::isdigit(static_cast<unsigned char>(*name)) || *name == '0') return 0;
    unsigned long n = 0;
    for (; *name; ++name) {
        if (!std::isdigit(static_cast<unsigned char>(*name))) return 0;
        n = n * 10 + static_cast<unsigned long>(*name - '0');
        if (n > 65535) return 0;
    }
    return static_cast<unsigned>(n);
}

// The profile's [Devices] COM<n>, else /dev/ttyS<n-1>.
std::string DevicePathOf(unsigned port) {
    std::string key = "COM" + std::to_string(port);
    char path[4096];
    if (GetProfileStringA("Devices", key.c_str(), "", path, sizeof path) > 0) return path;
    return "/dev/ttyS" + std::to_string(port - 1);
}

DWORD OpenError(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EBUSY:
    case EWOULDBLOCK:
        return ERROR_SHARING_VIOLATION;
    default:
        return ERROR_FILE_NOT_FOUND;
    }
}

// Opens the tty and takes it for this process alone; -1 with the error set.
// No line setting is touched before the lock is held, so a refused open
// leaves the holder's line as it was.
int OpenExclusive(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(OpenError(errno));
        return -1;
    }
    DWORD error = ERROR_SUCCESS;
    if (!::isatty(fd))
        error = ERROR_FILE_NOT_FOUND;
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
    if (error != ERROR_SUCCESS) {
        ::close(fd);
        SetLastError(error);
        return -1;
    }
    // Keeps out other users' opens; root passes it, the lock stops it.
    ::ioctl(fd, TIOCEXCL);
    return fd;
}

// Lower latency on UARTs that offer it; others refuse and that is fine.
void AskLowLatency(int fd) {
#if defined(__linux__) && defined(ASYNC_LOW_LATENCY)
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
#else
    (void)fd;
#endif
}

bool PutLineRaw(int fd, DCB &dcb) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return false;
    MakeRawLine(t);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return false;
    ::tcgetattr(fd, &t);
    TermiosToDcb(t, dcb);
    return true;
}

void ReleaseTty(int fd) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

}  // namespace

HANDLE CreateFileA(LPCSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    unsigned port = PortNumberOf(fileName);
    if (port == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    int fd = OpenExclusive(DevicePathOf(port));
    if (fd < 0) return INVALID_HANDLE_VALUE;
    DCB dcb{};
    if (!PutLineRaw(fd, dcb)) {
        ReleaseTty(fd);
        SetLastError(ERROR_GEN_FAILURE);
        return INVALID_HANDLE_VALUE;
    }
    AskLowLatency(fd);
    auto object = MakeRef<SerialPort>(fd);
    object->dcb = dcb;
    if (!object->valid()) {
        object->shutdown();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = RegisterHandle(HandleKind::Port, object);
    if (!handle) {
        object->shutdown();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
}

}  // namespace orv::win
