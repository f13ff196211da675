#include "floor.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "sim/sim_line.h"

namespace orv::bench {

namespace {

constexpr int kWarmUp = 20;
constexpr int kPollMs = 2000;

// One leg of a round trip: bytes out from the host, then bytes back.
struct Leg {
    std::size_t out;
    std::size_t back;
};

// Moves exactly n bytes through a non-blocking fd, waiting in poll().
template <class Io>
bool Exactly(int fd, short events, std::size_t n, Io io) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t r = io(fd, done, n - done);
        if (r > 0) {
            done += static_cast<std::size_t>(r);
            continue;
        }
        pollfd p{fd, events, 0};
        if (::poll(&p, 1, kPollMs) <= 0) return false;
    }
    return true;
}

bool ReadExactly(int fd, std::vector<uint8_t> &buf, std::size_t n) {
    if (buf.size() < n) buf.resize(n);
    return Exactly(fd, POLLIN, n, [&buf](int f, std::size_t at, std::size_t left) {
        return ::read(f, buf.data() + at, left);
    });
}

bool WriteExactly(int fd, const std::vector<uint8_t> &buf, std::size_t n) {
    return Exactly(fd, POLLOUT, n, [&buf](int f, std::size_t at, std::size_t left) {
        return ::write(f, buf.data() + at, left);
    });
}

Summary MeasureSleepPair(int samples) {
    std::vector<double> ms;
    for (int i = 0; i < samples + kWarmUp; ++i) {
        const auto start = Clock::now();
        orv::win::Sleep(1);
        orv::win::Sleep(1);
        if (i >= kWarmUp) ms.push_back(MsBetween(start, Clock::now()));
    }
    return Summarize(std::move(ms));
}

// The far end answers each leg as directly as a pty allows; one sample is
// the whole round of legs.
Summary MeasureLegs(const std::vector<Leg> &legs, int samples) {
    sim::SimLine line;
    const int host = ::open(line.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (host < 0) throw std::runtime_error("cannot open the pty slave");
    const int rounds = samples + kWarmUp;
    std::size_t largest = 0;
    for (const auto &leg : legs) largest = std::max({largest, leg.out, leg.back});
    const std::vector<uint8_t> zeros(largest, 0);
    std::thread echo([&] {
        std::vector<uint8_t> in;
        for (int i = 0; i < rounds; ++i)
            for (const auto &leg : legs)
                if (!ReadExactly(line.masterFd(), in, leg.out) ||
                    !WriteExactly(line.masterFd(), zeros, leg.back))
                    return;
    });
    std::vector<double> ms;
    std::vector<uint8_t> answer;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        bool ok = true;
        for (const auto &leg : legs)
            ok = ok && WriteExactly(host, zeros, leg.out) && ReadExactly(host, answer, leg.back);
        if (!ok) break;
        if (i >= kWarmUp) ms.push_back(MsBetween(start, Clock::now()));
    }
    echo.join();
    ::close(host);
    return Summarize(std::move(ms));
}

}  // namespace

Floor MeasureFloor(int samples) {
    Floor f;
    f.sleepPairMs = MeasureSleepPair(samples);
    f.pingMs = MeasureLegs({{14, 16}}, samples);
    return f;
}

double ChunkFloorMs(const Floor &floor, bool write, uint32_t chunkSize, int samples) {
    const std::size_t block = chunkSize + 5;
    if (write)
        return 2 * floor.sleepPairMs.median + MeasureLegs({{14, 6}, {block, 10}}, samples).median;
    return floor.sleepPairMs.median + MeasureLegs({{14, 16 + block}}, samples).median;
}

}  // namespace orv::bench
