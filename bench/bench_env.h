// A private profile for one benchmark run: COM ports mapped to the
// simulators' pseudo-terminals, and a runtime folder for the named events.
#pragma once

#include <map>
#include <string>

namespace orv::bench {

class BenchEnv {
public:
    BenchEnv();
    ~BenchEnv();
    BenchEnv(const BenchEnv &) = delete;
    BenchEnv &operator=(const BenchEnv &) = delete;

    // COM<port> on devicePath with the line settings entry (e.g. "9600,n,8,1").
    void mapPort(int port, const std::string &devicePath, const std::string &settings);

private:
    void write() const;

    std::string dir_;
    std::map<int, std::string> devices_;
    std::map<int, std::string> settings_;
};

}  // namespace orv::bench
