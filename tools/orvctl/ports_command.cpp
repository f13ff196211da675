// orvctl ports: the profile in use, and for each COM port it names the device
// file and line settings as the library will read them at an open; entries
// the library would refuse are flagged (and make the exit code 2).
#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "call_output.h"
#include "link_options.h"
#include "platform/posix/profile_ini.h"
#include "port_facts.h"
#include "subcommand.h"

namespace orv::ctl {

namespace {

std::string Trimmed(const std::string &text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string Lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The port number of a key "COM<n>" (with a colon in [Ports]), or 0.
int PortOfKey(const std::string &key, bool withColon) {
    std::string name = Lower(key);
    if (withColon) {
        if (name.empty() || name.back() != ':') return 0;
        name.pop_back();
    }
    if (name.size() < 4 || name.size() > 6 || name.rfind("com", 0) != 0 || name[3] == '0') return 0;
    for (size_t i = 3; i < name.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    return std::stoi(name.substr(3));
}

// Every port named in [Ports] or [Devices], and the keys there that name none.
void CollectPorts(const std::string &profile, std::set<int> &ports, std::set<std::string> &strays) {
    std::istringstream in(profile);
    std::string section, sectionName;
    for (std::string line; std::getline(in, line);) {
        line = Trimmed(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            sectionName = Trimmed(line.substr(1, line.size() - 2));
            section = Lower(sectionName);
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos || (section != "ports" && section != "devices")) continue;
        const std::string key = Trimmed(line.substr(0, equals));
        const int port = PortOfKey(key, section == "ports");
        if (port >= 1 && port <= 999)
            ports.insert(port);
        else
            strays.insert("[" + sectionName + "] " + key);
    }
}

std::string EntryColumn(const PortFacts &facts) {
    return facts.entryMissing ? "(no entry)" : facts.entryText;
}

std::string Verdict(const PortFacts &facts) {
    if (!facts.directProblem.empty() && !facts.modemProblem.empty())
        return "REFUSED: " + facts.directProblem;
    if (!facts.directProblem.empty())
        return "REFUSED for a direct link (" + facts.directProblem + "); a modem link runs at " +
               std::to_string(std::stoi(facts.entryText)) + " 8N1";
    std::string verdict = facts.settings;
    if (!facts.fileProblem.empty()) verdict += "; device file " + facts.fileProblem;
    return verdict;
}

int RunPorts(const std::string &profileOption) {
    if (!ApplyProfileOption(profileOption)) return kExitUsage;
    const std::string path = win::ProfilePath();
    const bool readable = static_cast<bool>(std::ifstream(path));
    std::printf("profile: %s%s\n", path.c_str(), readable ? "" : " (no such file: every entry is missing)");
    std::set<int> ports;
    std::set<std::string> strays;
    CollectPorts(win::ReadProfileText(), ports, strays);
    bool refused = false;
    for (int port : ports) {
        const PortFacts facts = ReadPortFacts(port);
        refused = refused || !facts.directProblem.empty();
        std::printf("%-7s %-22s %-20s %s\n", facts.name().c_str(), facts.devicePath.c_str(),
                    EntryColumn(facts).c_str(), Verdict(facts).c_str());
    }
    for (const std::string &stray : strays)
        std::printf("ignored: %s names no port from COM1 to COM999\n", stray.c_str());
    if (ports.empty())
        std::printf("no ports configured: COM<n> is /dev/ttyS<n-1> at 9600 8N1\n");
    std::fflush(stdout);
    if (refused) return Fail(kExitUsage, "a [Ports] entry in " + path + " would be refused at an open; see REFUSED above");
    return kExitDone;
}

void AddPorts(CLI::App &app, RunResult &result) {
    auto profile = std::make_shared<std::string>();
    auto *command = app.add_subcommand("ports", "Show the profile in use and each configured port as the library reads it");
    command->add_option("--profile", *profile, "Profile file to show instead of the one in force")->type_name("FILE");
    command->callback([profile, &result] { result.exitCode = RunPorts(*profile); });
}

const Subcommand portsCommand{AddPorts};

}  // namespace

}  // namespace orv::ctl
