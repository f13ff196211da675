// A port of the platform layer on a real pseudo-terminal: the test drives the
// master end through SimLine, the layer holds the slave as "COM7".
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/posix/test_seam.h"
#include "platform/posix/win_api.h"
#include "sim/sim_line.h"
#include "support/test_env.h"

namespace orv::win::test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Bytes = std::vector<uint8_t>;

inline double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class PortTest : public ::testing::Test {
protected:
    static constexpr int kPort = 7;

    void SetUp() override {
        seam::Reset();
        env.mapPort(kPort, line.slavePath());
        port = CreateFileA("COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    }
    void TearDown() override {
        if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
        seam::Reset();
    }

    void setTimeouts(DWORD interval, DWORD mult, DWORD constant, DWORD wMult = 0, DWORD wConst = 0) {
        COMMTIMEOUTS t{interval, mult, constant, wMult, wConst};
        ASSERT_EQ(SetCommTimeouts(port, &t), 1);
    }
    // What the device sends.
    void send(const Bytes &bytes) { ASSERT_TRUE(line.writeAll(bytes)); }
    // What the device received, waiting up to a second for n bytes.
    Bytes received(std::size_t n) {
        Bytes buf(n);
        buf.resize(line.readExact(buf, Clock::now() + milliseconds(1000)));
        return buf;
    }

    orv::sim::SimLine line;
    orv::test::TestEnv env;
    HANDLE port = INVALID_HANDLE_VALUE;
};

}  // namespace orv::win::test
