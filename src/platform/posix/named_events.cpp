#include "platform/posix/named_events.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/win_api.h"

namespace orv::win {

namespace {

constexpr std::size_t kMaxNameLength = 200;

enum class DirState { Usable, Missing, Unsafe };

std::string BaseDirectory() {
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/orvlink";
    return "/tmp/orvlink-" + std::to_string(::geteuid());
}

// Only a real directory of this user's, never one reached through a link
// someone else may have planted.
DirState CheckDirectory(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? DirState::Missing : DirState::Unsafe;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return DirState::Unsafe;
    return DirState::Usable;
}

bool ValidName(const char *name) {
    if (!name || !*name) return false;
    std::size_t length = std::strlen(name);
    if (length > kMaxNameLength || std::strchr(name, '/')) return false;
    return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

// A FIFO of this user's: anything else under the name is not our event.
bool OwnFifo(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode) && st.st_uid == ::geteuid();
}

// True when some process holds the FIFO open for reading.
bool HasHolder(const std::string &path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace

std::string NamedEventDirectory(bool create) {
    std::string path = BaseDirectory();
    if (create && ::mkdir(path.c_str(), 0700) == 0) ::chmod(path.c_str(), 0700);
    return CheckDirectory(path) == DirState::Usable ? path : std::string();
}

int OpenNamedEventFifo(const char *name, bool *fresh) {
    if (!ValidName(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    std::string dir = NamedEventDirectory(true);
    if (dir.empty()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    std::string path = dir + "/" + name;
    if (fresh) *fresh = !HasHolder(path);
    if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) {
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0 && !OwnFifo(fd)) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) SetLastError(ERROR_ACCESS_DENIED);
    return fd;
}

SignalResult SignalNamedEvent(const char *name) {
    if (!ValidName(name)) return SignalResult::Failed;
    std::string dir = BaseDirectory();
    switch (CheckDirectory(dir)) {
    case DirState::Missing: return SignalResult::NoHolder;
    case DirState::Unsafe: return SignalResult::Failed;
    case DirState::Usable: break;
    }
    std::string path = dir + "/" + name;
    int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return (errno == ENXIO || errno == ENOENT) ? SignalResult::NoHolder : SignalResult::Failed;
    SignalResult result = SignalResult::Failed;
    if (OwnFifo(fd)) {
        ssize_t r;
        do {
            r = ::write(fd, "\1", 1);
        } while (r < 0 && errno == EINTR);
        // A full FIFO is signalled already.
        if (r == 1 || errno == EAGAIN) result = SignalResult::Set;
    }
    ::close(fd);
    return result;
}

}  // namespace orv::win
