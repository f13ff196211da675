// The platform operations by their Windows names: the system's own on
// Windows, the project's POSIX layer elsewhere. Library code lives in
// namespace orv and calls them unqualified.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include "platform/posix/win_api.h"
namespace orv {
using namespace orv::win;
}
#endif
