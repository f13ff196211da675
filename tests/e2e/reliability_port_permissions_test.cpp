// A port the user may not open gives 0. Root opens any device file and
// passes the exclusive-open ioctl, so the opening is done by a helper: this
// same program, copied where anyone may run it and started as an
// unprivileged user (setpriv to nobody when the tests run as root). The
// helper tells its result through its exit status.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "support/device_fixture.h"

extern char **environ;

namespace orv {
namespace {

constexpr int kOpened = 40;
constexpr int kRefused = 41;
constexpr const char *kHelperPortVariable = "ORVLINK_HELPER_PORT";

// The helper's part: run only when a parent asks for it by name.
TEST(PortPermissionHelper, DISABLED_OpensThePortItIsGivenAsAHostWould) {
    const char *port = std::getenv(kHelperPortVariable);
    ASSERT_NE(port, nullptr);
    const int32_t result = OrvOpenComm(std::atoi(port), 0, nullptr, 0);
    OrvCloseComm();
    std::_Exit(result == 1 ? kOpened : kRefused);
}

enum class Holder { Nobody, ThisProcess };

struct PermissionCase {
    const char *name;
    mode_t deviceMode;
    Holder holder;
    int helperExit;
};

// Test names and messages show the case by its name.
void PrintTo(const PermissionCase &c, std::ostream *os) { *os << c.name; }

class UnprivilegedHost : public test::DeviceLinkTest {
protected:
    void SetUp() override {
        DeviceLinkTest::SetUp();
        ASSERT_EQ(OrvCloseComm(), 1);
        // The profile must be readable by the helper's user.
        ASSERT_EQ(chmod(env.dir().c_str(), 0755), 0);
        helper_ = runnableCopy(std::filesystem::read_symlink("/proc/self/exe"), "helper");
    }

    // Runs program as an unprivileged user, its output kept in env.dir()/output;
    // its exit status, or -1.
    int runUnprivileged(std::vector<std::string> args) {
        if (geteuid() == 0)
            args.insert(args.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
        std::vector<char *> argv;
        for (auto &arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string output = env.dir() + "/output";
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = 0;
        const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return -1;
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    int runHelper() {
        setenv(kHelperPortVariable, std::to_string(kPort).c_str(), 1);
        return runUnprivileged({helper_, "--gtest_also_run_disabled_tests",
                                "--gtest_filter=PortPermissionHelper.*"});
    }

    std::string output() const {
        std::ifstream in(env.dir() + "/output");
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // A copy of a program of the build where the unprivileged user may run it.
    std::string runnableCopy(const std::string &program, const std::string &name) {
        const std::string copy = env.dir() + "/" + name;
        std::filesystem::copy_file(program, copy);
        EXPECT_EQ(chmod(copy.c_str(), 0755), 0);
        return copy;
    }

    std::string helper_;
};

class PortPermissions : public UnprivilegedHost,
                        public ::testing::WithParamInterface<PermissionCase> {};

TEST_P(PortPermissions, TheHelpersOpenGivesWhatTheDeviceFileAllows) {
    const PermissionCase &c = GetParam();
    if (geteuid() != 0 && c.deviceMode == 0600)
        GTEST_SKIP() << "the helper runs as the device's owner; dropping to another user needs root";
    ASSERT_EQ(chmod(line.slavePath().c_str(), c.deviceMode), 0);
    if (c.holder == Holder::ThisProcess) {
        ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);
    }

    EXPECT_EQ(runHelper(), c.helperExit);

    if (c.holder == Holder::ThisProcess) {
        // The refused open left the holder's link alone.
        uint16_t more = 7;
        uint32_t value = 0;
        EXPECT_EQ(OrvSendCommand(0x10, 0, 77, &more, &value, 500), 1);
        EXPECT_EQ(value, 77u);
    }
}

// orvctl says why: the device file, and what to do about it.
TEST_F(UnprivilegedHost, OrvctlSendExplainsADeviceFileItMayNotOpen) {
    const std::string orvctl = runnableCopy(ORVLINK_BINARY_DIR "/bin/orvctl", "orvctl");
    for (mode_t mode : {0600, 0000}) {
        SCOPED_TRACE(mode);
        if (geteuid() != 0 && mode == 0600) continue;  // the owner may open it
        ASSERT_EQ(chmod(line.slavePath().c_str(), mode), 0);
        EXPECT_NE(runUnprivileged({orvctl, "send", "--port", std::to_string(kPort), "0x10", "0", "5"}), 0);
        const std::string said = output();
        EXPECT_NE(said.find(line.slavePath()), std::string::npos) << said;
        EXPECT_NE(said.find("not readable and writable"), std::string::npos) << said;
    }
    EXPECT_EQ(device.counters().framesReceived, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    DeviceFiles, PortPermissions,
    ::testing::Values(PermissionCase{"OwnerOnly", 0600, Holder::Nobody, kRefused},
                      PermissionCase{"NoOneAtAll", 0000, Holder::Nobody, kRefused},
                      PermissionCase{"OpenToAll", 0666, Holder::Nobody, kOpened},
                      PermissionCase{"OpenToAllButHeldHere", 0666, Holder::ThisProcess, kRefused}),
    [](const ::testing::TestParamInfo<PermissionCase> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orv
