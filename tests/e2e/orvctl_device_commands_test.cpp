// orvctl's device commands as processes against `orvctl sim device`.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "e2e/orvctl_process.h"
#include "support/test_env.h"

namespace orv::test {
namespace {

constexpr int kPort = 4;

class OrvctlDevice : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(device.path().rfind("/dev/pts/", 0), 0u) << device.child().err();
        env.mapPort(kPort, device.path());
    }
    std::vector<std::string> link(std::vector<std::string> args) const {
        for (const char *extra : {"--port", "4", "--profile"}) args.push_back(extra);
        args.push_back(env.profilePath());
        return args;
    }
    std::string file(const std::string &name) const { return env.dir() + "/" + name; }

    SimProcess device{{"sim", "device"}};
    TestEnv env;
};

std::vector<uint8_t> RandomBytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    std::mt19937 random(7);
    for (auto &byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

void Save(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Load(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(OrvctlDevice, EachCommandPrintsTheResultFlagAndValue) {
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    // The simulator answers a single command with its argument as the value.
    const Case cases[] = {
        {{"wake"}, "result 1\n"},
        {{"handshake", "0x10", "0", "7"}, "result 1  flag 0  value 7 (0x00000007)\n"},
        {{"send", "16", "0x01", "0x1234"}, "result 1  flag 0  value 4660 (0x00001234)\n"},
        {{"send", "0x10", "0", "4294967295", "--timeout", "300"},
         "result 1  flag 0  value 4294967295 (0xFFFFFFFF)\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0]);
        const Finished done = RunOrvctl(link(c.args));
        EXPECT_EQ(done.exitCode, 0) << done.err;
        EXPECT_EQ(done.out, c.line);
        EXPECT_EQ(done.err, "");
    }
}

TEST_F(OrvctlDevice, JsonPrintsOneObjectForScripts) {
    const Finished send = RunOrvctl(link({"send", "0x10", "0", "305419896", "--json"}));
    EXPECT_EQ(send.exitCode, 0) << send.err;
    EXPECT_EQ(send.out, "{\"call\":\"OrvSendCommand\",\"port\":4,\"result\":1,\"flag\":0,\"value\":305419896}\n");
    const Finished wake = RunOrvctl(link({"wake", "--json"}));
    EXPECT_EQ(wake.out, "{\"call\":\"OrvDevicePowerON\",\"port\":4,\"result\":1}\n");
}

TEST_F(OrvctlDevice, AFileWrittenAndReadBackIsTheSame) {
    const std::vector<uint8_t> bytes = RandomBytes(70001);  // a short last chunk
    Save(file("sent.bin"), bytes);
    const Finished write = RunOrvctl(link({"write", file("sent.bin"), "0x21", "0", "9", "--chunk", "4000"}));
    ASSERT_EQ(write.exitCode, 0) << write.err;
    EXPECT_NE(write.out.find("result 1  flag 1  value 70001"), std::string::npos) << write.out;
    // Not a terminal: no progress bar.
    EXPECT_EQ(write.err, "");

    const Finished read = RunOrvctl(link({"read", file("back.bin"), "--length", "70001", "0x22", "0", "9", "--json"}));
    ASSERT_EQ(read.exitCode, 0) << read.err;
    EXPECT_NE(read.out.find("\"call\":\"OrvReadData\",\"port\":4,\"result\":1,\"flag\":1,\"value\":70001,\"bytes\":70001"),
              std::string::npos) << read.out;
    EXPECT_EQ(read.err, "");
    EXPECT_EQ(Load(file("back.bin")), bytes);
}

TEST_F(OrvctlDevice, UsageErrorsExitTwoWithOneLine) {
    const std::vector<std::vector<std::string>> cases = {
        {"send", "0x10", "0", "--port", "4"},                     // ARG missing
        {"send", "0x100", "0", "1", "--port", "4"},               // CMD wider than a byte
        {"send", "1", "0", "1", "--port", "0"},                   // no such port number
        {"write", "/nonexistent/file", "0x21", "0", "1", "--port", "4"},
        {"read", "out.bin", "--length", "10", "1", "0", "1", "--port", "4", "--chunk", "10004"},
        {"sim", "device", "--fault", "no-answer:nowhere"},
    };
    for (const auto &args : cases) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        const Finished done = RunOrvctl(args);
        EXPECT_EQ(done.exitCode, 2);
        EXPECT_EQ(done.err.rfind("orvctl: ", 0), 0u) << done.err;
        EXPECT_EQ(std::count(done.err.begin(), done.err.end(), '\n'), 1) << done.err;
        EXPECT_EQ(done.out, "");
    }
}

}  // namespace
}  // namespace orv::test
