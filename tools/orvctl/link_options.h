// The options every device command shares (--port, --modem, --dial-wait,
// --profile), and the open and close of the link they describe, with a
// one-line explanation when the open fails.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <string>

#include "port_facts.h"

namespace orv::ctl {

struct LinkOptions {
    int port = 0;
    std::string phone;
    uint32_t dialWait = 30;
    std::string profile;
    CLI::Option *modemOption = nullptr;

    bool viaModem() const { return modemOption != nullptr && modemOption->count() > 0; }
};

void AddLinkOptions(CLI::App &command, LinkOptions &options);

// Points the library at --profile when given; false (with the message
// printed) when that file cannot be read.
bool ApplyProfileOption(const std::string &profile);

// Opens the link, runs body on it and closes it. A failed open is explained
// on stderr; returns the exit code (body's own when the open succeeded).
int WithLink(const LinkOptions &options, const std::function<int(const PortFacts &)> &body);

// The stderr line for a failed open, and its exit code: 2 when the profile
// or the device file is at fault, 1 otherwise.
struct OpenVerdict {
    int exitCode = 1;
    std::string message;
};
OpenVerdict ExplainOpenFailure(const LinkOptions &options, const PortFacts &facts);

// The stderr line for a device call that got no valid answer; sofar tells
// how far a transfer got (" after 4096 of 8192 bytes").
std::string ExplainSilence(const std::string &call, const PortFacts &facts, bool viaModem,
                           const std::string &sofar = {});

}  // namespace orv::ctl
