// orvctl sim device and orvctl sim modem: the simulators as programs on a new
// pseudo-terminal, for host applications to be tested without hardware.
#include <cctype>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "modem_relay.h"
#include "sim/device_sim.h"
#include "sim/modem_sim.h"
#include "sim/sim_line.h"
#include "sim_options.h"
#include "sim_program.h"
#include "sim_trace.h"
#include "subcommand.h"

namespace orv::ctl {

namespace {

struct SimArguments {
    std::string link;
    uint32_t baud = 0;
    bool trace = false;
    DeviceSimArguments device;
};

struct ModemArguments {
    SimArguments common;
    uint32_t dialDelayMs = 50;
    sim::DialOutcome dialOutcome = sim::DialOutcome::Connect;
    uint32_t connectSpeed = 9600;
    bool silent = false;
    bool noEcho = false;
    std::vector<std::string> refused;
    uint32_t latencyMs = 10;
};

void AddCommonOptions(CLI::App &command, SimArguments &args) {
    command.add_option("--link", args.link, "Keep a symlink to the pseudo-terminal at PATH while running")
        ->type_name("PATH");
    command.add_option("--baud", args.baud, "Pace the line as one at N bit/s (0: as fast as it goes)")
        ->type_name("N")
        ->check(CLI::Range(0u, 4000000u));
    command.add_flag("--trace", args.trace, "Print every frame or AT line seen, as hex with timestamps");
}

int RunDevice(const SimArguments &args) {
    const sim::DeviceOptions options = MakeDeviceOptions(args.device, args.baud, args.trace);
    SimProgram program;
    sim::SimLine line;
    sim::DeviceSimulator device(options);
    ApplyDeviceFaults(device, args.device);
    if (!program.publish(line.slavePath(), args.link)) return kExitUsage;
    SimTrace trace(args.trace);
    device.start(line);
    program.waitForSignal(args.trace ? std::function<void()>([&] { trace.poll(device); })
                                     : std::function<void()>());
    device.stop();
    trace.poll(device);
    return kExitDone;
}

// The device simulator serves a line of its own; during a call the relay
// carries the bytes between it and the modem's line.
int RunModem(const ModemArguments &args) {
    sim::DeviceOptions deviceOptions = MakeDeviceOptions(args.common.device, 0, args.common.trace);
    if (args.common.baud != 0)  // a block trickles in at the modem's pace
        deviceOptions.blockTimeout += std::chrono::milliseconds(uint64_t{10008} * 10 * 1000 / args.common.baud);
    SimProgram program;
    sim::SimLine line;
    sim::SimLine deviceLine;
    sim::DeviceSimulator device(deviceOptions);
    ApplyDeviceFaults(device, args.common.device);
    ModemRelay relay(deviceLine, line.slavePath());
    sim::ModemOptions options;
    options.dialDelay = std::chrono::milliseconds(args.dialDelayMs);
    options.dialOutcome = args.dialOutcome;
    options.connectSpeed = args.connectSpeed;
    options.silent = args.silent;
    options.neverEchoes = args.noEcho;
    // The modem compares command lines in capitals.
    for (std::string refused : args.refused) {
        for (char &c : refused) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        options.refused.insert(refused);
    }
    options.latency = std::chrono::milliseconds(args.latencyMs);
    options.dataMode = [&relay](sim::SimLine &callLine) { relay.carry(callLine); };
    sim::ModemSimulator modem(std::move(options));
    if (args.common.baud != 0) line.setPacing(args.common.baud);
    if (!program.publish(line.slavePath(), args.common.link)) return kExitUsage;
    SimTrace modemTrace(args.common.trace);
    SimTrace deviceTrace(args.common.trace);
    device.start(deviceLine);
    modem.start(line);
    auto poll = [&] {
        modemTrace.poll(modem);
        deviceTrace.poll(device);
    };
    program.waitForSignal(args.common.trace ? std::function<void()>(poll) : std::function<void()>());
    modem.stop();
    device.stop();
    poll();
    return kExitDone;
}

void AddSim(CLI::App &app, RunResult &result) {
    auto *sim = app.add_subcommand("sim", "Run a simulator on a new pseudo-terminal until SIGINT or SIGTERM");
    sim->require_subcommand(1);

    auto deviceArgs = std::make_shared<SimArguments>();
    auto *device = sim->add_subcommand(
        "device", "The device: prints its pseudo-terminal's path as the first line, then serves it");
    AddCommonOptions(*device, *deviceArgs);
    AddDeviceSimOptions(*device, deviceArgs->device, "--silent");
    device->callback([deviceArgs, &result] { result.exitCode = RunDevice(*deviceArgs); });

    auto modemArgs = std::make_shared<ModemArguments>();
    auto *modem = sim->add_subcommand(
        "modem", "A Hayes modem whose calls reach the device simulator; prints its path first");
    AddCommonOptions(*modem, modemArgs->common);
    modem->add_option("--dial-delay", modemArgs->dialDelayMs, "Milliseconds from the dial to its answer")
        ->type_name("MS")
        ->capture_default_str();
    modem->add_option("--dial-outcome", modemArgs->dialOutcome, "Answer to a dial: connect, busy, no-carrier or silent")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, sim::DialOutcome>{{"connect", sim::DialOutcome::Connect},
                                                    {"busy", sim::DialOutcome::Busy},
                                                    {"no-carrier", sim::DialOutcome::NoCarrier},
                                                    {"silent", sim::DialOutcome::Silent}}));
    modem->add_option("--connect-speed", modemArgs->connectSpeed, "Speed told in CONNECT")->capture_default_str();
    modem->add_flag("--silent", modemArgs->silent, "The modem answers nothing and echoes nothing");
    modem->add_flag("--no-echo", modemArgs->noEcho, "The modem takes E1 but never echoes");
    modem->add_option("--refuse", modemArgs->refused, "Answer ERROR to this command line (repeatable), e.g. AT%E1")
        ->type_name("LINE");
    modem->add_option("--latency", modemArgs->latencyMs, "Milliseconds before the modem's echo or answer")
        ->type_name("MS")
        ->capture_default_str();
    AddDeviceSimOptions(*modem, modemArgs->common.device, "--device-silent");
    modem->callback([modemArgs, &result] { result.exitCode = RunModem(*modemArgs); });
}

const Subcommand simCommand{AddSim};

}  // namespace

}  // namespace orv::ctl
