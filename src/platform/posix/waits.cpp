// WaitForSingleObject and WaitForMultipleObjects over events and threads.
#include <poll.h>

#include <array>
#include <cerrno>

#include "platform/posix/deadline.h"
#include "platform/posix/waitable.h"

namespace orv::win {

namespace {

constexpr DWORD kMaxWaitObjects = 64;

DWORD Failed(DWORD error) {
    SetLastError(error);
    return WAIT_FAILED;
}

}  // namespace

DWORD WaitForMultipleObjects(DWORD count, const HANDLE *objects, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > kMaxWaitObjects || !objects || waitAll)
        return Failed(ERROR_INVALID_PARAMETER);
    std::array<Ref<Waitable>, kMaxWaitObjects> held;
    std::array<pollfd, kMaxWaitObjects> fds{};
    for (DWORD i = 0; i < count; ++i) {
        held[i] = LookupWaitable(objects[i]);
        if (!held[i]) return Failed(ERROR_INVALID_HANDLE);
        fds[i] = {held[i]->waitFd(), POLLIN, 0};
    }
    Deadline deadline = milliseconds == INFINITE ? Deadline::Never() : Deadline::AfterMs(milliseconds);
    for (;;) {
        // The lowest index that is signalled wins; an auto-reset event that
        // another waiter took first does not count.
        for (DWORD i = 0; i < count; ++i)
            if (held[i]->acquire()) return WAIT_OBJECT_0 + i;
        if (deadline.expired()) return WAIT_TIMEOUT;
        if (::poll(fds.data(), count, deadline.pollTimeoutMs()) < 0 && errno != EINTR)
            return Failed(ERROR_GEN_FAILURE);
    }
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

}  // namespace orv::win
