// The end-to-end benchmark: every row measured over pseudo-terminals against
// the simulators in this process, printed as it completes and then as one
// table. Options: --only=latency,transfer,paced,wait  --exchanges=N
// --bytes=N  --paced-chunks-9600=N  --paced-chunks-38400=N
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "rows.h"

namespace {

using namespace orv::bench;

struct Options {
    Settings settings;
    std::set<std::string> only;
    bool wants(const std::string &group) const { return only.empty() || only.count(group); }
};

bool TakeNumber(const char *arg, const char *name, auto &out) {
    const std::size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
    out = static_cast<std::remove_reference_t<decltype(out)>>(std::strtoul(arg + n + 1, nullptr, 10));
    return true;
}

Options Parse(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strncmp(a, "--only=", 7) == 0) {
            std::string list = a + 7;
            for (std::size_t at = 0; at <= list.size();) {
                std::size_t comma = list.find(',', at);
                if (comma == std::string::npos) comma = list.size();
                o.only.insert(list.substr(at, comma - at));
                at = comma + 1;
            }
        } else if (!TakeNumber(a, "--exchanges", o.settings.exchanges) &&
                   !TakeNumber(a, "--bytes", o.settings.transferBytes) &&
                   !TakeNumber(a, "--paced-chunks-9600", o.settings.pacedChunks9600) &&
                   !TakeNumber(a, "--paced-chunks-38400", o.settings.pacedChunks38400)) {
            std::fprintf(stderr, "unknown option %s\n", a);
            std::exit(2);
        }
    }
    return o;
}

void Append(std::vector<Row> &all, const std::vector<Row> &rows) {
    all.insert(all.end(), rows.begin(), rows.end());
}

}  // namespace

int main(int argc, char **argv) {
    const Options o = Parse(argc, argv);
    BenchEnv env;
    std::printf("orvlink end-to-end benchmark: pseudo-terminals, simulators in this process\n");
    std::printf("paced transfers: %u x 10003 B at 9600 bit/s, %u x 10003 B at 38400 bit/s, 8N1\n\n",
                o.settings.pacedChunks9600, o.settings.pacedChunks38400);
    PrintHeader();
    const Floor floor = MeasureFloor(o.settings.exchanges);
    std::vector<Row> all = FloorRows(floor);
    PrintRows(all);
    if (o.wants("latency")) {
        Append(all, ExchangeRows(env, floor, o.settings));
        PrintRows({all.end() - 2, all.end()});
    }
    if (o.wants("transfer")) Append(all, TransferRows(env, floor, o.settings));
    if (o.wants("paced")) Append(all, PacedRows(env, o.settings));
    if (o.wants("wait")) Append(all, WaitRows(env));
    std::printf("\nThe table:\n\n");
    PrintHeader();
    PrintRows(all);
    std::printf(
        "\nExchange floor: two Sleep(1) plus the bare pty ping; the device answers during the\n"
        "second pause, so the median may fall below it. Transfer floor: the chunk's pauses plus\n"
        "bare pty round trips of its frames; transfer gaps are means and carry the machine's\n"
        "scheduling tail (compare the exchange p99 and mean).\n");
    return 0;
}
