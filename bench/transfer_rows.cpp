// OrvWriteData / OrvReadData: throughput over a bare pty, and the payload
// throughput of a paced line against the framing's own limit n / (n + 35).
#include <numeric>
#include <string>
#include <vector>

#include "bench_link.h"
#include "protocol/frame_format.h"
#include "rows.h"

namespace orv::bench {

namespace {

constexpr uint8_t kWriteCommand = 0x21;  // the simulator's defaults
constexpr uint8_t kReadCommand = 0x22;
constexpr uint32_t kWriteRegion = 1;
constexpr uint32_t kReadRegion = 2;
constexpr uint32_t kFullChunk = 10003;
constexpr double kFramingBytes = 35;  // CommandFrame, AckFrame, ReplyFrame, DataBlock framing
constexpr double kAllowedShortfallPercent = 1.0;
constexpr int kFloorSamples = 300;

std::vector<uint8_t> Pattern(uint32_t n) {
    std::vector<uint8_t> bytes(n);
    for (uint32_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
    return bytes;
}

struct Timed {
    bool ok = false;
    double seconds = 0;
    double callerCpuMs = 0;  // the library's share: the calling thread alone
};

// Writes the bytes to the write region and checks that the device holds them.
Timed TimeWrite(DeviceLink &link, const std::vector<uint8_t> &bytes, uint32_t chunk,
                uint32_t replyTimeoutMs) {
    uint16_t more = 0;
    uint32_t value = 0;
    const double cpu = ThreadCpuMs();
    const auto start = Clock::now();
    const int32_t r = OrvWriteData(bytes.data(), static_cast<uint32_t>(bytes.size()),
                                   kWriteCommand, 0, kWriteRegion, &more, &value,
                                   replyTimeoutMs, chunk);
    const double s = MsBetween(start, Clock::now()) / 1000;
    return {r == 1 && link.device.region(kWriteRegion) == bytes, s, ThreadCpuMs() - cpu};
}

// Reads the read region back and checks the bytes.
Timed TimeRead(DeviceLink &link, const std::vector<uint8_t> &bytes, uint32_t chunk,
               uint32_t replyTimeoutMs) {
    link.device.setRegion(kReadRegion, bytes);
    std::vector<uint8_t> got(bytes.size());
    uint16_t more = 0;
    uint32_t value = 0;
    const double cpu = ThreadCpuMs();
    const auto start = Clock::now();
    const int32_t r = OrvReadData(got.data(), static_cast<uint32_t>(got.size()), kReadCommand, 0,
                                  kReadRegion, &more, &value, replyTimeoutMs, chunk);
    const double s = MsBetween(start, Clock::now()) / 1000;
    return {r == 1 && got == bytes, s, ThreadCpuMs() - cpu};
}

uint32_t ChunksOf(uint32_t bytes, uint32_t chunk) { return (bytes + chunk - 1) / chunk; }

std::string MiBps(uint32_t bytes, double seconds) {
    return Fixed(bytes / seconds / (1 << 20), 3) + " MiB/s (" + Fixed(seconds, 2) + " s)";
}

Row UnpacedRow(const char *what, const Timed &t, uint32_t bytes, uint32_t chunk,
               double floorPerChunkMs) {
    const uint32_t chunks = ChunksOf(bytes, chunk);
    const double floorS = chunks * floorPerChunkMs / 1000;
    Row row{std::string(what) + " " + std::to_string(bytes >> 10) + " KiB, chunk " +
                std::to_string(chunk),
            t.ok ? MiBps(bytes, t.seconds) : "FAILED",
            "floor " + Fixed(bytes / floorS / (1 << 20), 3) + " MiB/s (" + Fixed(floorPerChunkMs, 3) +
                " ms/chunk)",
            ""};
    if (t.ok)
        row.verdict = Signed((t.seconds - floorS) / chunks * 1000, 3) + " ms/chunk; caller CPU " +
                      Fixed(t.callerCpuMs / chunks * 1000, 0) + " us/chunk";
    return row;
}

Row PacedRow(const char *what, const Timed &t, uint32_t baud, uint32_t chunks) {
    const double n = kFullChunk;
    const double limit = n / (n + kFramingBytes);
    const uint32_t bytes = chunks * kFullChunk;
    Row row{std::string(what) + " at " + std::to_string(baud) + ", " + std::to_string(chunks) +
                " x 10003 B",
            "", "n/(n+35) = " + Fixed(limit, 5), ""};
    if (!t.ok) {
        row.result = "FAILED";
        return row;
    }
    const double fraction = bytes / t.seconds / (baud / 10.0);
    const double shortfall = (limit - fraction) / limit * 100;
    row.result = Fixed(fraction, 5) + " of line (" + Fixed(t.seconds, 2) + " s)";
    row.verdict = Signed(-shortfall, 2) + " % " +
                  (shortfall <= kAllowedShortfallPercent ? "(within 1 %: met)" : "(within 1 %: NOT met)") +
                  "; caller CPU " + Fixed(t.callerCpuMs / t.seconds, 2) + " ms/s";
    return row;
}

// Long enough for a whole block and its reply on the paced line, with room.
uint32_t PacedReplyTimeoutMs(uint32_t baud) {
    const double blockMs = (kFullChunk + kDataBlockOverhead + kReplyFrameSize) * 10 * 1000.0 / baud;
    return static_cast<uint32_t>(blockMs * 1.5) + 2000;
}

}  // namespace

std::vector<Row> TransferRows(BenchEnv &env, const Floor &floor, const Settings &settings) {
    DeviceLink link(env, sim::DeviceOptions{}, 9600);
    const auto bytes = Pattern(settings.transferBytes);
    std::vector<Row> rows;
    for (uint32_t chunk : {64u, 1024u, kFullChunk}) {
        const double writeFloor = ChunkFloorMs(floor, true, chunk, kFloorSamples);
        rows.push_back(UnpacedRow("OrvWriteData", TimeWrite(link, bytes, chunk, 500),
                                  settings.transferBytes, chunk, writeFloor));
        PrintRows({rows.back()});
        const double readFloor = ChunkFloorMs(floor, false, chunk, kFloorSamples);
        rows.push_back(UnpacedRow("OrvReadData", TimeRead(link, bytes, chunk, 500),
                                  settings.transferBytes, chunk, readFloor));
        PrintRows({rows.back()});
    }
    return rows;
}

std::vector<Row> PacedRows(BenchEnv &env, const Settings &settings) {
    std::vector<Row> rows;
    for (auto [baud, chunks] : {std::pair{9600u, settings.pacedChunks9600},
                                std::pair{38400u, settings.pacedChunks38400}}) {
        sim::DeviceOptions options;
        options.baud = baud;
        DeviceLink link(env, options, baud);
        const auto bytes = Pattern(chunks * kFullChunk);
        const uint32_t replyMs = PacedReplyTimeoutMs(baud);
        rows.push_back(PacedRow("OrvWriteData paced", TimeWrite(link, bytes, kFullChunk, replyMs),
                                baud, chunks));
        PrintRows({rows.back()});
        rows.push_back(PacedRow("OrvReadData paced", TimeRead(link, bytes, kFullChunk, replyMs),
                                baud, chunks));
        PrintRows({rows.back()});
    }
    return rows;
}

}  // namespace orv::bench
