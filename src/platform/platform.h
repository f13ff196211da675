// The platform operations by their Windows names: the system's own on
// Windows, the project's POSIX layer elsewhere. Library code lives in
// namespace orv and calls them unqualified.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <windows.h>
#else
#include "platform/posix/win_api.h"
namespace orv {
using namespace orv::win;
}
#endif
