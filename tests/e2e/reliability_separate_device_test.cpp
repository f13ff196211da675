// Every device operation against a simulator that runs in a process of its
// own: this same program started in a helper role. The host's timing then
// does not depend on the simulator's thread being scheduled in the host's
// process, which matters when the host runs under a slow checker (valgrind
// runs one thread at a time, and the handshake waits only 50 ms for its
// acknowledgement). The helper prints its pseudo-terminal on a socket and
// serves until that socket closes.
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "orvlink.h"
#include "sim/device_sim.h"
#include "sim/sim_line.h"
#include "support/test_env.h"

extern char **environ;

namespace orv {
namespace {

constexpr int kHelperSocket = 3;  // the helper's end, at this number
constexpr int kPort = 9;

// The helper's part: run only when a parent asks for it by name.
TEST(SeparateDeviceHelper, DISABLED_ServesALineUntilItsParentHangsUp) {
    sim::SimLine line;
    sim::DeviceSimulator device;
    device.start(line);
    const std::string path = line.slavePath() + "\n";
    ASSERT_EQ(write(kHelperSocket, path.data(), path.size()), static_cast<ssize_t>(path.size()));
    char byte = 0;
    while (read(kHelperSocket, &byte, 1) > 0) {}
    device.stop();
    std::_Exit(0);
}

class SeparateDevice : public ::testing::Test {
protected:
    void SetUp() override {
        int sockets[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets), 0);
        socket_ = sockets[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, sockets[1], kHelperSocket);
        std::string self = "/proc/self/exe";
        char resolved[4096] = {};
        const ssize_t n = readlink(self.c_str(), resolved, sizeof resolved - 1);
        ASSERT_GT(n, 0);
        std::string program(resolved, static_cast<std::size_t>(n));
        std::string all = "--gtest_also_run_disabled_tests";
        std::string filter = "--gtest_filter=SeparateDeviceHelper.*";
        char *argv[] = {program.data(), all.data(), filter.data(), nullptr};
        ASSERT_EQ(posix_spawn(&helper_, program.c_str(), &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(sockets[1]);
        const std::string slave = readLine();
        ASSERT_FALSE(slave.empty());
        env.mapPort(kPort, slave);
        ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);
    }
    void TearDown() override {
        OrvCloseComm();
        if (socket_ >= 0) close(socket_);
        if (helper_ > 0) {
            int status = 0;
            EXPECT_EQ(waitpid(helper_, &status, 0), helper_);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
    }

    // The helper's first line, within 10 s.
    std::string readLine() {
        std::string line;
        char c = 0;
        pollfd p{socket_, POLLIN, 0};
        while (poll(&p, 1, 10000) == 1 && read(socket_, &c, 1) == 1) {
            if (c == '\n') return line;
            line.push_back(c);
        }
        return {};
    }

    test::TestEnv env;
    int socket_ = -1;
    pid_t helper_ = -1;
};

TEST_F(SeparateDevice, EveryOperationCarriesTheDevicesAnswers) {
    uint16_t more = 7;
    uint32_t value = 0;
    EXPECT_EQ(OrvDevicePowerON(), 1);
    EXPECT_EQ(OrvHandshake(0x01, 0x02, 0x01020304, &more, &value), 1);
    EXPECT_EQ(more, 0);
    EXPECT_EQ(value, 0x01020304u);
    EXPECT_EQ(OrvSendCommand(0x10, 0, 5, &more, &value, 500), 1);
    EXPECT_EQ(value, 5u);

    std::vector<uint8_t> data(5000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 17 + 1);
    more = 0;
    ASSERT_EQ(OrvWriteData(data.data(), 5000, 0x21, 0, 3, &more, &value, 1000, 1024), 1);
    EXPECT_EQ(more, 1);
    EXPECT_EQ(value, 5000u);
    std::vector<uint8_t> back(5000, 0);
    ASSERT_EQ(OrvReadData(back.data(), 5000, 0x22, 0, 3, &more, &value, 1000, 700), 1);
    EXPECT_EQ(back, data);
    EXPECT_EQ(value, 5000u);
    // The device refuses other commands that carry a block.
    EXPECT_EQ(OrvWriteData(data.data(), 10, 0x23, 0, 3, &more, &value, 100, 10), 0);
}

}  // namespace
}  // namespace orv
