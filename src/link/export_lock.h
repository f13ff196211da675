// One process-wide lock around the exports: a host that calls two of them at
// once from two threads gets them one after the other. Recursive, because the
// open closes a link that is still open through the exported close.
#pragma once

#include <mutex>

namespace orv {

std::recursive_mutex &ExportMutex();

using ExportGuard = std::lock_guard<std::recursive_mutex>;

}  // namespace orv
