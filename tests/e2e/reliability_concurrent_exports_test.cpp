// A host that calls the exports from several threads at once: one thread
// opens and closes the link, the others send commands, move blocks and wake
// the device. The calls must come out one after the other: every result 1
// carries the device's own data, and the device never sees a frame of one
// call inside another's (no stray bytes, no broken blocks).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/device_fixture.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kOpenCloseCycles = 50;
// Calls each worker makes once the opener is done and the link stays open.
constexpr int kCallsAfterwards = 5;
constexpr uint32_t kReplyTimeoutMs = 1000;

struct Tally {
    std::atomic<int> calls{0};
    std::atomic<int> successes{0};
    std::mutex mu;
    std::vector<std::string> wrong;  // every result 1 whose data was not the device's

    void wrongData(std::string what) {
        std::lock_guard lock(mu);
        wrong.push_back(std::move(what));
    }
};

class ConcurrentExports : public test::DeviceLinkTest {
protected:
    // Runs body until the opener has finished and body has run
    // kCallsAfterwards more times.
    void workUntilDone(const std::function<void()> &body) {
        while (!openerDone.load()) body();
        for (int i = 0; i < kCallsAfterwards; ++i) body();
    }

    void opener() {
        for (int i = 0; i < kOpenCloseCycles; ++i) {
            OrvCloseComm();
            OrvOpenComm(kPort, 0, nullptr, 0);
            uint16_t more = 0;
            uint32_t value = 0;
            const uint32_t argument = 0x0F000000u | static_cast<uint32_t>(i);
            commands.calls++;
            if (OrvSendCommand(0x11, 0, argument, &more, &value, kReplyTimeoutMs) == 1) {
                commands.successes++;
                if (value != argument || more != 0) commands.wrongData("opener command");
            }
        }
        // The link ends open, so that every worker's last calls meet the device.
        EXPECT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);
        openerDone = true;
    }

    void commander(uint32_t tag) {
        uint32_t n = 0;
        workUntilDone([&] {
            const uint32_t argument = (tag << 24) | ++n;
            uint16_t more = 7;
            uint32_t value = 0;
            commands.calls++;
            if (OrvSendCommand(0x12, 0, argument, &more, &value, kReplyTimeoutMs) == 1) {
                commands.successes++;
                if (value != argument || more != 0) commands.wrongData("command " + std::to_string(argument));
            }
        });
    }

    // Writes a pattern to a region of its own, reads it back: a read that
    // succeeds holds what the last successful write left there.
    void mover(uint32_t region) {
        std::vector<uint8_t> stored;  // what the device holds, as far as this thread knows
        uint32_t round = 0;
        workUntilDone([&] {
            ++round;
            std::vector<uint8_t> data(1500 + round % 700);
            for (std::size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<uint8_t>(i * 13 + round * 7 + region);
            uint16_t more = 0;
            uint32_t value = 0;
            transfers.calls++;
            if (OrvWriteData(data.data(), static_cast<uint32_t>(data.size()), 0x21, 0, region, &more,
                             &value, kReplyTimeoutMs, 512) == 1) {
                transfers.successes++;
                stored = data;
                if (value != data.size()) transfers.wrongData("write value");
            }
            if (stored.empty()) return;
            std::vector<uint8_t> back(stored.size(), 0);
            transfers.calls++;
            if (OrvReadData(back.data(), static_cast<uint32_t>(back.size()), 0x22, 0, region, &more,
                            &value, kReplyTimeoutMs, 700) == 1) {
                transfers.successes++;
                if (back != stored || value != stored.size()) transfers.wrongData("read data");
            }
        });
    }

    void waker() {
        workUntilDone([&] {
            OrvDevicePowerON();
            uint16_t more = 7;
            uint32_t value = 0;
            handshakes.calls++;
            // Its 50 ms window may close on a busy machine: only a 1 is judged.
            if (OrvHandshake(0x13, 0, 0x13131313, &more, &value) == 1) {
                handshakes.successes++;
                if (value != 0x13131313u || more != 0) handshakes.wrongData("handshake");
            }
        });
    }

    std::atomic<bool> openerDone{false};
    Tally commands;
    Tally transfers;
    Tally handshakes;
};

TEST_F(ConcurrentExports, CallsFromManyThreadsAreServedOneAtATimeWithTheirOwnData) {
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    threads.emplace_back([&] { opener(); });
    threads.emplace_back([&] { commander(1); });
    threads.emplace_back([&] { commander(2); });
    threads.emplace_back([&] { mover(0x100); });
    threads.emplace_back([&] { mover(0x200); });
    threads.emplace_back([&] { waker(); });
    for (auto &t : threads) t.join();

    EXPECT_TRUE(commands.wrong.empty()) << commands.wrong.front();
    EXPECT_TRUE(transfers.wrong.empty()) << transfers.wrong.front();
    EXPECT_TRUE(handshakes.wrong.empty()) << handshakes.wrong.front();
    // The last calls of each worker met an open link and a willing device.
    EXPECT_GE(commands.successes.load(), 2 * kCallsAfterwards);
    EXPECT_GE(transfers.successes.load(), 2 * kCallsAfterwards);

    const auto counters = device.counters();
    EXPECT_EQ(counters.skippedBytes, 0u);
    EXPECT_EQ(counters.badDataBlocks, 0u);
    EXPECT_GT(counters.wakeUpFrames, 0u);
    std::printf("concurrent exports: %.1f s; commands %d/%d, transfers %d/%d, handshakes %d/%d "
                "succeeded; device: %llu command frames, %llu wake-up frames\n",
                std::chrono::duration<double>(Clock::now() - start).count(),
                commands.successes.load(), commands.calls.load(), transfers.successes.load(),
                transfers.calls.load(), handshakes.successes.load(), handshakes.calls.load(),
                static_cast<unsigned long long>(counters.commandFrames),
                static_cast<unsigned long long>(counters.wakeUpFrames));
}

}  // namespace
}  // namespace orv
