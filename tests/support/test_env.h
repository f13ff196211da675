// A private corner of the file system for one test: a profile that maps COM
// ports to pseudo-terminals, and a runtime folder for the named events.
#pragma once

#include <map>
#include <string>

namespace orv::test {

class TestEnv {
public:
    TestEnv();
    ~TestEnv();
    TestEnv(const TestEnv &) = delete;
    TestEnv &operator=(const TestEnv &) = delete;

    const std::string &dir() const { return dir_; }
    const std::string &profilePath() const { return profilePath_; }

    // [Devices] COM<port>=devicePath
    void mapPort(int port, const std::string &devicePath);
    // [Ports] COM<port>:=entry; an empty entry removes it.
    void setLineSettings(int port, const std::string &entry);
    // Lines appended verbatim (for malformed profiles).
    void setExtra(const std::string &text);
    // Writes the profile and points ORVLINK_PROFILE and XDG_RUNTIME_DIR here.
    void write();

private:
    std::string dir_;
    std::string profilePath_;
    std::map<int, std::string> devices_;
    std::map<int, std::string> ports_;
    std::string extra_;
};

}  // namespace orv::test
