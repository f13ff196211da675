#include "support/test_env.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace orv::test {

TestEnv::TestEnv() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "orvlink-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    profilePath_ = dir_ + "/profile.ini";
    write();
}

TestEnv::~TestEnv() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void TestEnv::mapPort(int port, const std::string &devicePath) {
    devices_[port] = devicePath;
    write();
}

void TestEnv::setLineSettings(int port, const std::string &entry) {
    if (entry.empty())
        ports_.erase(port);
    else
        ports_[port] = entry;
    write();
}

void TestEnv::setExtra(const std::string &text) {
    extra_ = text;
    write();
}

void TestEnv::write() {
    {
        std::ofstream out(profilePath_, std::ios::trunc);
        out << "[Ports]\n";
        for (auto &[port, entry] : ports_) out << "COM" << port << ":=" << entry << "\n";
        out << "\n[Devices]\n";
        for (auto &[port, path] : devices_) out << "COM" << port << "=" << path << "\n";
        out << extra_;
    }
    setenv("ORVLINK_PROFILE", profilePath_.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
}

}  // namespace orv::test
