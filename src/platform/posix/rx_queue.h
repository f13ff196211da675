// The port's own receive queue: decoded bytes taken from the kernel and not
// yet read. A ring of fixed capacity, allocated once at open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace orv::win {

class RxQueue {
public:
    explicit RxQueue(std::size_t capacity)
        : data_(new uint8_t[capacity]), capacity_(capacity) {}

    std::size_t size() const { return size_; }
    std::size_t room() const { return capacity_ - size_; }
    void clear() { head_ = size_ = 0; }

    // Appends as much as fits; the count taken.
    std::size_t push(std::span<const uint8_t> bytes) {
        std::size_t n = bytes.size() < room() ? bytes.size() : room();
        for (std::size_t i = 0; i < n; ++i) data_[(head_ + size_ + i) % capacity_] = bytes[i];
        size_ += n;
        return n;
    }

    // Moves up to out.size() bytes out; the count moved.
    std::size_t pop(std::span<uint8_t> out) {
        std::size_t n = out.size() < size_ ? out.size() : size_;
        for (std::size_t i = 0; i < n; ++i) out[i] = data_[(head_ + i) % capacity_];
        head_ = (head_ + n) % capacity_;
        size_ -= n;
        return n;
    }

private:
    std::unique_ptr<uint8_t[]> data_;
    std::size_t capacity_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace orv::win
