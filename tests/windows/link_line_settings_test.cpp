// The [Ports] entry of the system profile (win.ini in the Wine prefix, read by
// the system's GetProfileStringA) sets the line: what Wine asked of the pty,
// as the shim logged it.
#include <string>

#include "support/link_fixtures.h"

namespace orv::wintest {
namespace {

struct SettingsCase {
    const char *entry;     // null: no entry for the port
    const char *expected;  // the line settings put on the pty; null: refused
};

std::ostream &operator<<(std::ostream &out, const SettingsCase &c) {
    return out << (c.entry ? c.entry : "(no entry)");
}

class LineSettingsTest : public DeviceLinkTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(LineSettingsTest, DirectOpenPutsTheEntrysSettingsOnTheLineOrRefusesIt) {
    PortsEntry entry(kDevicePort, GetParam().entry);
    const int32_t opened = OrvOpenComm(kDevicePort, 0, nullptr, 0);
    if (GetParam().expected == nullptr) {
        EXPECT_EQ(opened, 0);
        return;
    }
    ASSERT_EQ(opened, 1);
    EXPECT_EQ(LastShimLine(shimLines(), "speed="), GetParam().expected);
    uint16_t more = 9;
    EXPECT_EQ(OrvSendCommand(0x10, 0, 1, &more, nullptr, 500), 1);  // and the line works
}

INSTANTIATE_TEST_SUITE_P(
    Entries, LineSettingsTest,
    ::testing::Values(SettingsCase{nullptr, "speed=9600 data=8 parity=n stop=1"},
                      SettingsCase{"9600,n,8,1", "speed=9600 data=8 parity=n stop=1"},
                      SettingsCase{"19200,e,8,1", "speed=19200 data=8 parity=e stop=1"},
                      SettingsCase{"4800,o,8,2", "speed=4800 data=8 parity=o stop=2"},
                      SettingsCase{"2400,e,7,2", "speed=2400 data=8 parity=e stop=2"},
                      SettingsCase{"9600,n,8,1.5", "speed=9600 data=8 parity=n stop=1"},
                      SettingsCase{"9600x,n,8,1", "speed=9600 data=8 parity=n stop=1"},
                      SettingsCase{"38400,n,8,1", "speed=38400 data=8 parity=n stop=1"},
                      SettingsCase{"Key Not Found", "speed=9600 data=8 parity=n stop=1"},
                      SettingsCase{"9600,N,8,1", nullptr}, SettingsCase{"9600,m,8,1", nullptr},
                      SettingsCase{"9600,n,8", nullptr}, SettingsCase{"300,n,8,1", nullptr},
                      SettingsCase{"9600", nullptr}, SettingsCase{"key not found", nullptr}));

}  // namespace
}  // namespace orv::wintest
