// Once the modem has connected, device frames flow through the call as on a cable.
#include <numeric>
#include <vector>

#include "modem_fixture.h"
#include "sim/device_sim.h"

namespace orv::test {
namespace {

class DialledDevice : public ModemLinkTest {
protected:
    void SetUp() override {
        ModemLinkTest::SetUp();
        sim::ModemOptions options;
        options.dataMode = [this](sim::SimLine &line) { device_.serve(line); };
        startModem(options);
        ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 1);
        ASSERT_EQ(modem_->callsConnected(), 1);
    }

    sim::DeviceSimulator device_;  // outlives the modem, which TearDown stops
};

TEST_F(DialledDevice, SingleCommandsAreAnsweredThroughTheCall) {
    uint16_t more = 9;
    uint32_t value = 0;
    ASSERT_EQ(OrvSendCommand(0x10, 0, 5, &more, &value, 500), 1);
    EXPECT_EQ(more, 0);
    EXPECT_EQ(value, 5u);
    ASSERT_EQ(OrvHandshake(0x01, 0, 77, &more, &value), 1);
    EXPECT_EQ(value, 77u);
}

TEST_F(DialledDevice, BlocksGoBothWaysThroughTheCall) {
    std::vector<uint8_t> out(3000);
    std::iota(out.begin(), out.end(), uint8_t{1});
    uint16_t more = 0;
    uint32_t value = 0;
    ASSERT_EQ(OrvWriteData(out.data(), static_cast<uint32_t>(out.size()), 0x21, 0, 4, &more, &value,
                           2000, 1024),
              1);
    EXPECT_EQ(device_.region(4), out);
    std::vector<uint8_t> in(out.size());
    ASSERT_EQ(OrvReadData(in.data(), static_cast<uint32_t>(in.size()), 0x22, 0, 4, &more, &value,
                          2000, 1024),
              1);
    EXPECT_EQ(in, out);
}

}  // namespace
}  // namespace orv::test
