#include "platform/posix/win_api.h"

namespace orv::win {

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }

}  // namespace orv::win
