#include "sim_ports.h"

#include "../hex_text.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace orv::winehost {

namespace {

using hextext::FromHex;
using hextext::Hex;

using namespace std::chrono_literals;

constexpr int kModemPort = 2;

char KindLetter(sim::FrameKind kind) {
    switch (kind) {
    case sim::FrameKind::Command: return 'C';
    case sim::FrameKind::WakeUp: return 'W';
    case sim::FrameKind::Ack: return 'A';
    case sim::FrameKind::Reply: return 'R';
    case sim::FrameKind::DataBlock: return 'B';
    }
    return '?';
}

sim::FaultTarget TargetNamed(const std::string &name) {
    if (name == "ack") return sim::FaultTarget::Ack;
    if (name == "reply") return sim::FaultTarget::Reply;
    if (name == "block") return sim::FaultTarget::Block;
    throw std::invalid_argument("target " + name);
}

sim::Fault FaultNamed(const std::string &action, sim::FaultTarget target,
                      const std::map<std::string, unsigned long> &values) {
    auto value = [&](const char *key) { return values.count(key) ? values.at(key) : 0ul; };
    using sim::Fault;
    if (action == "noanswer") return Fault::noAnswer(target);
    if (action == "late") return Fault::lateAnswer(target, std::chrono::milliseconds(value("delay")));
    if (action == "ackstatus") return Fault::ackStatus(static_cast<uint8_t>(value("status")));
    if (action == "wrongecho") return Fault::wrongEcho(target);
    if (action == "badchecksum") return Fault::badChecksum(target);
    if (action == "short") return Fault::shortFrame(target, value("bytes"));
    if (action == "long") return Fault::longFrame(target, value("bytes"));
    if (action == "morezero") return Fault::moreFlagZero();
    if (action == "corruptblock") return Fault::corruptBlock();
    throw std::invalid_argument("action " + action);
}

sim::Fault ParseFault(const std::vector<std::string> &args) {
    if (args.size() < 2) throw std::invalid_argument("fault needs ACTION TARGET");
    std::map<std::string, unsigned long> values;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const auto equals = args[i].find('=');
        if (equals == std::string::npos) throw std::invalid_argument(args[i]);
        values[args[i].substr(0, equals)] = std::stoul(args[i].substr(equals + 1), nullptr, 0);
    }
    sim::Fault fault = FaultNamed(args[0], TargetNamed(args[1]), values);
    if (values.count("nth")) fault = fault.onNthCommand(values["nth"]);
    if (values.count("cmd")) fault = fault.onCommand(static_cast<uint8_t>(values["cmd"]));
    if (values.count("times")) fault = fault.times(static_cast<int>(values["times"]));
    return fault;
}

std::vector<std::string> Split(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

std::size_t Index(const std::vector<std::string> &args, std::size_t i) {
    return i < args.size() ? std::stoul(args[i]) : 0;
}

sim::DeviceOptions HostDeviceOptions() {
    sim::DeviceOptions options;
    options.recordBlockBytes = sim::DeviceOptions{}.maxRegionBytes;  // whole blocks
    return options;
}

}  // namespace

SimPorts::Port::Port() : device(HostDeviceOptions()) {}

SimPorts::SimPorts(std::string shimLog) : shimLog_(std::move(shimLog)) {
    for (const int number : {1, kModemPort, 12}) ports_[number] = std::make_unique<Port>();
    ports_[1]->device.start(ports_[1]->line);
    ports_[12]->device.start(ports_[12]->line);
    startModem(*ports_[kModemPort]);
}

SimPorts::~SimPorts() { stop(); }

void SimPorts::startModem(Port &port) {
    port.modem = std::make_unique<sim::ModemSimulator>();
    port.modem->configure([this, &port](sim::ModemOptions &options) {
        options.dataMode = [this, &port](sim::SimLine &line) {
            callActive_.store(true);
            port.device.serve(line, [this] { return !endCallRequested_.load(); });
            endCallRequested_.store(false);
            callActive_.store(false);
        };
    });
    port.modem->start(port.line);
}

void SimPorts::endCall(Port &) {
    if (!callActive_.load()) return;
    endCallRequested_.store(true);
    // The data mode looks at the request at least every 50 ms.
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (callActive_.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
}

void SimPorts::stop() {
    for (auto &[number, port] : ports_) {
        if (port->modem) port->modem->stop();
        port->device.stop();
    }
}

std::vector<int> SimPorts::numbers() const {
    std::vector<int> numbers;
    for (const auto &entry : ports_) numbers.push_back(entry.first);
    return numbers;
}

const std::string &SimPorts::slavePath(int port) const { return ports_.at(port)->line.slavePath(); }

std::string SimPorts::handle(const std::string &request) {
    try {
        std::vector<std::string> args = Split(request);
        if (args.size() < 2) return "err usage";
        const std::string verb = args[0];
        Port &port = *ports_.at(std::stoi(args[1]));
        args.erase(args.begin(), args.begin() + 2);
        if (verb == "pts") return "ok " + port.line.slavePath();
        if (verb == "shim") return shimLines(port, Index(args, 0));
        if (port.modem && (verb == "lines" || verb == "dial" || verb == "refuse" || verb == "calls" ||
                           verb == "endcall" || verb == "reset")) {
            return modemRequest(port, verb, args);
        }
        return deviceRequest(port, verb, args);
    } catch (const std::exception &error) {
        return std::string("err ") + error.what();
    }
}

std::string SimPorts::deviceRequest(Port &port, const std::string &verb,
                                    std::vector<std::string> &args) {
    sim::DeviceSimulator &device = port.device;
    if (verb == "frames") {
        const auto frames = device.frames();
        std::string reply = "ok " + std::to_string(frames.size());
        for (std::size_t i = Index(args, 0); i < frames.size(); ++i) {
            reply += ' ';
            reply += frames[i].direction == sim::Direction::FromHost ? 'h' : 'd';
            reply += KindLetter(frames[i].kind);
            reply += ':' + Hex(frames[i].bytes);
        }
        return reply;
    }
    if (verb == "counters") {
        const auto counters = device.counters();
        return "ok " + std::to_string(counters.wakeUpFrames) + " " +
               std::to_string(counters.wakeUpBursts) + " " + std::to_string(counters.commandFrames);
    }
    if (verb == "fault") {
        device.addFault(ParseFault(args));
        return "ok";
    }
    if (verb == "clearfaults" || verb == "reset") {
        device.clearFaults();
        return "ok";
    }
    if (verb == "region") return "ok " + Hex(device.region(static_cast<uint32_t>(Index(args, 0))));
    if (verb == "setregion" && args.size() == 2) {
        device.setRegion(static_cast<uint32_t>(Index(args, 0)), FromHex(args[1]));
        return "ok";
    }
    return "err unknown request " + verb;
}

std::string SimPorts::modemRequest(Port &port, const std::string &verb,
                                   std::vector<std::string> &args) {
    sim::ModemSimulator &modem = *port.modem;
    if (verb == "lines") {
        const auto lines = modem.lineTexts();
        std::string reply = "ok " + std::to_string(lines.size());
        for (std::size_t i = Index(args, 0); i < lines.size(); ++i) reply += '\t' + lines[i];
        return reply;
    }
    if (verb == "dial" && args.size() == 1) {
        static const std::map<std::string, sim::DialOutcome> kOutcomes = {
            {"connect", sim::DialOutcome::Connect},
            {"silent", sim::DialOutcome::Silent},
            {"busy", sim::DialOutcome::Busy}};
        const sim::DialOutcome outcome = kOutcomes.at(args[0]);
        modem.configure([outcome](sim::ModemOptions &options) { options.dialOutcome = outcome; });
        return "ok";
    }
    if (verb == "refuse" && args.size() == 1) {
        const std::string line = args[0];
        modem.configure([line](sim::ModemOptions &options) {
            options.refused.clear();
            if (line != "-") options.refused.insert(line);
        });
        return "ok";
    }
    if (verb == "calls") return "ok " + std::to_string(modem.callsConnected());
    if (verb == "endcall") {
        endCall(port);
        return "ok";
    }
    // reset
    endCall(port);
    port.device.clearFaults();
    modem.configure([](sim::ModemOptions &options) {
        options.dialOutcome = sim::DialOutcome::Connect;
        options.refused.clear();
    });
    return "ok";
}

std::string SimPorts::shimLines(Port &port, std::size_t from) const {
    std::ifstream log(shimLog_);
    const std::string prefix = port.line.slavePath() + " ";
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);)
        if (line.rfind(prefix, 0) == 0) lines.push_back(line.substr(prefix.size()));
    std::string reply = "ok " + std::to_string(lines.size());
    for (std::size_t i = from; i < lines.size(); ++i) reply += '\t' + lines[i];
    return reply;
}

}  // namespace orv::winehost
