// The object behind a thread handle.
#pragma once

#include <pthread.h>

#include <atomic>

#include "platform/posix/waitable.h"

namespace orv::win {

class Thread : public Waitable {
public:
    Thread();
    ~Thread() override;
    Thread(const Thread &) = delete;
    Thread &operator=(const Thread &) = delete;

    bool valid() const { return doneFd_ >= 0; }
    int waitFd() const override { return doneFd_; }
    bool acquire() override;

    // Called by the thread as its function returns (its exit code is not kept:
    // nothing reads it).
    void finish();
    // At CloseHandle: joins a thread that has ended, lets a running one go.
    void release();

    pthread_t thread{};

private:
    int doneFd_;
    std::atomic<bool> finished_{false};
};

}  // namespace orv::win
