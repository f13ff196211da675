// orvwine_simhost: the Linux side of the Windows tests under Wine. It serves
// the simulators on pseudo-terminals whose links Wine maps to COM ports:
//   COM1   the device simulator, on a direct cable
//   COM2   a Hayes modem, with the device simulator behind its calls
//   COM12  the device simulator again (a port that needs "\\.\COM12")
// and answers the tests' requests on a loopback TCP port (control_channel.h).
//
//   orvwine_simhost --dir DIR [--shim-log FILE]
// DIR gets the links com1, com2, com12 and the file control-port (written
// last: the host is ready once it exists). Runs until SIGTERM or SIGINT.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "control_channel.h"
#include "sim_ports.h"

namespace {

std::atomic<bool> stopRequested{false};

void OnSignal(int) { stopRequested.store(true); }

bool ParseArguments(int argc, char **argv, std::string &dir, std::string &shimLog) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--dir")
            dir = argv[i + 1];
        else if (option == "--shim-log")
            shimLog = argv[i + 1];
        else
            return false;
    }
    return !dir.empty() && argc % 2 == 1;
}

void Link(const std::string &target, const std::filesystem::path &link) {
    std::filesystem::remove(link);
    std::filesystem::create_symlink(target, link);
}

}  // namespace

int main(int argc, char **argv) {
    std::string dir;
    std::string shimLog;
    if (!ParseArguments(argc, argv, dir, shimLog)) {
        std::cerr << "usage: orvwine_simhost --dir DIR [--shim-log FILE]\n";
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    orv::winehost::SimPorts ports(shimLog);
    orv::winehost::ControlChannel channel;
    const std::filesystem::path base(dir);
    std::filesystem::create_directories(base);
    for (const int port : ports.numbers())
        Link(ports.slavePath(port), base / ("com" + std::to_string(port)));
    {
        const auto temporary = base / "control-port.new";
        std::ofstream(temporary) << channel.port() << "\n";
        std::filesystem::rename(temporary, base / "control-port");
    }
    std::cout << "ready " << channel.port() << std::endl;

    channel.serve([&](const std::string &request) { return ports.handle(request); }, stopRequested);
    ports.stop();
    return 0;
}
