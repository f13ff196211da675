// Dialled links through orvlink.dll: the modem's AT dialogue line by line,
// the control lines, device traffic through the call, and a dial ended from
// another Windows process through the named event "ReceiveFail".
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "support/link_fixtures.h"

namespace orv::wintest {
namespace {

std::vector<std::string> ScriptAndDial(const char *number) {
    return {"ATQ0", "ATE1", "AT&F", "ATE1", "ATN1", "AT%E1", "ATH0", "ATS0=1", std::string("ATD") + number};
}

// Runs orvwin_signal.exe (beside this program) with the name; its exit code.
DWORD RunSignal(const char *name) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string command(path, length);
    command = command.substr(0, command.find_last_of("\\/") + 1) + "orvwin_signal.exe";
    std::string line = "\"" + command + "\" " + name;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(command.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 1000 + GetLastError();
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 999;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

class DialTest : public ModemLinkTest {};

TEST_F(DialTest, ConnectSendsTheScriptAndTheDialLineExactly) {
    PortsEntry entry(kModemPort, "19200,e,8,2");
    const int callsBefore = std::stoi(Ask("calls 2"));
    ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 1);
    EXPECT_EQ(atLines(), ScriptAndDial(kPhoneNumber));
    EXPECT_EQ(std::stoi(Ask("calls 2")), callsBefore + 1);
    // Modem mode takes only the speed from the entry: 8 data bits, no parity, one stop bit.
    EXPECT_EQ(LastShimLine(shimLines(), "speed="), "speed=19200 data=8 parity=n stop=1");
}

TEST_F(DialTest, DtrAndRtsAreRaisedForTheCallAndDtrFallsAtClose) {
    ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 1);
    EXPECT_EQ(LastShimLine(shimLines(), "dtr="), "dtr=1 rts=1");
    const auto start = Clock::now();
    ASSERT_EQ(OrvCloseComm(), 1);
    EXPECT_EQ(LastShimLine(shimLines(), "dtr="), "dtr=0 rts=1");
    // The call is held until 3 s after it came up (whole seconds): at least 2 s from here.
    EXPECT_GE(MsSince(start), 2000.0);
    EXPECT_LE(MsSince(start), 3000.0 * 1.5 + 150);
}

TEST_F(DialTest, DeviceFramesFlowThroughTheCall) {
    ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 1);
    uint16_t more = 9;
    uint32_t value = 0;
    ASSERT_EQ(OrvSendCommand(0x10, 0, 5, &more, &value, 500), 1);
    EXPECT_EQ(value, 5u);
    std::vector<uint8_t> out(3000);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i * 7 + 1);
    ASSERT_EQ(OrvWriteData(out.data(), 3000, 0x21, 0, 9, &more, &value, 2000, 1024), 1);
    std::vector<uint8_t> in(out.size());
    ASSERT_EQ(OrvReadData(in.data(), 3000, 0x22, 0, 9, &more, &value, 2000, 1024), 1);
    EXPECT_EQ(in, out);
    EXPECT_EQ(HostFrames(frames(), 'C').size(), 1u + 3u + 3u);
}

// The watcher of a command that gets no success answer is ended by a stop
// request when its wait runs out; the next connect's watchers work.
TEST_F(DialTest, ARefusedCommandFailsTheConnectAboutOneSecondLaterAndTheNextConnectWorks) {
    Ask("refuse 2 AT%E1");
    const auto start = Clock::now();
    EXPECT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 0);
    const double elapsed = MsSince(start);
    const auto lines = atLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "AT%E1");
    EXPECT_GE(elapsed, 1000.0);
    EXPECT_LE(elapsed, 1000.0 * 1.5 + 150 + 500);  // the five commands before it, too

    Ask("refuse 2 -");
    const std::size_t mark = AtLineCount(kModemPort);
    ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 1);
    EXPECT_EQ(AtLinesSince(kModemPort, mark), ScriptAndDial(kPhoneNumber));
}

TEST_F(DialTest, ReceiveFailSetByAnotherProcessEndsTheDialAtOnce) {
    Ask("dial 2 silent");
    int32_t opened = -1;
    std::thread dial([&] { opened = OrvOpenComm(kModemPort, 1, kPhoneNumber, 30); });
    // The dial line has gone out once the modem has it.
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (atLines().size() < ScriptAndDial(kPhoneNumber).size() && Clock::now() < deadline)
        Sleep(10);
    EXPECT_EQ(atLines(), ScriptAndDial(kPhoneNumber));
    const auto start = Clock::now();
    EXPECT_EQ(RunSignal("ReceiveFail"), 0u);
    dial.join();
    EXPECT_EQ(opened, 0);
    EXPECT_LE(MsSince(start), 2000.0);  // the dial would have waited 30 s
    EXPECT_EQ(RunSignal("ReceiveFail"), 1u);  // the events went with the failed connect
}

}  // namespace
}  // namespace orv::wintest
