// A direct link from the library to the device simulator over a fresh
// pseudo-terminal, opened through the exports as a host opens it.
#pragma once

#include <stdexcept>
#include <string>

#include "bench_env.h"
#include "orvlink.h"
#include "sim/device_sim.h"
#include "sim/sim_line.h"

namespace orv::bench {

constexpr int kDevicePort = 5;
constexpr int kModemPort = 6;

class DeviceLink {
public:
    DeviceLink(BenchEnv &env, const sim::DeviceOptions &options, uint32_t baud)
        : device(options) {
        env.mapPort(kDevicePort, line.slavePath(), std::to_string(baud) + ",n,8,1");
        device.start(line);
        if (OrvOpenComm(kDevicePort, 0, nullptr, 0) != 1)
            throw std::runtime_error("OrvOpenComm failed on " + line.slavePath());
    }
    ~DeviceLink() {
        OrvCloseComm();
        device.stop();
    }
    DeviceLink(const DeviceLink &) = delete;
    DeviceLink &operator=(const DeviceLink &) = delete;

    sim::SimLine line;
    sim::DeviceSimulator device;
};

}  // namespace orv::bench
