// --trace of the simulators: every frame and AT line they see, one line each
// on stdout, as hex with the seconds since the simulator started.
#pragma once

#include <cstddef>

#include "sim/device_sim.h"
#include "sim/modem_sim.h"

namespace orv::ctl {

class SimTrace {
public:
    explicit SimTrace(bool enabled) : enabled_(enabled) {}

    // Prints what has been recorded since the last call.
    void poll(const sim::DeviceSimulator &device);
    void poll(const sim::ModemSimulator &modem);

private:
    bool enabled_;
    sim::Clock::time_point start_ = sim::Clock::now();
    sim::Clock::time_point lastFrame_{};
    std::size_t linesPrinted_ = 0;
};

}  // namespace orv::ctl
