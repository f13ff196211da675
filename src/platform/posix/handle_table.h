// The process's handles: a fixed table of slots, each handle carrying its
// slot and the slot's generation, so that a closed, stale or forged handle is
// refused instead of reaching another object.
#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

#include "platform/posix/win_api.h"

namespace orv::win {

enum class HandleKind { Port, Event, Thread };

// What a handle stands for, counted by the references held to it. Users hold
// a reference for the length of a call, so an object closed meanwhile stays
// valid until they let go. (No std::shared_ptr: its type information would
// leave the shared library among the exported symbols.)
class HandleObject {
public:
    virtual ~HandleObject() = default;
    void retainRef() { refs_.fetch_add(1, std::memory_order_relaxed); }
    void releaseRef() {
        if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }

private:
    std::atomic<long> refs_{0};
};

template <class T>
class Ref {
public:
    Ref() = default;
    Ref(std::nullptr_t) {}
    explicit Ref(T *object) : p_(object) {
        if (p_) p_->retainRef();
    }
    Ref(const Ref &other) : Ref(other.p_) {}
    Ref(Ref &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <class U>
    Ref(const Ref<U> &other) : Ref(static_cast<T *>(other.get())) {}
    Ref &operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Ref() {
        if (p_) p_->releaseRef();
    }

    T *get() const { return p_; }
    T *operator->() const { return p_; }
    T &operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // The object as the type its handle kind says it is.
    template <class U>
    Ref<U> as() const {
        return Ref<U>(static_cast<U *>(p_));
    }

private:
    T *p_ = nullptr;
};

template <class T, class... Args>
Ref<T> MakeRef(Args &&...args) {
    return Ref<T>(new T(std::forward<Args>(args)...));
}

// nullptr when the table is full.
HANDLE RegisterHandle(HandleKind kind, Ref<HandleObject> object);

// The object behind a live handle of that kind, else null.
Ref<HandleObject> LookupHandle(HANDLE handle, HandleKind kind);
// Any kind; kind receives it.
Ref<HandleObject> LookupAnyHandle(HANDLE handle, HandleKind *kind);

// Takes the handle out of the table; its object is returned (null when the
// handle was not live) and goes when the last user lets it go.
Ref<HandleObject> UnregisterHandle(HANDLE handle, HandleKind *kind);

template <class T>
Ref<T> LookupAs(HANDLE handle, HandleKind kind) {
    return LookupHandle(handle, kind).template as<T>();
}

}  // namespace orv::win
