// Named events shared by one user's processes: FIFOs in a per-user directory,
// $XDG_RUNTIME_DIR/orvlink/ or else /tmp/orvlink-<uid>/. A process that
// creates or opens an event holds its FIFO open for reading and writing; the
// kernel discards a FIFO's bytes when its last holder goes.
#pragma once

#include <string>

namespace orv::win {

// The directory, created (mode 0700) when asked; "" when it is missing, or is
// not a directory of this user's, or is a symbolic link.
std::string NamedEventDirectory(bool create);

enum class SignalResult { Set, NoHolder, Failed };

// Sets the event NAME that some process of this user holds. NoHolder when no
// process holds it.
SignalResult SignalNamedEvent(const char *name);

// For CreateEventA: opens (creating when needed) and holds the FIFO of name;
// fresh tells whether no process held it before. -1 with the error set.
int OpenNamedEventFifo(const char *name, bool *fresh);

}  // namespace orv::win
