// What orvctl says when something is wrong: the exit code, and one stderr
// line naming the call, the port and what to check.
#include <pwd.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "e2e/orvctl_process.h"
#include "support/test_env.h"

namespace orv::test {
namespace {

constexpr int kPort = 4;

std::vector<std::string> OnPort(std::vector<std::string> args, const TestEnv &env) {
    for (const char *extra : {"--port", "4", "--profile"}) args.push_back(extra);
    args.push_back(env.profilePath());
    return args;
}

void ExpectOneLineSaying(const std::string &err, const std::vector<std::string> &words) {
    EXPECT_EQ(err.rfind("orvctl: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    for (const std::string &word : words) EXPECT_NE(err.find(word), std::string::npos) << word << " in " << err;
}

TEST(OrvctlFailures, AMissingPortOrARefusedEntryIsAConfigurationError) {
    struct Case {
        const char *what;
        std::string device;
        std::string entry;
        std::vector<std::string> said;
    };
    const Case cases[] = {
        {"missing device file", "/dev/orvlink-no-such-tty", "9600,n,8,1",
         {"OrvOpenComm", "COM4", "/dev/orvlink-no-such-tty", "does not exist", "check [Devices] COM4="}},
        {"refused speed", "/dev/ptmx", "9601,n,8,1", {"OrvOpenComm", "COM4", "9601", "refused", "check [Ports]"}},
        {"refused parity", "/dev/ptmx", "9600,N,8,1", {"OrvOpenComm", "COM4", "parity", "check [Ports]"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TestEnv env;
        env.mapPort(kPort, c.device);
        env.setLineSettings(kPort, c.entry);
        const Finished done = RunOrvctl(OnPort({"send", "0x10", "0", "1"}, env));
        EXPECT_EQ(done.exitCode, 2);
        ExpectOneLineSaying(done.err, c.said);
    }
}

TEST(OrvctlFailures, ASilentDeviceFailsTheCallWithinItsTimeOut) {
    SimProcess device({"sim", "device", "--silent"});
    TestEnv env;
    env.mapPort(kPort, device.path());
    const auto start = Clock::now();
    const Finished done = RunOrvctl(OnPort({"handshake", "0x10", "0", "1"}, env));
    const auto took = Clock::now() - start;
    EXPECT_EQ(done.exitCode, 1);
    EXPECT_EQ(done.out, "result 0\n");
    ExpectOneLineSaying(done.err, {"OrvHandshake", "COM4", device.path(), "no valid answer", "check"});
    // One attempt with a 50 ms acknowledgement time-out, plus starting a process.
    EXPECT_LT(took, 2s);
}

TEST(OrvctlFailures, AFailedReadSaysHowFarItGotAndLeavesNoFile) {
    // Chunk 2 of a read gets its acknowledgement but never its reply.
    SimProcess device({"sim", "device", "--fault", "no-answer:reply,command=0x22,block=2,times=every"});
    TestEnv env;
    env.mapPort(kPort, device.path());
    const std::string source = env.dir() + "/source.bin", target = env.dir() + "/target.bin";
    std::ofstream(source) << std::string(5000, 'x');
    ASSERT_EQ(RunOrvctl(OnPort({"write", source, "0x21", "0", "1", "--chunk", "1000"}, env)).exitCode, 0);

    const Finished done = RunOrvctl(
        OnPort({"read", target, "--length", "5000", "0x22", "0", "1", "--chunk", "1000", "--timeout", "100"}, env));
    EXPECT_EQ(done.exitCode, 1);
    ExpectOneLineSaying(done.err, {"OrvReadData", "COM4", "after 2000 of 5000 bytes", target});
    for (const auto &entry : std::filesystem::directory_iterator(env.dir()))
        EXPECT_EQ(entry.path().filename().string().find("target"), std::string::npos) << entry.path();
}

TEST(OrvctlFailures, ADeviceFileWithoutPermissionPointsAtTheDialoutGroup) {
    SimProcess device({"sim", "device"});
    TestEnv env;
    env.mapPort(kPort, device.path());
    // root passes every permission check: the tool then runs as nobody.
    const bool root = geteuid() == 0;
    const passwd *nobody = getpwnam("nobody");
    if (root) {
        ASSERT_NE(nobody, nullptr);
        ASSERT_EQ(chmod(env.dir().c_str(), 0755), 0);
        ASSERT_EQ(chmod(env.profilePath().c_str(), 0644), 0);
    }
    ASSERT_EQ(chmod(device.path().c_str(), root ? 0600 : 0000), 0);
    std::vector<std::string> args = OnPort({OrvctlPath(), "wake"}, env);
    if (root) {
        args.insert(args.begin(), {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                                   "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups"});
    }
    Child child(args);
    const Finished done = child.finish();
    EXPECT_EQ(done.exitCode, 2);
    ExpectOneLineSaying(done.err, {"OrvOpenComm", "COM4", device.path(), "dialout"});
}

}  // namespace
}  // namespace orv::test
