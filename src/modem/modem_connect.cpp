// ModemConnect and ModemRelease: the modem's share of opening and closing the link.
#include "modem/modem_connect.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "link/link_state.h"
#include "modem/at_command.h"
#include "modem/modem_events.h"

namespace orv {

namespace {

// Reset, echo on (the dial's answer is told by its echo), factory settings,
// modulation detection, line-quality retrain, on-hook, auto-answer.
constexpr const char *kInitialisationScript[] = {
    "ATQ0", "ATE1", "AT&F", "ATE1", "ATN1", "AT%E1", "ATH0", "ATS0=1",
};
constexpr std::size_t kDialLineArea = 64;
constexpr char kDialPrefix[] = "ATD";
constexpr std::size_t kMaxPhoneNumber = kDialLineArea - 1 - (sizeof kDialPrefix - 1);  // 60

constexpr uint32_t kShortestDialWait = 10;
constexpr uint32_t kLongestDialWait = 60;
constexpr DWORD kSettleAfterDialMs = 1000;
constexpr std::time_t kHoldSeconds = 3;

uint32_t DialWaitFor(uint32_t requestedDialWait) {
    if (requestedDialWait >= kShortestDialWait && requestedDialWait <= kLongestDialWait)
        return requestedDialWait;
    return kShortestDialWait;
}

bool RunAtCommand(const char *text) {
    return SendAtCommand(linkState.portHandle, text) == 1 &&
           AwaitModemResponse(linkState.portHandle, text) == 1;
}

// Nothing uses the events after a failure; they go at once.
int32_t FailConnect() {
    ReleaseModemEvents();
    return 0;
}

}  // namespace

int32_t ModemConnect(const char *phoneNumber, uint32_t requestedDialWait) {
    if (phoneNumber == nullptr || strnlen(phoneNumber, kMaxPhoneNumber + 1) > kMaxPhoneNumber)
        return 0;
    linkState.dialWaitSeconds = DialWaitFor(requestedDialWait);
    if (!CreateModemEvents()) return FailConnect();

    for (const char *command : kInitialisationScript)
        if (!RunAtCommand(command)) return FailConnect();

    char dialLine[kDialLineArea];
    std::snprintf(dialLine, sizeof dialLine, "%s%s", kDialPrefix, phoneNumber);
    if (!RunAtCommand(dialLine)) return FailConnect();

    Sleep(kSettleAfterDialMs);
    linkState.connectedAt = std::time(nullptr);
    return 1;
}

void ModemRelease() {
    // A clock set back gives a negative difference: never hold more than 3 s.
    const std::time_t elapsed =
        std::clamp<std::time_t>(std::time(nullptr) - linkState.connectedAt, 0, kHoldSeconds);
    if (elapsed < kHoldSeconds) Sleep(static_cast<DWORD>((kHoldSeconds - elapsed) * 1000));
    ReleaseModemEvents();
}

}  // namespace orv
