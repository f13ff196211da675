// orvctl wake, handshake and send: one device call each, on a link opened
// for it and closed after it.
#include <memory>
#include <string>

#include "call_output.h"
#include "link_options.h"
#include "numbers.h"
#include "orvlink.h"
#include "subcommand.h"

namespace orv::ctl {

namespace {

struct CallArguments {
    LinkOptions link;
    std::string command, modifier, argument;
    uint32_t timeoutMs = 1000;
    bool json = false;
};

CLI::App *AddDeviceCommand(CLI::App &app, const std::string &name, const std::string &about,
                           CallArguments &args, bool withFields) {
    auto *command = app.add_subcommand(name, about);
    if (withFields) {
        command->add_option("CMD", args.command, "Command byte (decimal or 0x hex)")->required();
        command->add_option("MOD", args.modifier, "Modifier byte")->required();
        command->add_option("ARG", args.argument, "32-bit argument")->required();
    }
    command->add_flag("--json", args.json, "Print one JSON object instead of text");
    AddLinkOptions(*command, args.link);
    return command;
}

void AddWake(CLI::App &app, RunResult &result) {
    auto args = std::make_shared<CallArguments>();
    auto *command = AddDeviceCommand(app, "wake", "Send the wake-up burst (OrvDevicePowerON)", *args, false);
    command->callback([args, &result] {
        result.exitCode = WithLink(args->link, [&](const PortFacts &) {
            CallOutcome outcome("OrvDevicePowerON", args->link.port);
            outcome.ok = OrvDevicePowerON() == 1;
            outcome.hasAnswer = false;
            PrintOutcome(outcome, args->json);
            return kExitDone;
        });
    });
}

// Handshake and send differ only in the call and its time-out.
void AddExchange(CLI::App &app, RunResult &result, bool handshake) {
    auto args = std::make_shared<CallArguments>();
    auto *command = handshake
        ? AddDeviceCommand(app, "handshake", "One quick exchange, one attempt (OrvHandshake)", *args, true)
        : AddDeviceCommand(app, "send", "One command exchange, up to three attempts (OrvSendCommand)", *args, true);
    if (!handshake)
        command->add_option("--timeout", args->timeoutMs, "Reply time-out in ms")->capture_default_str();
    command->callback([args, handshake, &result] {
        const uint8_t cmd = ParseByte(args->command, "CMD");
        const uint8_t mod = ParseByte(args->modifier, "MOD");
        const uint32_t arg = ParseWord(args->argument, "ARG");
        result.exitCode = WithLink(args->link, [&](const PortFacts &facts) {
            CallOutcome outcome(handshake ? "OrvHandshake" : "OrvSendCommand", args->link.port);
            outcome.ok = (handshake ? OrvHandshake(cmd, mod, arg, &outcome.flag, &outcome.value)
                                    : OrvSendCommand(cmd, mod, arg, &outcome.flag, &outcome.value,
                                                     args->timeoutMs)) == 1;
            if (!outcome.ok)
                outcome.error = ExplainSilence(outcome.call + "(" + Hex(cmd, 2) + ", " + Hex(mod, 2) +
                                                   ", " + std::to_string(arg) + ")",
                                               facts, args->link.viaModem());
            PrintOutcome(outcome, args->json);
            return outcome.ok ? kExitDone : kExitFailed;
        });
    });
}

void AddHandshake(CLI::App &app, RunResult &result) { AddExchange(app, result, true); }
void AddSend(CLI::App &app, RunResult &result) { AddExchange(app, result, false); }

const Subcommand wake{AddWake};
const Subcommand handshakeCommand{AddHandshake};
const Subcommand send{AddSend};

}  // namespace

}  // namespace orv::ctl
