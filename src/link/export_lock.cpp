#include "link/export_lock.h"

namespace orv {

std::recursive_mutex &ExportMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

}  // namespace orv
