// orvctl signal NAME: sets a named event that another process of this user
// holds, e.g. "ReceiveFail" to end the dial it is waiting for.
#include <cstdio>
#include <string>

#include "platform/posix/named_events.h"
#include "subcommand.h"

namespace orv::ctl {

namespace {

// An event name is one file name in the user's event folder.
bool IsEventName(const std::string &name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string::npos;
}

void AddSignal(CLI::App &app, RunResult &result) {
    auto *command = app.add_subcommand("signal", "Set the named event NAME held by another process");
    auto name = std::make_shared<std::string>();
    command->add_option("NAME", *name, "Event name, e.g. ReceiveFail")->required();
    command->callback([name, &result] {
        if (!IsEventName(*name)) throw CLI::ValidationError("NAME", "not an event name: " + *name);
        switch (orv::win::SignalNamedEvent(name->c_str())) {
            case orv::win::SignalResult::Set:
                result.exitCode = kExitDone;
                return;
            case orv::win::SignalResult::NoHolder:
                std::fprintf(stderr, "orvctl: no process holds the event %s\n", name->c_str());
                break;
            case orv::win::SignalResult::Failed:
                std::fprintf(stderr, "orvctl: could not set the event %s\n", name->c_str());
                break;
        }
        result.exitCode = kExitFailed;
    });
}

const Subcommand signalCommand{AddSignal};

}  // namespace

}  // namespace orv::ctl
