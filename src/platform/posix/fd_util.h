// Small helpers over file descriptors shared by the platform layer.
#pragma once

#include <cstddef>

namespace orv::win {

// poll() one descriptor for events, retrying on EINTR; the revents, or 0 on a
// time-out or failure.
short PollOne(int fd, short events, int timeoutMs);
// True when fd has input right now.
bool ReadableNow(int fd);
// Reads until nothing is left (nonblocking fd); the number of bytes taken.
std::size_t DrainFd(int fd);
// Adds 1 to an eventfd counter.
void Poke(int eventFd);
// A new nonblocking, close-on-exec eventfd, or -1.
int NewEventFd();
void CloseFd(int &fd);

}  // namespace orv::win
