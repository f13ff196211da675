
#include "platform/posix/handle_table.h"
#include "platform/posix/serial_port.h"
#include "platform/posix/threads.h"

namespace orv::win {

// The handle goes at once; its object goes when the last call using it
// returns. A port lets its device go at once and ends every wait on it.
BOOL CloseHandle(HANDLE object) {
    HandleKind kind{};
    Ref<HandleObject> held = UnregisterHandle(object, &kind);
    if (!held) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (kind == HandleKind::Port) held.as<SerialPort>()->shutdown();
    if (kind == HandleKind::Thread) held.as<Thread>()->release();
    return TRUE;
}

}  // namespace orv::win
