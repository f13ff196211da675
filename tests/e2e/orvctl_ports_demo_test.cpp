// orvctl ports and orvctl demo as processes.
#include <gtest/gtest.h>

#include <regex>

#include "e2e/orvctl_process.h"
#include "sim/sim_line.h"
#include "support/test_env.h"

namespace orv::test {
namespace {

TEST(OrvctlPorts, ShowsEachPortAsTheLibraryReadsItAndFlagsARefusedEntry) {
    sim::SimLine line;
    TestEnv env;
    env.mapPort(3, line.slavePath());
    env.setLineSettings(3, "19200,e,8,1");
    env.setLineSettings(5, "9600,n,8,2");
    const Finished good = RunOrvctl({"ports", "--profile", env.profilePath()});
    EXPECT_EQ(good.exitCode, 0) << good.err;
    EXPECT_NE(good.out.find("profile: " + env.profilePath() + "\n"), std::string::npos) << good.out;
    EXPECT_TRUE(std::regex_search(good.out, std::regex("COM3 +" + line.slavePath() + " +19200,e,8,1 +19200 8E1\n")))
        << good.out;
    EXPECT_TRUE(std::regex_search(good.out, std::regex("COM5 +/dev/ttyS4 +9600,n,8,2 +9600 8N2")))
        << good.out;

    env.setLineSettings(6, "9601,n,8,1");
    const Finished refused = RunOrvctl({"ports", "--profile", env.profilePath()});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(std::regex_search(refused.out, std::regex("COM6 +/dev/ttyS5 +9601,n,8,1 +REFUSED"))) << refused.out;
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
}

TEST(OrvctlDemo, RunsEveryStepAndReportsItsTimeAndThroughput) {
    const std::vector<std::vector<std::string>> runs = {{"demo"}, {"demo", "--modem", "--size", "65536"}};
    for (const auto &args : runs) {
        SCOPED_TRACE(args.size() > 1 ? "modem" : "direct");
        const Finished done = RunOrvctl(args, 120s);
        EXPECT_EQ(done.exitCode, 0) << done.out << done.err;
        for (const char *step : {"open", "wake", "handshake", "command", "write", "read", "compare", "close"})
            EXPECT_TRUE(std::regex_search(done.out, std::regex(std::string("\n  ") + step + " +ok +[0-9.]+ m?s")))
                << step << " in " << done.out;
        EXPECT_TRUE(std::regex_search(done.out, std::regex("throughput: write [0-9.]+ [KM]?i?B/s, read")))
            << done.out;
        EXPECT_NE(done.out.find("demo passed in "), std::string::npos);
    }
}

}  // namespace
}  // namespace orv::test
