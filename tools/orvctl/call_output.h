// How a device call's outcome is shown: one text line for people, or one
// JSON object for scripts (--json). Failures also go to stderr as one line.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orv::ctl {

struct CallOutcome {
    CallOutcome(std::string callName, int portNumber) : call(std::move(callName)), port(portNumber) {}

    std::string call;  // the export, e.g. "OrvSendCommand"
    int port = 0;
    bool ok = false;
    uint16_t flag = 0;
    uint32_t value = 0;
    bool hasAnswer = true;  // false for OrvDevicePowerON, which hands back nothing
    // Further numbers for the JSON object and the text line, in order.
    std::vector<std::pair<std::string, double>> figures;
    std::string error;  // the stderr line of a failure
};

// Prints the outcome on stdout (text or JSON) and the error line on stderr.
void PrintOutcome(const CallOutcome &outcome, bool json);

// Prints "orvctl: <line>" on stderr and returns code.
int Fail(int code, const std::string &line);

std::string JsonString(const std::string &text);
std::string Hex(uint32_t value, int digits);

}  // namespace orv::ctl
