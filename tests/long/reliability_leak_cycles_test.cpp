// Many opens and closes leave the process as they found it: the same file
// descriptors, the same threads, and no named event still held. Direct
// links (with one command each), dialled links (each close holds the call
// up to 3 s), and opens that fail in every way an open can fail.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <string>

#include "orvlink.h"
#include "sim/device_sim.h"
#include "sim/modem_sim.h"
#include "sim/sim_line.h"
#include "support/test_env.h"

namespace orv {
namespace {

constexpr int kDirectCycles = 1000;
constexpr int kModemCycles = 20;
constexpr int kFailedOpens = 1000;

std::set<std::string> Entries(const std::string &dir) {
    std::set<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// The process's holdings that a link may take: descriptors (with what they
// point at), threads, and the named events that some process holds open.
struct Holdings {
    std::set<std::string> fds;
    std::size_t threads = 0;
    std::set<std::string> heldEvents;

    static Holdings Now(const test::TestEnv &env) {
        Holdings h;
        // The listing's own descriptor comes and goes with each look.
        for (const auto &fd : Entries("/proc/self/fd")) {
            char target[512] = {};
            const std::string link = "/proc/self/fd/" + fd;
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            h.fds.insert(fd + " -> " + (n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "?"));
        }
        h.threads = Entries("/proc/self/task").size();
        const std::string events = env.dir() + "/orvlink";
        for (const auto &name : Entries(events)) {
            // Opening a FIFO to write without blocking fails when nobody holds it.
            const int fd = open((events + "/" + name).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                h.heldEvents.insert(name);
                close(fd);
            }
        }
        return h;
    }
};

// Equal but for the one descriptor each listing opens for itself.
void ExpectSameHoldings(const Holdings &before, const Holdings &after, const char *run) {
    std::printf("%s: %zu descriptors before, %zu after; %zu threads before, %zu after; "
                "%zu named events held before, %zu after\n",
                run, before.fds.size(), after.fds.size(), before.threads, after.threads,
                before.heldEvents.size(), after.heldEvents.size());
    EXPECT_EQ(before.fds.size(), after.fds.size());
    std::set<std::string> gained;
    for (const auto &fd : after.fds)
        if (!before.fds.count(fd) && fd.find("/proc/") == std::string::npos) gained.insert(fd);
    EXPECT_TRUE(gained.empty()) << *gained.begin();
    EXPECT_EQ(before.threads, after.threads);
    EXPECT_EQ(before.heldEvents, after.heldEvents);
}

class LeakCycles : public ::testing::Test {
protected:
    test::TestEnv env;
};

TEST_F(LeakCycles, DirectOpensAndClosesLeaveNothingBehind) {
    sim::SimLine line;
    sim::DeviceSimulator device;
    env.mapPort(3, line.slavePath());
    device.start(line);
    const Holdings before = Holdings::Now(env);
    for (int i = 0; i < kDirectCycles; ++i) {
        ASSERT_EQ(OrvOpenComm(3, 0, nullptr, 0), 1) << "cycle " << i;
        uint16_t more = 0;
        uint32_t value = 0;
        ASSERT_EQ(OrvSendCommand(0x10, 0, static_cast<uint32_t>(i), &more, &value, 500), 1);
        ASSERT_EQ(value, static_cast<uint32_t>(i));
        ASSERT_EQ(OrvCloseComm(), 1);
    }
    ExpectSameHoldings(before, Holdings::Now(env), "direct open/close x1000");
    device.stop();
}

TEST_F(LeakCycles, DialledOpensAndClosesLeaveNothingBehind) {
    sim::SimLine line;
    sim::ModemSimulator modem;
    env.mapPort(7, line.slavePath());
    env.setLineSettings(7, "9600,n,8,1");
    modem.start(line);
    const Holdings before = Holdings::Now(env);
    for (int i = 0; i < kModemCycles; ++i) {
        ASSERT_EQ(OrvOpenComm(7, 1, "5551234", 10), 1) << "cycle " << i;
        EXPECT_EQ(Holdings::Now(env).heldEvents.size(), 4u);
        ASSERT_EQ(OrvCloseComm(), 1);
    }
    ExpectSameHoldings(before, Holdings::Now(env), "modem open/close x20");
    EXPECT_EQ(modem.callsConnected(), kModemCycles);
    modem.stop();
}

// Ports that fail at each step of an open: no device file, a device held by
// another opener, line settings refused after the port and its event were
// taken, and a modem that refuses its first command.
TEST_F(LeakCycles, FailedOpensLeaveNothingBehind) {
    constexpr int kMissing = 11, kLocked = 12, kBadSettings = 13, kRefusingModem = 14;
    sim::SimLine lockedLine, badSettingsLine, modemLine;
    env.mapPort(kMissing, env.dir() + "/no-such-tty");
    env.mapPort(kLocked, lockedLine.slavePath());
    env.mapPort(kBadSettings, badSettingsLine.slavePath());
    env.setLineSettings(kBadSettings, "9601,n,8,1");
    env.mapPort(kRefusingModem, modemLine.slavePath());
    sim::ModemOptions options;
    options.refused = {"ATQ0"};
    sim::ModemSimulator modem(options);
    modem.start(modemLine);
    const int holder = open(lockedLine.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

    const Holdings before = Holdings::Now(env);
    // The modem's refusal costs about a second; a few of those suffice.
    constexpr int kModemFailures = 5;
    for (int i = 0; i < kFailedOpens - kModemFailures; ++i) {
        const int port = i % 3 == 0 ? kMissing : i % 3 == 1 ? kLocked : kBadSettings;
        ASSERT_EQ(OrvOpenComm(port, 0, nullptr, 0), 0) << "open " << i << " of port " << port;
    }
    for (int i = 0; i < kModemFailures; ++i)
        ASSERT_EQ(OrvOpenComm(kRefusingModem, 1, "5551234", 10), 0);
    ExpectSameHoldings(before, Holdings::Now(env), "failed opens x1000");

    close(holder);
    modem.stop();
}

}  // namespace
}  // namespace orv
