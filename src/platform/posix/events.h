// Event objects: an eventfd when unnamed, a FIFO shared by the user's
// processes when named.
#pragma once

#include "platform/posix/waitable.h"

namespace orv::win {

class Event : public Waitable {
public:
    Event(int fd, bool manualReset, bool fifo)
        : fd_(fd), manualReset_(manualReset), fifo_(fifo) {}
    ~Event() override;
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    int waitFd() const override { return fd_; }
    bool acquire() override;
    void set();
    void reset();

private:
    int fd_;
    bool manualReset_;
    bool fifo_;  // a named event's FIFO, else an eventfd
};

}  // namespace orv::win
