// orvctl write and read: a file to or from the device. A read lands under a
// temporary name and takes the file's name only when the transfer succeeded.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "call_output.h"
#include "link_options.h"
#include "numbers.h"
#include "subcommand.h"
#include "transfer_run.h"

namespace orv::ctl {

namespace {

constexpr uint32_t kLargestChunk = 10003;

struct TransferArguments {
    LinkOptions link;
    std::string file, command, modifier, argument;
    uint32_t length = 0;
    uint32_t chunkSize = 4096;
    uint32_t timeoutMs = 1000;
    bool json = false;
};

CLI::App *AddTransferCommand(CLI::App &app, const std::string &name, const std::string &about,
                             TransferArguments &args) {
    auto *command = app.add_subcommand(name, about);
    command->add_option("FILE", args.file, "File to send or to create")->required();
    command->add_option("CMD", args.command, "Command byte of every chunk (decimal or 0x hex)")->required();
    command->add_option("MOD", args.modifier, "Modifier byte")->required();
    command->add_option("ARG", args.argument, "32-bit argument")->required();
    command->add_option("--chunk", args.chunkSize, "Chunk size in bytes (1 to 10003)")
        ->capture_default_str()
        ->check(CLI::Range(1u, kLargestChunk));
    command->add_option("--timeout", args.timeoutMs, "Reply time-out in ms")->capture_default_str();
    command->add_flag("--json", args.json, "Print one JSON object instead of text");
    AddLinkOptions(*command, args.link);
    return command;
}

TransferRequest RequestOf(const TransferArguments &args, TransferWay way, std::vector<uint8_t> &data) {
    TransferRequest request;
    request.way = way;
    request.buffer = data.data();
    request.length = static_cast<uint32_t>(data.size());
    request.command = ParseByte(args.command, "CMD");
    request.modifier = ParseByte(args.modifier, "MOD");
    request.argument = ParseWord(args.argument, "ARG");
    request.timeoutMs = args.timeoutMs;
    request.chunkSize = args.chunkSize;
    return request;
}

CallOutcome OutcomeOf(const TransferRequest &request, const TransferOutcome &done, int port) {
    CallOutcome outcome(CallName(request.way), port);
    outcome.ok = done.ok;
    outcome.flag = done.flag;
    outcome.value = done.value;
    outcome.figures = {{"bytes", done.dataBytes(request)}, {"seconds", done.seconds}};
    return outcome;
}

// Writes bytes to a new file beside path and renames it to path; false (the
// temporary file gone) when any step fails.
bool WriteWhole(const std::string &path, const std::vector<uint8_t> &bytes, uint32_t count) {
    std::string temporary = path + ".partial-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    size_t written = 0;
    while (written < count) {
        const ssize_t n = ::write(fd, bytes.data() + written, count - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    const bool ok = written == count && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

int RunWrite(const TransferArguments &args) {
    std::ifstream in(args.file, std::ios::binary);
    if (!in) return Fail(kExitUsage, "cannot read " + args.file + "; check the FILE argument");
    std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (data.size() > UINT32_MAX) return Fail(kExitUsage, args.file + " is larger than 4 GiB");
    const TransferRequest request = RequestOf(args, TransferWay::Write, data);
    return WithLink(args.link, [&](const PortFacts &facts) {
        ProgressBar bar("write", request.length, ProgressBar::StderrIsTerminal());
        const TransferOutcome done = RunTransfer(request, bar);
        CallOutcome outcome = OutcomeOf(request, done, args.link.port);
        if (!done.ok)
            outcome.error = ExplainSilence("OrvWriteData", facts, args.link.viaModem(), done.sofar(request.length));
        PrintOutcome(outcome, args.json);
        return done.ok ? kExitDone : kExitFailed;
    });
}

int RunRead(const TransferArguments &args) {
    std::vector<uint8_t> data(args.length);
    const TransferRequest request = RequestOf(args, TransferWay::Read, data);
    return WithLink(args.link, [&](const PortFacts &facts) {
        ProgressBar bar("read ", request.length, ProgressBar::StderrIsTerminal());
        const TransferOutcome done = RunTransfer(request, bar);
        CallOutcome outcome = OutcomeOf(request, done, args.link.port);
        if (!done.ok) {
            outcome.error = ExplainSilence("OrvReadData", facts, args.link.viaModem(), done.sofar(request.length)) +
                            "; " + args.file + " was not written";
        } else if (!WriteWhole(args.file, data, done.dataBytes(request))) {
            outcome.ok = false;
            outcome.error = "cannot write " + args.file + "; check the folder exists and is writable";
        }
        PrintOutcome(outcome, args.json);
        return outcome.ok ? kExitDone : kExitFailed;
    });
}

void AddWrite(CLI::App &app, RunResult &result) {
    auto args = std::make_shared<TransferArguments>();
    auto *command = AddTransferCommand(app, "write", "Send FILE to the device in chunks (OrvWriteData)", *args);
    command->callback([args, &result] { result.exitCode = RunWrite(*args); });
}

void AddRead(CLI::App &app, RunResult &result) {
    auto args = std::make_shared<TransferArguments>();
    auto *command = AddTransferCommand(app, "read", "Read --length bytes from the device into FILE (OrvReadData)", *args);
    command->add_option("--length", args->length, "Bytes to read")->required();
    command->callback([args, &result] { result.exitCode = RunRead(*args); });
}

const Subcommand write{AddWrite};
const Subcommand read{AddRead};

}  // namespace

}  // namespace orv::ctl
