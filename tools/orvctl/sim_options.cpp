#include "sim_options.h"

#include <map>
#include <sstream>

#include "numbers.h"

namespace orv::ctl {

namespace {

using sim::Fault;
using sim::FaultAction;
using sim::FaultTarget;

constexpr const char *kFaultHelp =
    "Scripted fault, repeatable: ACTION[:TARGET][:N][,nth=K][,command=C][,block=I][,times=T|every]; "
    "actions no-answer, late-answer (N ms), ack-status (N = status), wrong-echo, bad-checksum, "
    "short-frame (N bytes kept), long-frame (N bytes added), more-flag-zero, corrupt-block, hang-up; "
    "targets ack, reply, block";

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

[[noreturn]] void Refuse(const std::string &spec, const std::string &why) {
    throw CLI::ValidationError("--fault", "'" + spec + "': " + why);
}

FaultTarget TargetOf(const std::string &spec, const std::string &name) {
    if (name == "ack") return FaultTarget::Ack;
    if (name == "reply") return FaultTarget::Reply;
    if (name == "block") return FaultTarget::Block;
    Refuse(spec, "the target is ack, reply or block");
}

struct ActionShape {
    FaultAction action;
    bool target;  // takes a target
    bool number;  // takes N
};

const std::map<std::string, ActionShape> &Actions() {
    static const std::map<std::string, ActionShape> actions = {
        {"no-answer", {FaultAction::NoAnswer, true, false}},
        {"late-answer", {FaultAction::LateAnswer, true, true}},
        {"ack-status", {FaultAction::AckStatus, false, true}},
        {"wrong-echo", {FaultAction::WrongEcho, true, false}},
        {"bad-checksum", {FaultAction::BadChecksum, true, false}},
        {"short-frame", {FaultAction::ShortFrame, true, true}},
        {"long-frame", {FaultAction::LongFrame, true, true}},
        {"more-flag-zero", {FaultAction::MoreFlagZero, false, false}},
        {"corrupt-block", {FaultAction::CorruptBlock, false, false}},
        {"hang-up", {FaultAction::HangUp, true, false}},
    };
    return actions;
}

Fault ActionOf(const std::string &spec, const std::vector<std::string> &head) {
    const auto found = Actions().find(head[0]);
    if (found == Actions().end()) Refuse(spec, "unknown action " + head[0]);
    const ActionShape shape = found->second;
    const size_t wanted = 1 + (shape.target ? 1 : 0) + (shape.number ? 1 : 0);
    if (head.size() != wanted) Refuse(spec, head[0] + " takes " + std::to_string(wanted - 1) + " field(s)");
    Fault fault;
    fault.action = shape.action;
    fault.target = shape.target ? TargetOf(spec, head[1])
                 : shape.action == FaultAction::AckStatus ? FaultTarget::Ack
                 : shape.action == FaultAction::MoreFlagZero ? FaultTarget::Reply
                                                             : FaultTarget::Block;
    if (shape.number) {
        const uint64_t n = ParseNumber(head.back(), 0xFFFFFFFF, "--fault");
        fault.delay = std::chrono::milliseconds(n);
        fault.status = static_cast<uint8_t>(n);
        fault.bytes = n;
        if (shape.action == FaultAction::AckStatus && n > 0xFF) Refuse(spec, "a status is one byte");
    }
    return fault;
}

void ApplySelector(const std::string &spec, const std::string &item, Fault &fault) {
    const auto equals = item.find('=');
    if (equals == std::string::npos) Refuse(spec, "'" + item + "' is not key=value");
    const std::string key = item.substr(0, equals);
    const std::string value = item.substr(equals + 1);
    if (key == "nth") fault = fault.onNthCommand(ParseNumber(value, UINT64_MAX, "--fault nth"));
    else if (key == "command") fault = fault.onCommand(ParseByte(value, "--fault command"));
    else if (key == "block") fault = fault.atBlockIndex(static_cast<uint16_t>(ParseNumber(value, 0xFFFF, "--fault block")));
    else if (key == "times")
        fault = fault.times(value == "every" ? sim::FaultSelector::kEvery
                                             : static_cast<int>(ParseNumber(value, 1000000, "--fault times")));
    else Refuse(spec, "unknown selector " + key + " (nth, command, block, times)");
}

}  // namespace

Fault ParseFault(const std::string &spec) {
    const std::vector<std::string> items = Split(spec, ',');
    if (items.empty() || items[0].empty()) Refuse(spec, "no action");
    Fault fault = ActionOf(spec, Split(items[0], ':'));
    for (size_t i = 1; i < items.size(); ++i) ApplySelector(spec, items[i], fault);
    return fault;
}

void AddDeviceSimOptions(CLI::App &command, DeviceSimArguments &args, const std::string &silentName) {
    command.add_option("--fault", args.faults, kFaultHelp)->type_name("SPEC")->group("Device");
    command.add_flag(silentName, args.silent, "The device reads every command and never answers")->group("Device");
    command.add_option("--random-faults", args.randomRate, "Probability (0 to 1) that a frame the device sends is spoiled")
        ->check(CLI::Range(0.0, 1.0))
        ->group("Device");
    command.add_option("--seed", args.seed, "Seed of the random faults")->capture_default_str()->group("Device");
    command.add_option("--write-command", args.writeCommand, "Command byte of a write chunk")
        ->capture_default_str()
        ->group("Device");
    command.add_option("--read-command", args.readCommand, "Command byte of a read chunk")
        ->capture_default_str()
        ->group("Device");
}

sim::DeviceOptions MakeDeviceOptions(const DeviceSimArguments &args, uint32_t baud, bool trace) {
    sim::DeviceOptions options;
    options.writeCommand = ParseByte(args.writeCommand, "--write-command");
    options.readCommand = ParseByte(args.readCommand, "--read-command");
    options.baud = baud;
    // A long-running simulator keeps only what the trace still has to print.
    options.recordLimit = trace ? 4096 : 64;
    return options;
}

void ApplyDeviceFaults(sim::DeviceSimulator &device, const DeviceSimArguments &args) {
    for (const std::string &spec : args.faults) device.addFault(ParseFault(spec));
    if (args.silent) device.addFault(Fault::noAnswer(FaultTarget::Ack).times(sim::FaultSelector::kEvery));
    if (args.randomRate > 0) {
        sim::RandomFaults random;
        random.rate = args.randomRate;
        random.seed = args.seed;
        device.setRandomFaults(random);
    }
}

}  // namespace orv::ctl
