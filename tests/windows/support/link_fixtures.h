// Links to the simulators through the exports, as a Windows host makes them.
// Each fixture starts from the simulator's defaults and marks where its own
// frames, AT lines and shim log lines begin.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orvlink.h"
#include "support/sim_host.h"

namespace orv::wintest {

class SimulatedPortTest : public ::testing::Test {
protected:
    explicit SimulatedPortTest(int port) : port_(port) {}

    void SetUp() override {
        Ask("reset " + std::to_string(port_));
        frameMark_ = FrameCount(port_);
        shimMark_ = ShimLineCount(port_);
    }
    void TearDown() override {
        OrvCloseComm();
        Ask("reset " + std::to_string(port_));
    }

    void fault(const std::string &request) {
        Ask("fault " + std::to_string(port_) + " " + request);
    }
    std::vector<SeenFrame> frames() const { return FramesSince(port_, frameMark_); }
    std::vector<std::string> shimLines() const { return ShimLinesSince(port_, shimMark_); }

    const int port_;
    std::size_t frameMark_ = 0;
    std::size_t shimMark_ = 0;
};

// A direct link to the device simulator on COM1, opened by the test.
class DeviceLinkTest : public SimulatedPortTest {
protected:
    DeviceLinkTest() : SimulatedPortTest(kDevicePort) {}
};

// The modem on COM2, with the device behind its calls.
class ModemLinkTest : public SimulatedPortTest {
protected:
    static constexpr const char *kPhoneNumber = "5551234";
    ModemLinkTest() : SimulatedPortTest(kModemPort) {}

    void SetUp() override {
        SimulatedPortTest::SetUp();
        lineMark_ = AtLineCount(port_);
    }
    std::vector<std::string> atLines() const { return AtLinesSince(port_, lineMark_); }

    std::size_t lineMark_ = 0;
};

}  // namespace orv::wintest
