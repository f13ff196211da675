// The command, transfer and wake-up exports take nothing from the heap: every
// allocation made on the calling thread while one runs is counted, through
// operator new and, with glibc, through malloc itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "support/device_fixture.h"

namespace {

// Counting is on for the calling thread alone: the simulator's thread may
// allocate as it likes.
thread_local bool tCounting = false;
thread_local unsigned long tAllocations = 0;

void Note() {
    if (tCounting) ++tAllocations;
}

}  // namespace

// The sanitizers bring their own malloc, which must stay theirs: under them
// only operator new is counted.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define ORV_COUNTS_MALLOC 1
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);

// Interposed for the whole process, the C++ runtime's own calls included.
void *malloc(size_t n) {
    Note();
    return __libc_malloc(n);
}
void *calloc(size_t count, size_t n) {
    Note();
    return __libc_calloc(count, n);
}
void *realloc(void *p, size_t n) {
    Note();
    return __libc_realloc(p, n);
}
void free(void *p) { __libc_free(p); }
}
#endif

void *operator new(std::size_t n) {
    Note();
    if (void *p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t n) { return operator new(n); }
// These deletes pair with the news above, which take from malloc; gcc cannot
// see that once a sanitizer's instrumentation is inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace orv {
namespace {

using sim::Fault;
using sim::FaultTarget;

constexpr uint8_t kWrite = 0x21;
constexpr uint8_t kRead = 0x22;
constexpr uint32_t kRegion = 0x40;
constexpr uint32_t kLength = 3 * 1024 + 5;  // full chunks and a short one
constexpr uint32_t kChunk = 1024;

// The allocations made on this thread while it lives.
class Counting {
public:
    Counting() {
        tAllocations = 0;
        tCounting = true;
    }
    ~Counting() { tCounting = false; }
    unsigned long count() const { return tAllocations; }
};

struct Buffers {
    std::vector<uint8_t> out = std::vector<uint8_t>(kLength, 0x5A);
    std::vector<uint8_t> in = std::vector<uint8_t>(kLength, 0);
    uint16_t more = 9;
    uint32_t value = 9;
};

struct ExportCase {
    const char *name;
    int32_t (*call)(Buffers &);
    int32_t result;
    bool refusedAck;  // the device refuses the acknowledgement: the failure path
};

const ExportCase kCases[] = {
    {"OrvSendCommand",
     [](Buffers &b) { return OrvSendCommand(0x10, 0, 5, &b.more, &b.value, 500); }, 1, false},
    {"OrvSendCommand with a refused ack",
     [](Buffers &b) { return OrvSendCommand(0x10, 0, 5, &b.more, &b.value, 500); }, 0, true},
    {"OrvHandshake", [](Buffers &b) { return OrvHandshake(0x01, 0, 7, &b.more, &b.value); }, 1,
     false},
    {"OrvHandshake with a refused ack",
     [](Buffers &b) { return OrvHandshake(0x01, 0, 7, &b.more, &b.value); }, 0, true},
    {"OrvDevicePowerON", [](Buffers &) { return OrvDevicePowerON(); }, 1, false},
    {"OrvWriteData",
     [](Buffers &b) {
         return OrvWriteData(b.out.data(), kLength, kWrite, 0, kRegion, &b.more, &b.value, 500,
                             kChunk);
     },
     1, false},
    {"OrvReadData",
     [](Buffers &b) {
         return OrvReadData(b.in.data(), kLength, kRead, 0, kRegion, &b.more, &b.value, 500,
                            kChunk);
     },
     1, false},
};

class AllocationFreeExports : public test::DeviceLinkTest {};

TEST_F(AllocationFreeExports, TheCountCatchesAnAllocationOnThisThread) {
    Counting counting;
    std::vector<uint8_t> bytes(64);
    void *raw = std::malloc(16);
    const unsigned long counted = counting.count();
    std::free(raw);
#ifdef ORV_COUNTS_MALLOC
    EXPECT_GE(counted, 2u);
#else
    EXPECT_GE(counted, 1u);
#endif
}

TEST_F(AllocationFreeExports, CommandTransferAndWakeUpExportsAllocateNothing) {
    device.setRegion(kRegion, std::vector<uint8_t>(kLength, 0xA5));
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.name);
        if (c.refusedAck) device.addFault(Fault::ackStatus(0x04).times(sim::FaultSelector::kEvery));
        Buffers buffers;
        int32_t result = -1;
        unsigned long allocations = 0;
        {
            Counting counting;
            result = c.call(buffers);
            allocations = counting.count();
        }
        device.clearFaults();
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(allocations, 0u);
    }
    EXPECT_EQ(device.region(kRegion), std::vector<uint8_t>(kLength, 0x5A));
}

}  // namespace
}  // namespace orv
