// Handle objects that a wait can end on: events and threads.
#pragma once

#include "platform/posix/handle_table.h"

namespace orv::win {

class Waitable : public HandleObject {
public:
    // Readable while the object may be signalled.
    virtual int waitFd() const = 0;
    // True when signalled; an auto-reset event is consumed by the caller
    // that gets true, so only one waiter sees each signal.
    virtual bool acquire() = 0;
};

// An event or a thread behind a live handle, else null.
Ref<Waitable> LookupWaitable(HANDLE handle);

}  // namespace orv::win
