// The device simulator's settings and faults as command-line options, shared
// by `sim device`, `sim modem` (for the device behind the call) and `demo`.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/device_faults.h"
#include "sim/device_sim.h"

namespace orv::ctl {

struct DeviceSimArguments {
    std::vector<std::string> faults;
    bool silent = false;
    double randomRate = 0;
    uint64_t seed = 1;
    std::string writeCommand = "0x21";
    std::string readCommand = "0x22";
};

// silentName: the flag that makes the device ignore every command
// ("--silent" for `sim device`, "--device-silent" where "--silent" is the modem's).
void AddDeviceSimOptions(CLI::App &command, DeviceSimArguments &args, const std::string &silentName);

sim::DeviceOptions MakeDeviceOptions(const DeviceSimArguments &args, uint32_t baud, bool trace);
void ApplyDeviceFaults(sim::DeviceSimulator &device, const DeviceSimArguments &args);

// ACTION[:TARGET][:N][,nth=K][,command=C][,block=I][,times=T|every], e.g.
// "no-answer:reply", "late-answer:ack:500,times=every", "hang-up:block,nth=3".
sim::Fault ParseFault(const std::string &spec);

}  // namespace orv::ctl
