// The data mode of `sim modem`: the call's bytes carried between the host's
// line and the device simulator's own line, until the host hangs up.
//
// A pseudo-terminal has no DTR for the host to drop, so a hang-up is seen
// otherwise: the host lets go of the port (its lock on the device file goes),
// or opens it afresh, which sets the line speed again (the relay marks the
// speed when the call comes up). The relay looks before it reads, so the
// first command line of a new session stays for the modem.
#pragma once

#include <string>

#include "sim/sim_line.h"

namespace orv::ctl {

class ModemRelay {
public:
    // device: the line the device simulator serves; hostPath: the modem's
    // pseudo-terminal, opened here before any host takes it exclusively.
    ModemRelay(sim::SimLine &device, const std::string &hostPath);
    ~ModemRelay();
    ModemRelay(const ModemRelay &) = delete;
    ModemRelay &operator=(const ModemRelay &) = delete;

    // Runs one call on the modem's line; returns when it has ended.
    void carry(sim::SimLine &host);

private:
    void markLine();
    bool callStands() const;
    bool toDevice(sim::SimLine &host);
    bool toHost(sim::SimLine &host);

    std::string hostPath_;
    int probeFd_ = -1;   // the modem's pseudo-terminal, for its line settings
    int deviceFd_ = -1;  // the host's end of the device simulator's line
};

}  // namespace orv::ctl
