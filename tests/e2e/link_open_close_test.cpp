// Opening and closing the link in direct mode, and what a refused or failed
// open leaves behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "link/link_state.h"
#include "orvlink.h"
#include "sim/sim_line.h"
#include "support/test_env.h"

namespace orv {
namespace {

constexpr int kPort = 3;

int OpenDescriptorCount() {
    int count = 0;
    DIR *dir = opendir("/proc/self/fd");
    while (dirent *entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

class OpenCloseTest : public ::testing::Test {
protected:
    void SetUp() override { env.mapPort(kPort, line.slavePath()); }
    void TearDown() override { OrvCloseComm(); }

    sim::SimLine line;
    test::TestEnv env;
};

TEST_F(OpenCloseTest, CloseWithoutLinkSucceedsAndTouchesNothing) {
    EXPECT_EQ(OrvCloseComm(), 1);
    ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);
    EXPECT_EQ(OrvCloseComm(), 1);
    EXPECT_EQ(linkState.portHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(linkState.frameReadEvent, nullptr);
    EXPECT_EQ(OrvCloseComm(), 1);
}

TEST_F(OpenCloseTest, DirectModeReadsNeitherPhoneNumberNorDialWait) {
    EXPECT_EQ(OrvOpenComm(kPort, 0, nullptr, 0xFFFFFFFFu), 1);
    EXPECT_NE(linkState.portHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(linkState.viaModem, 0);
}

TEST_F(OpenCloseTest, MissingPortFailsAndLeavesNoLink) {
    EXPECT_EQ(OrvOpenComm(42, 0, nullptr, 0), 0);  // /dev/ttyS41 does not exist here
    EXPECT_EQ(linkState.portHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OrvCloseComm(), 1);
}

TEST_F(OpenCloseTest, OpenWhileOpenForMissingPortClosesTheOldLink) {
    ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);
    EXPECT_EQ(OrvOpenComm(42, 0, nullptr, 0), 0);
    EXPECT_EQ(linkState.portHandle, INVALID_HANDLE_VALUE);
}

TEST_F(OpenCloseTest, RefusedArgumentsLeaveAnOpenLinkAsItWas) {
    ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);
    const HANDLE held = linkState.portHandle;
    const std::string tooLong(61, '5');
    struct Refusal {
        int32_t port;
        int32_t viaModem;
        const char *phone;
    } refusals[] = {{kPort, 1, ""},  {kPort, 1, nullptr}, {kPort, 1, tooLong.c_str()},
                    {0, 0, nullptr}, {-1, 0, nullptr},    {1000, 0, nullptr}};
    for (const Refusal &r : refusals) {
        EXPECT_EQ(OrvOpenComm(r.port, r.viaModem, r.phone, 30), 0) << r.port;
        EXPECT_EQ(linkState.portHandle, held);
        EXPECT_EQ(linkState.viaModem, 0);
    }
    // Still the same working link: a byte written reaches the line.
    const uint8_t byte = 0x5A;
    DWORD written = 0;
    OVERLAPPED io{};
    EXPECT_TRUE(WriteFile(linkState.portHandle, &byte, 1, &written, &io));
    uint8_t got = 0;
    EXPECT_EQ(line.readExact({&got, 1}, sim::Clock::now() + std::chrono::seconds(2)), 1u);
    EXPECT_EQ(got, byte);
}

TEST_F(OpenCloseTest, SpeedSurvivesCloseAndSetsTheNextOpensFirstTimeouts) {
    env.setLineSettings(kPort, "1200,n,8,1");
    ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);
    ASSERT_EQ(OrvCloseComm(), 1);
    EXPECT_EQ(linkState.baudRate, 1200u);
    env.setLineSettings(kPort, "9600,n,8,1");
    ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(linkState.portHandle, &timeouts));
    // The open's own time-outs were set before the new entry was read.
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 16u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 100u);
    EXPECT_EQ(linkState.baudRate, 9600u);
}

TEST_F(OpenCloseTest, FailedOpensLeakNoDescriptors) {
    env.setLineSettings(kPort, "9600,x,8,1");  // refused after the read event exists
    ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 0);
    const int before = OpenDescriptorCount();
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 0);
    EXPECT_EQ(OpenDescriptorCount(), before);
    EXPECT_EQ(linkState.frameReadEvent, nullptr);
}

TEST_F(OpenCloseTest, SecondProcessCannotTakeAHeldPort) {
    ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        linkState.portHandle = INVALID_HANDLE_VALUE;  // the child's copy holds nothing
        _exit(OrvOpenComm(kPort, 0, nullptr, 0) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the second process opened a held port";
    // The holder's link still carries bytes both ways.
    const uint8_t out = 0xA5;
    DWORD count = 0;
    OVERLAPPED io{};
    EXPECT_TRUE(WriteFile(linkState.portHandle, &out, 1, &count, &io));
    uint8_t got = 0;
    EXPECT_EQ(line.readExact({&got, 1}, sim::Clock::now() + std::chrono::seconds(2)), 1u);
    EXPECT_EQ(got, out);
}

}  // namespace
}  // namespace orv
