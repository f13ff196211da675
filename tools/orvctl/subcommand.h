// How a subcommand of orvctl joins the command line: a file of its own defines
// one Subcommand object at namespace scope, which registers it before main.
#pragma once

#include <CLI/CLI.hpp>

#include <vector>

namespace orv::ctl {

// Exit codes shared by every subcommand.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// What a subcommand's callbacks report back to main.
struct RunResult {
    int exitCode = kExitDone;
};

using AddSubcommand = void (*)(CLI::App &app, RunResult &result);

class Subcommand {
public:
    explicit Subcommand(AddSubcommand add) { All().push_back(add); }
    static std::vector<AddSubcommand> &All() {
        static std::vector<AddSubcommand> all;
        return all;
    }
};

}  // namespace orv::ctl
