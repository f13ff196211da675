// CreateThread over pthreads; a thread handle is signalled once the thread's
// function has returned. Also Sleep.
#include <limits.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <memory>

#include "platform/posix/fd_util.h"
#include "platform/posix/test_seam.h"
#include "platform/posix/threads.h"

namespace orv::win {

namespace {

struct Start {
    Ref<Thread> self;  // keeps the object alive while it runs
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
};

void *RunThread(void *arg) {
    std::unique_ptr<Start> start(static_cast<Start *>(arg));
    start->routine(start->parameter);
    start->self->finish();
    return nullptr;
}

std::atomic<DWORD> nextThreadId{1};

}  // namespace

Thread::Thread() : doneFd_(NewEventFd()) {}

Thread::~Thread() { CloseFd(doneFd_); }

bool Thread::acquire() { return finished_.load(); }

void Thread::finish() {
    finished_.store(true);
    Poke(doneFd_);
}

void Thread::release() {
    if (finished_.load())
        pthread_join(thread, nullptr);
    else
        pthread_detach(thread);
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, size_t stackSize, LPTHREAD_START_ROUTINE startAddress,
                    LPVOID parameter, DWORD, DWORD *threadId) {
    if (seam::FailCreateThread() || !startAddress) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto thread = MakeRef<Thread>();
    HANDLE handle = thread->valid() ? RegisterHandle(HandleKind::Thread, thread) : nullptr;
    if (!handle) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
    if (stackSize) pthread_attr_setstacksize(&attr, stackSize < minimum ? minimum : stackSize);
    auto *start = new Start{thread, startAddress, parameter};
    int err = pthread_create(&thread->thread, &attr, RunThread, start);
    pthread_attr_destroy(&attr);
    if (err != 0) {
        delete start;
        UnregisterHandle(handle, nullptr);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) *threadId = nextThreadId++;
    SetLastError(ERROR_SUCCESS);
    return handle;
}

void Sleep(DWORD milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace orv::win
