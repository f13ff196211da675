// The soak: commands and block transfers, one after the other, against a
// device whose answers a noisy line spoils. The simulator corrupts (only in
// ways the additive checksum sees), duplicates, delays or truncates a random
// share of the frames it sends (acknowledgements are never truncated or
// corrupted: their 3 s wait would dominate), and a few replies and
// acknowledgements are dropped outright. Reply time-outs are short, so late
// answers cost retries. No call may crash or hang, and every result 1 must
// carry exactly what the device holds.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "orvlink.h"
#include "sim/device_sim.h"
#include "sim/sim_line.h"
#include "support/test_env.h"

namespace orv::test {

struct SoakPlan {
    uint64_t exchanges = 2000;  // single commands plus transfer chunks
    uint64_t seed = 20261211;
    double faultRate = 0.05;
    uint32_t replyTimeoutMs = 60;
    std::chrono::milliseconds maxDelay{100};
    uint64_t replyDropEvery = 400;  // a reply dropped at every so many command frames
    uint64_t ackDrops = 2;          // and this many acknowledgements, 3 s each
};

struct SoakFigures {
    uint64_t calls = 0;
    uint64_t successes = 0;
    uint64_t failures = 0;
    uint64_t wrongData = 0;  // results 1 whose data was not the device's
    uint64_t exchanges = 0;  // as the device saw them: its distinct CommandFrames
    uint64_t commandFrames = 0;
    uint64_t retries = 0;
    sim::RandomFaultCounts injected;
    uint64_t scriptedDrops = 0;
    double seconds = 0;
    double longestCallSeconds = 0;
    std::vector<std::string> wrongDataCalls;  // what each wrong result held, for the report
};

// A size from the environment, for running the soak longer by hand.
inline uint64_t SoakSizeFromEnv(uint64_t fallback) {
    const char *text = std::getenv("ORVLINK_SOAK_EXCHANGES");
    if (text == nullptr || *text == '\0') return fallback;
    return std::strtoull(text, nullptr, 10);
}

class Soak {
public:
    static constexpr int kPort = 6;
    static constexpr uint8_t kSingle = 0x10;
    static constexpr uint8_t kWrite = 0x21;
    static constexpr uint8_t kRead = 0x22;

    explicit Soak(const SoakPlan &plan) : plan_(plan), rng_(plan.seed), device_(Options()) {}

    SoakFigures run() {
        env_.mapPort(kPort, line_.slavePath());
        scriptDrops();
        sim::RandomFaults faults;
        faults.seed = plan_.seed;
        faults.rate = plan_.faultRate;
        faults.drop = false;  // scripted above, a few only
        faults.maxDelay = plan_.maxDelay;
        device_.setRandomFaults(faults);
        device_.start(line_);
        EXPECT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);

        const auto start = Clock::now();
        uint64_t planned = 0;
        while (planned < plan_.exchanges) planned += oneCall();
        figures_.seconds = Seconds(Clock::now() - start);
        EXPECT_EQ(OrvCloseComm(), 1);
        device_.stop();
        countExchanges();
        return figures_;
    }

private:
    using Clock = std::chrono::steady_clock;

    static sim::DeviceOptions Options() {
        sim::DeviceOptions options;
        options.recordBlockBytes = 16;  // the record keeps the frames, not the payloads
        options.recordLimit = 1000000;
        return options;
    }
    static double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

    void scriptDrops() {
        for (uint64_t nth = plan_.replyDropEvery; nth < plan_.exchanges * 2; nth += plan_.replyDropEvery) {
            device_.addFault(sim::Fault::noAnswer(sim::FaultTarget::Reply).onNthCommand(nth));
        }
        for (uint64_t i = 1; i <= plan_.ackDrops; ++i) {
            const uint64_t nth = plan_.exchanges * i / (plan_.ackDrops + 1) + 1;
            device_.addFault(sim::Fault::noAnswer(sim::FaultTarget::Ack).onNthCommand(nth));
        }
    }

    uint32_t nextArgument() { return ++argument_; }
    uint32_t pick(uint32_t low, uint32_t high) {
        return std::uniform_int_distribution<uint32_t>(low, high)(rng_);
    }
    std::vector<uint8_t> randomBytes(uint32_t length) {
        std::vector<uint8_t> bytes(length);
        for (auto &b : bytes) b = static_cast<uint8_t>(rng_());
        return bytes;
    }

    // One export call, timed and judged; returns the exchanges it planned.
    uint64_t oneCall() {
        const uint32_t kind = pick(0, 3);
        const auto start = Clock::now();
        uint64_t planned = 1;
        bool good = false;
        bool succeeded = false;
        if (kind < 2) {
            succeeded = singleCommand(good);
        } else {
            const uint32_t chunkSize = pick(64, 1000);
            const uint32_t length = pick(1, 3 * chunkSize);
            planned = (length + chunkSize - 1) / chunkSize;
            succeeded = kind == 2 ? write(length, chunkSize, good) : read(length, chunkSize, good);
        }
        const double took = Seconds(Clock::now() - start);
        if (took > figures_.longestCallSeconds) figures_.longestCallSeconds = took;
        // Three attempts per exchange, each within its frames' time-outs.
        EXPECT_LT(took, 3.0 * static_cast<double>(planned) * (1.0 + 3.0 + 3.0 + 2 * plan_.replyTimeoutMs / 1000.0));
        ++figures_.calls;
        if (!succeeded) {
            ++figures_.failures;
        } else {
            ++figures_.successes;
            if (!good) {
                ++figures_.wrongData;
                figures_.wrongDataCalls.push_back(lastCall_);
            }
        }
        return planned;
    }

    bool singleCommand(bool &good) {
        const uint32_t argument = nextArgument();
        uint16_t more = 7;
        uint32_t value = 0;
        if (OrvSendCommand(kSingle, 0, argument, &more, &value, plan_.replyTimeoutMs) != 1) return false;
        good = value == argument && more == 0;
        describe("command", argument, more, value, argument, true);
        return true;
    }

    bool write(uint32_t length, uint32_t chunkSize, bool &good) {
        const uint32_t argument = nextArgument();
        const auto data = randomBytes(length);
        uint16_t more = 7;
        uint32_t value = 0;
        if (OrvWriteData(data.data(), length, kWrite, 0, argument, &more, &value,
                         plan_.replyTimeoutMs, chunkSize) != 1)
            return false;
        const bool stored = device_.region(argument) == data;
        good = value == length && more == 1 && stored;
        describe("write", argument, more, value, length, stored);
        return true;
    }

    bool read(uint32_t length, uint32_t chunkSize, bool &good) {
        const uint32_t argument = nextArgument();
        const auto data = randomBytes(length);
        device_.setRegion(argument, data);
        std::vector<uint8_t> buffer(length, 0);
        uint16_t more = 7;
        uint32_t value = 0;
        if (OrvReadData(buffer.data(), length, kRead, 0, argument, &more, &value,
                        plan_.replyTimeoutMs, chunkSize) != 1)
            return false;
        good = value == length && more == 1 && buffer == data;
        describe("read", argument, more, value, length, buffer == data);
        return true;
    }

    void describe(const char *kind, uint32_t argument, uint16_t more, uint32_t value,
                  uint32_t expectedValue, bool dataHeld) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "%s argument 0x%x: more %u, value 0x%x (expected 0x%x), data %s", kind,
                      argument, more, value, expectedValue, dataHeld ? "as held" : "differs");
        lastCall_ = text;
    }

    // Every exchange sends a CommandFrame its predecessor did not (each call
    // has an argument of its own, each chunk its index); a retry repeats it.
    void countExchanges() {
        const auto commands = device_.commands();
        const auto counters = device_.counters();
        figures_.commandFrames = counters.commandFrames;
        figures_.injected = counters.random;
        figures_.scriptedDrops = counters.faultsApplied;  // the drops that came due
        for (std::size_t i = 0; i < commands.size(); ++i)
            if (i == 0 || !(commands[i] == commands[i - 1])) ++figures_.exchanges;
        figures_.retries = commands.size() - figures_.exchanges;
        EXPECT_EQ(commands.size(), counters.commandFrames);  // none fell out of the record
    }

    SoakPlan plan_;
    std::mt19937_64 rng_;
    TestEnv env_;
    sim::SimLine line_;
    sim::DeviceSimulator device_;
    SoakFigures figures_;
    uint32_t argument_ = 0x5000;
    std::string lastCall_;
};

inline void ReportSoak(const SoakFigures &f) {
    std::printf(
        "soak: %llu exchanges (%llu calls) in %.1f s, longest call %.2f s\n"
        "  calls succeeded %llu (%.2f %%), failed %llu, wrong-data results %llu\n"
        "  command frames %llu, retries %llu\n"
        "  injected: corrupted %llu, duplicated %llu, delayed %llu, truncated %llu, "
        "dropped (scripted) %llu\n",
        static_cast<unsigned long long>(f.exchanges), static_cast<unsigned long long>(f.calls),
        f.seconds, f.longestCallSeconds, static_cast<unsigned long long>(f.successes),
        f.calls ? 100.0 * static_cast<double>(f.successes) / static_cast<double>(f.calls) : 0.0,
        static_cast<unsigned long long>(f.failures), static_cast<unsigned long long>(f.wrongData),
        static_cast<unsigned long long>(f.commandFrames), static_cast<unsigned long long>(f.retries),
        static_cast<unsigned long long>(f.injected.corrupted),
        static_cast<unsigned long long>(f.injected.duplicated),
        static_cast<unsigned long long>(f.injected.delayed),
        static_cast<unsigned long long>(f.injected.truncated),
        static_cast<unsigned long long>(f.scriptedDrops));
    for (const auto &call : f.wrongDataCalls) std::printf("  wrong result: %s\n", call.c_str());
    ::testing::Test::RecordProperty("exchanges", std::to_string(f.exchanges));
    ::testing::Test::RecordProperty("retries", std::to_string(f.retries));
    ::testing::Test::RecordProperty("wrongData", std::to_string(f.wrongData));
}

// What every soak must show, whatever its size.
inline void ExpectSoakHeld(const SoakFigures &f) {
    EXPECT_EQ(f.wrongData, 0u);
    EXPECT_GT(f.injected.total(), 0u);  // the line was noisy indeed
    EXPECT_GT(f.retries, 0u);           // and the library saw it
    EXPECT_GT(f.successes, 0u);
}

}  // namespace orv::test
