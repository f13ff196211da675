#include "platform/posix/events.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/posix/fd_util.h"
#include "platform/posix/named_events.h"
#include "platform/posix/test_seam.h"

namespace orv::win {

Event::~Event() { CloseFd(fd_); }

// One byte queued (an eventfd count) is the signal; a full FIFO is signalled
// already, so EAGAIN is fine.
void Event::set() {
    uint64_t one = 1;
    std::size_t size = fifo_ ? 1 : sizeof one;
    const void *data = fifo_ ? static_cast<const void *>("\1") : &one;
    while (::write(fd_, data, size) < 0 && errno == EINTR) {
    }
}

void Event::reset() { DrainFd(fd_); }

bool Event::acquire() {
    if (manualReset_) return ReadableNow(fd_);
    // Every queued byte goes: one wait consumes one signal however often
    // it was set. Another waiter may have taken it first.
    return DrainFd(fd_) > 0;
}

Ref<Waitable> LookupWaitable(HANDLE handle) {
    HandleKind kind{};
    auto object = LookupAnyHandle(handle, &kind);
    if (!object || kind == HandleKind::Port) return nullptr;
    return object.as<Waitable>();
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
    if (seam::FailCreateEvent()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    bool fresh = true;
    int fd = name ? OpenNamedEventFifo(name, &fresh) : NewEventFd();
    if (fd < 0) {
        if (!name) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto event = MakeRef<Event>(fd, manualReset != FALSE, name != nullptr);
    // An event that others hold already keeps its state.
    if (initialState && fresh) event->set();
    HANDLE handle = RegisterHandle(HandleKind::Event, event);
    SetLastError(handle ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY);
    return handle;
}

BOOL SetEvent(HANDLE event) {
    auto e = LookupAs<Event>(event, HandleKind::Event);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    auto e = LookupAs<Event>(event, HandleKind::Event);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->reset();
    return TRUE;
}

}  // namespace orv::win
