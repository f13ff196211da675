// orvctl demo: the library's main job end to end against the device
// simulator on a pseudo-terminal (optionally through the modem simulator),
// with a temporary profile, and a short report of each step.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "call_output.h"
#include "demo_steps.h"
#include "link/line_settings.h"
#include "orvlink.h"
#include "progress_bar.h"
#include "sim/device_sim.h"
#include "sim/modem_sim.h"
#include "sim/sim_line.h"
#include "subcommand.h"
#include "transfer_run.h"

namespace orv::ctl {

namespace {

constexpr int kDemoPort = 1;
constexpr char kPhone[] = "5550100";
constexpr uint8_t kWriteCommand = 0x21;
constexpr uint8_t kReadCommand = 0x22;
constexpr uint32_t kRegion = 1;

struct DemoArguments {
    bool modem = false;
    uint32_t baud = 0;
    uint32_t size = 0;   // 0: 1 MiB, or 16 KiB on a paced line
    uint32_t chunk = 0;  // 0: 4096, or 1024 on a paced line
};

// A folder of its own for the profile and the modem's named events.
class DemoEnvironment {
public:
    DemoEnvironment(const std::string &devicePath, uint32_t baud) {
        std::string folder = (std::filesystem::temp_directory_path() / "orvctl-demo-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
        folder_ = folder;
        const std::string profile = folder_ + "/profile.ini";
        std::ofstream(profile) << "[Ports]\nCOM" << kDemoPort << ":=" << (baud ? baud : 9600)
                               << ",n,8,1\n\n[Devices]\nCOM" << kDemoPort << "=" << devicePath << "\n";
        ::setenv("ORVLINK_PROFILE", profile.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
    }
    ~DemoEnvironment() {
        std::error_code error;
        std::filesystem::remove_all(folder_, error);
    }

private:
    std::string folder_;
};

std::vector<uint8_t> Pattern(uint32_t size) {
    std::vector<uint8_t> bytes(size);
    std::mt19937 random(20240611);
    for (auto &byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

// On a paced line the burst takes its time to arrive, and a device answers
// nothing until it has: a host waits for it before the first command.
StepResult Wake(uint32_t baud) {
    if (OrvDevicePowerON() != 1) return {false, "OrvDevicePowerON failed"};
    if (baud == 0) return {true, "wake-up burst sent"};
    constexpr uint32_t kBurstBits = 20 * 14 * 10;
    const auto crossing = std::chrono::milliseconds(kBurstBits * 1000 / baud + 20);
    std::this_thread::sleep_for(crossing);
    return {true, "wake-up burst sent, " + std::to_string(crossing.count()) + " ms for it to cross the line"};
}

StepResult Exchange(bool handshake, uint8_t command, uint32_t argument) {
    uint16_t flag = 0;
    uint32_t value = 0;
    const bool ok = (handshake ? OrvHandshake(command, 0, argument, &flag, &value)
                               : OrvSendCommand(command, 0, argument, &flag, &value, 1000)) == 1;
    if (!ok) return {false, "no valid answer from the device"};
    const std::string detail = "flag " + std::to_string(flag) + ", value " + Hex(value, 8);
    // The simulator answers a single command with its argument.
    if (value != argument) return {false, detail + ", expected " + Hex(argument, 8)};
    return {true, detail};
}

// A pseudo-terminal reports a block sent as soon as the kernel holds it, so
// on a paced line the reply time-out starts while the block is still on its
// way: it covers the block's time on the line too.
uint32_t ReplyTimeoutMs(uint32_t chunk, uint32_t baud) {
    if (baud == 0) return 1000;
    return 1000 + static_cast<uint32_t>(uint64_t{chunk + 5} * 10 * 1000 / baud);
}

StepResult Transfer(TransferWay way, std::vector<uint8_t> &data, uint32_t chunk, uint32_t baud) {
    TransferRequest request;
    request.way = way;
    request.buffer = data.data();
    request.length = static_cast<uint32_t>(data.size());
    request.command = way == TransferWay::Write ? kWriteCommand : kReadCommand;
    request.argument = kRegion;
    request.chunkSize = chunk;
    request.timeoutMs = ReplyTimeoutMs(chunk, baud);
    ProgressBar bar(way == TransferWay::Write ? "write" : "read ", request.length, ProgressBar::StderrIsTerminal());
    const TransferOutcome done = RunTransfer(request, bar);
    const double rate = done.seconds > 0 ? done.bytesDone / done.seconds : 0;
    if (!done.ok) return {false, "failed" + done.sofar(request.length)};
    return {true, Bytes(request.length) + " at " + Bytes(rate) + "/s", rate};
}

StepResult Compare(const std::vector<uint8_t> &sent, const std::vector<uint8_t> &back) {
    const auto mismatch = std::mismatch(sent.begin(), sent.end(), back.begin());
    if (mismatch.first == sent.end()) return {true, "identical"};
    return {false, "first difference at byte " + std::to_string(mismatch.first - sent.begin())};
}

std::string Describe(const DemoArguments &args, const std::string &path, uint32_t size, uint32_t chunk) {
    std::string text = "device simulator on " + path + " as COM" + std::to_string(kDemoPort) + ", ";
    text += args.modem ? std::string("through the modem simulator, dialling ") + kPhone : "direct cable";
    text += args.baud ? ", paced at " + std::to_string(args.baud) + " bit/s" : ", unpaced";
    return text + "; " + Bytes(size) + " in chunks of " + std::to_string(chunk);
}

int RunDemo(const DemoArguments &args) {
    const uint32_t size = args.size ? args.size : args.baud ? 16u << 10 : 1u << 20;
    const uint32_t chunk = args.chunk ? args.chunk : args.baud ? 1024 : 4096;
    sim::DeviceOptions deviceOptions;
    deviceOptions.baud = args.baud;
    deviceOptions.recordLimit = 64;
    sim::DeviceSimulator device(deviceOptions);
    sim::SimLine line;
    std::optional<sim::ModemSimulator> modem;
    if (args.modem) {
        sim::ModemOptions options;
        options.dataMode = [&device](sim::SimLine &dataLine) { device.serve(dataLine); };
        modem.emplace(std::move(options));
        if (args.baud) line.setPacing(args.baud);
        modem->start(line);
    } else {
        device.start(line);
    }
    DemoEnvironment environment(line.slavePath(), args.baud);
    std::printf("orvctl demo: %s\n", Describe(args, line.slavePath(), size, chunk).c_str());
    std::fflush(stdout);

    std::vector<uint8_t> sent = Pattern(size), back(size);
    DemoSteps steps;
    steps.run("open", [&]() -> StepResult {
        if (OrvOpenComm(kDemoPort, args.modem, args.modem ? kPhone : nullptr, 10) != 1)
            return {false, "OrvOpenComm failed"};
        return {true, args.modem ? "dialled and connected" : "line " + std::to_string(args.baud ? args.baud : 9600) + ",n,8,1"};
    });
    steps.run("wake", [&] { return Wake(args.baud); });
    steps.run("handshake", [] { return Exchange(true, 0x10, 1); });
    steps.run("command", [] { return Exchange(false, 0x11, 0x1234); });
    steps.run("write", [&] { return Transfer(TransferWay::Write, sent, chunk, args.baud); });
    steps.run("read", [&] { return Transfer(TransferWay::Read, back, chunk, args.baud); });
    steps.run("compare", [&] { return Compare(sent, back); });
    steps.always("close", [] { return StepResult{OrvCloseComm() == 1, "link closed"}; });
    if (modem) modem->stop();
    device.stop();
    steps.print(stdout);
    return steps.passed() ? kExitDone : kExitFailed;
}

void AddDemo(CLI::App &app, RunResult &result) {
    auto args = std::make_shared<DemoArguments>();
    auto *command = app.add_subcommand("demo", "Open, wake, command, write and read back 1 MiB against the built-in simulator");
    command->add_flag("--modem", args->modem, "Go through the modem simulator with a dial");
    std::vector<uint32_t> speeds(std::begin(kAcceptedSpeeds), std::end(kAcceptedSpeeds));
    command->add_option("--baud", args->baud, "Pace the line like a real one at N bit/s (1200 to 38400)")
        ->type_name("N")
        ->check(CLI::IsMember(speeds));
    command->add_option("--size", args->size, "Bytes to write and read back (default 1 MiB, 16 KiB with --baud)")
        ->type_name("BYTES")
        ->check(CLI::Range(1u, 64u << 20));
    command->add_option("--chunk", args->chunk, "Chunk size (default 4096, 1024 with --baud)")
        ->check(CLI::Range(1u, 10003u));
    command->callback([args, &result] { result.exitCode = RunDemo(*args); });
}

const Subcommand demoCommand{AddDemo};

}  // namespace

}  // namespace orv::ctl
