// orvctl: the library's command-line tool.
#include "subcommand.h"

int main(int argc, char **argv) {
    using namespace orv::ctl;
    CLI::App app{"orvctl: work with orvlink links, devices and modems"};
    app.require_subcommand(1);
    RunResult result;
    for (AddSubcommand add : Subcommand::All()) add(app, result);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        // --help is a parse "error" that succeeds; anything else is bad usage.
        return app.exit(error) == 0 ? kExitDone : kExitUsage;
    }
    return result.exitCode;
}
