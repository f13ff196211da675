// Whether a host holds a port open, seen from the simulator's side without
// disturbing it: the library keeps an exclusive lock on the device file for
// as long as its link is open. A pseudo-terminal has no DTR to drop, so this
// is how the modem simulator learns that the host hung up.
#pragma once

#include <string>

namespace orv::ctl {

// True when some process holds a lock on the file at path (read from
// /proc/locks, which lists every lock with the device and inode it is on);
// also true when /proc/locks cannot be read.
bool PortHeldOpen(const std::string &path);

}  // namespace orv::ctl
