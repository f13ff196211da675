// `orvctl sim device` and `orvctl sim modem` as programs: the first stdout
// line, the --link symlink, --trace, --baud, calls one after another, and a
// clean end on SIGTERM or SIGINT.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "e2e/orvctl_process.h"
#include "support/test_env.h"

namespace orv::test {
namespace {

std::vector<std::string> OnPort(std::vector<std::string> args, int port, const TestEnv &env) {
    args.insert(args.end(), {"--port", std::to_string(port), "--profile", env.profilePath()});
    return args;
}

TEST(OrvctlSim, EndsWithExitZeroOnItsSignalAndRemovesItsLink) {
    struct Case {
        const char *kind;
        int signal;
    };
    for (const Case c : {Case{"device", SIGTERM}, Case{"device", SIGINT}, Case{"modem", SIGTERM},
                         Case{"modem", SIGINT}}) {
        SCOPED_TRACE(std::string(c.kind) + " " + strsignal(c.signal));
        TestEnv env;
        const std::string link = env.dir() + "/line";
        std::vector<std::string> args = {"sim", c.kind, "--link", link};
        if (std::string(c.kind) == "modem") args.insert(args.end(), {"--dial-delay", "20"});
        SimProcess sim(args);
        ASSERT_EQ(sim.path().rfind("/dev/pts/", 0), 0u) << sim.child().err();
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.path());
        const Finished done = sim.stop(c.signal);
        EXPECT_EQ(done.exitCode, 0) << done.err;
        EXPECT_EQ(done.out, sim.path() + "\n");  // nothing after the path without --trace
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    }
}

TEST(OrvctlSim, TracePrintsEachFrameAsHexWithItsTime) {
    SimProcess device({"sim", "device", "--trace"});
    TestEnv env;
    env.mapPort(3, device.path());
    ASSERT_EQ(RunOrvctl(OnPort({"handshake", "0x10", "0", "7"}, 3, env)).exitCode, 0);
    const Finished done = device.stop();
    std::istringstream lines(done.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, device.path());
    const std::regex command(R"(\d+\.\d{6} host>device command 14 55 AA 10( [0-9A-F]{2}){11})");
    const std::regex ack(R"(\d+\.\d{6} device>host ack 6 5A A5 10( [0-9A-F]{2}){3})");
    const std::regex reply(R"(\d+\.\d{6} device>host reply 10 AA 55 10( [0-9A-F]{2}){7})");
    std::vector<std::string> traced;
    while (std::getline(lines, line)) traced.push_back(line);
    ASSERT_EQ(traced.size(), 3u) << done.out;
    EXPECT_TRUE(std::regex_match(traced[0], command)) << traced[0];
    EXPECT_TRUE(std::regex_match(traced[1], ack)) << traced[1];
    EXPECT_TRUE(std::regex_match(traced[2], reply)) << traced[2];
}

TEST(OrvctlSim, TheModemTracesItsCommandLinesAndTakesOneCallAfterAnother) {
    SimProcess modem({"sim", "modem", "--dial-delay", "20", "--trace"});
    TestEnv env;
    env.mapPort(7, modem.path());
    for (const char *argument : {"11", "12"}) {
        const Finished done = RunOrvctl(OnPort({"send", "0x10", "0", argument, "--modem", "5551234"}, 7, env));
        EXPECT_EQ(done.exitCode, 0) << done.err;
        EXPECT_NE(done.out.find(std::string("value ") + argument + " "), std::string::npos) << done.out;
    }
    const Finished done = modem.stop();
    const std::regex dial(R"(\d+\.\d{6} host>modem at-line 10 41 54 44 35 35 35 31 32 33 34 "ATD5551234")");
    std::istringstream lines(done.out);
    int dials = 0;
    for (std::string line; std::getline(lines, line);) dials += std::regex_match(line, dial) ? 1 : 0;
    EXPECT_EQ(dials, 2) << done.out;
}

TEST(OrvctlSim, BaudPacesTheLine) {
    constexpr int kBaud = 9600;
    constexpr int kBytes = 2000;
    SimProcess device({"sim", "device", "--baud", std::to_string(kBaud)});
    TestEnv env;
    env.mapPort(3, device.path());
    env.setLineSettings(3, std::to_string(kBaud) + ",n,8,1");
    const std::string source = env.dir() + "/source.bin";
    std::ofstream(source) << std::string(kBytes, 'p');
    const auto start = Clock::now();
    // A pseudo-terminal reports its bytes sent before the paced simulator has
    // taken them in: the reply time-out covers a chunk's time on the line.
    const Finished done = RunOrvctl(
        OnPort({"write", source, "0x21", "0", "1", "--chunk", "1000", "--timeout", "3000"}, 3, env));
    const auto took = Clock::now() - start;
    EXPECT_EQ(done.exitCode, 0) << done.err;
    // Ten bits a byte for the payload alone; frames and pauses come on top.
    const auto payloadTime = std::chrono::milliseconds(kBytes * 10 * 1000 / kBaud);
    EXPECT_GE(took, payloadTime);
    EXPECT_LT(took, payloadTime * 3 / 2 + 1500ms);
}

}  // namespace
}  // namespace orv::test
