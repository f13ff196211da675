#include "bench_env.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace orv::bench {

BenchEnv::BenchEnv() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "orvbench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    write();
}

BenchEnv::~BenchEnv() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void BenchEnv::mapPort(int port, const std::string &devicePath, const std::string &settings) {
    devices_[port] = devicePath;
    settings_[port] = settings;
    write();
}

void BenchEnv::write() const {
    const std::string profile = dir_ + "/profile.ini";
    {
        std::ofstream out(profile, std::ios::trunc);
        out << "[Ports]\n";
        for (const auto &[port, entry] : settings_) out << "COM" << port << ":=" << entry << "\n";
        out << "\n[Devices]\n";
        for (const auto &[port, path] : devices_) out << "COM" << port << "=" << path << "\n";
    }
    setenv("ORVLINK_PROFILE", profile.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
}

}  // namespace orv::bench
