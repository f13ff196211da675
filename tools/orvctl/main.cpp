// orvctl: the library's command-line tool.
#include <cstdio>
#include <exception>
#include <string>

#include "subcommand.h"

namespace {

// "orvctl send" for the deepest subcommand given, for pointing at its --help.
std::string CommandName(CLI::App &app) {
    std::string name = "orvctl";
    CLI::App *current = &app;
    while (current != nullptr) {
        const auto given = current->get_subcommands();
        current = given.empty() ? nullptr : given.front();
        if (current != nullptr) name += " " + current->get_name();
    }
    return name;
}

}  // namespace

int main(int argc, char **argv) {
    using namespace orv::ctl;
    CLI::App app{"orvctl: work with orvlink links, devices and modems"};
    app.require_subcommand(1);
    RunResult result;
    for (AddSubcommand add : Subcommand::All()) add(app, result);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        // --help is a parse "error" that succeeds.
        if (error.get_exit_code() == 0) return app.exit(error);
        const std::string name = CommandName(app);
        std::fprintf(stderr, "orvctl: %s; see '%s --help'\n", error.what(), name.c_str());
        return kExitUsage;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "orvctl: %s\n", error.what());
        return kExitFailed;
    }
    return result.exitCode;
}
