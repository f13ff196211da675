// The simulators of the Wine tests, one per COM port, and the requests that
// the tests send about them (one line each, answered "ok ..." or "err ...").
//
//   pts P                     the pseudo-terminal behind port P
//   frames P FROM             the device's frames from index FROM on:
//                             "ok TOTAL" then tokens <h|d><C|W|A|R|B>:<hex>
//                             (h from the host, d from the device)
//   counters P                "ok wakeUpFrames wakeUpBursts commandFrames"
//   fault P ACTION TARGET [nth=N] [cmd=C] [times=N] [delay=MS] [status=S] [bytes=N]
//                             ACTION: noanswer late ackstatus wrongecho badchecksum
//                             short long morezero corruptblock; TARGET: ack reply block
//   clearfaults P             drops the device's pending faults
//   region P ARG / setregion P ARG HEX   the device's store
//   lines P FROM              the AT lines the modem received: "ok TOTAL" then tab-separated
//   dial P connect|silent|busy             how the modem answers the next dials
//   refuse P LINE|-           the one command line the modem answers with ERROR
//   calls P                   calls that have come up so far
//   endcall P                 ends the call in progress (the modem hangs up)
//   reset P                   no faults; the modem's defaults, no call
//   shim P FROM               the shim's log lines about P's pty from FROM on, tab-separated
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/device_sim.h"
#include "sim/modem_sim.h"
#include "sim/sim_line.h"

namespace orv::winehost {

class SimPorts {
public:
    explicit SimPorts(std::string shimLog);
    ~SimPorts();

    std::vector<int> numbers() const;
    const std::string &slavePath(int port) const;
    std::string handle(const std::string &request);
    void stop();

private:
    struct Port {
        sim::SimLine line;
        sim::DeviceSimulator device;
        std::unique_ptr<sim::ModemSimulator> modem;
        Port();
    };

    void startModem(Port &port);
    void endCall(Port &port);
    std::string deviceRequest(Port &port, const std::string &verb, std::vector<std::string> &args);
    std::string modemRequest(Port &port, const std::string &verb, std::vector<std::string> &args);
    std::string shimLines(Port &port, std::size_t from) const;

    std::string shimLog_;
    std::map<int, std::unique_ptr<Port>> ports_;
    std::atomic<bool> callActive_{false};
    std::atomic<bool> endCallRequested_{false};
};

}  // namespace orv::winehost
