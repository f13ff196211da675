// What the profile and the file system say about one COM port, judged as the
// library will judge them at an open: shared by `ports` and the messages that
// explain a failed open.
#pragma once

#include <cstdint>
#include <string>

namespace orv::ctl {

struct PortFacts {
    int port = 0;
    std::string profilePath;
    std::string devicePath;   // [Devices] COM<n>, else /dev/ttyS<n-1>
    bool mapped = false;      // devicePath came from [Devices]
    bool entryMissing = true; // no [Ports] COM<n>: entry
    std::string entryText;    // the entry as the library reads it (cut to 19 characters)
    std::string directProblem;  // why a direct open refuses the entry; empty when accepted
    std::string modemProblem;   // the same for a modem open (only the speed counts)
    std::string settings;       // the settings a direct open applies, e.g. "9600 8N1"
    std::string fileProblem;    // why the device file cannot be opened; empty when it looks fine

    std::string name() const { return "COM" + std::to_string(port); }
    // "COM4 (/dev/ttyUSB0)"
    std::string label() const { return name() + " (" + devicePath + ")"; }
    const std::string &entryProblem(bool viaModem) const {
        return viaModem ? modemProblem : directProblem;
    }
};

// Reads the profile afresh (ORVLINK_PROFILE and the rest, as the library).
PortFacts ReadPortFacts(int port);

// "does not exist", "no permission to read and write it", "is not a
// terminal device" or empty, from stat and access alone (nothing is opened).
std::string DeviceFileProblem(const std::string &path);

}  // namespace orv::ctl
