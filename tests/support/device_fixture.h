// A direct link to the device simulator over a pseudo-terminal, opened
// through the exports as a host would.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "orvlink.h"
#include "sim/device_sim.h"
#include "sim/sim_line.h"
#include "support/test_env.h"

namespace orv::test {

class DeviceLinkTest : public ::testing::Test {
protected:
    static constexpr int kPort = 4;

    void SetUp() override {
        env.mapPort(kPort, line.slavePath());
        if (!lineSettings().empty()) env.setLineSettings(kPort, lineSettings());
        device.start(line);
        ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);
    }
    void TearDown() override {
        OrvCloseComm();
        device.stop();
    }
    virtual std::string lineSettings() const { return {}; }

    sim::SimLine line;
    TestEnv env;
    sim::DeviceSimulator device;
};

}  // namespace orv::test
