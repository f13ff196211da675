#include "sim_trace.h"

#include <cstdio>
#include <string>

namespace orv::ctl {

namespace {

const char *KindName(sim::FrameKind kind) {
    switch (kind) {
        case sim::FrameKind::Command: return "command";
        case sim::FrameKind::WakeUp: return "wake-up";
        case sim::FrameKind::Ack: return "ack";
        case sim::FrameKind::Reply: return "reply";
        case sim::FrameKind::DataBlock: return "data-block";
    }
    return "frame";
}

std::string HexBytes(const uint8_t *bytes, std::size_t count) {
    std::string text;
    char pair[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += pair;
    }
    return text;
}

}  // namespace

void SimTrace::poll(const sim::DeviceSimulator &device) {
    if (!enabled_) return;
    for (const sim::FrameRecord &record : device.frames()) {
        if (record.at <= lastFrame_) continue;
        lastFrame_ = record.at;
        const double seconds = std::chrono::duration<double>(record.at - start_).count();
        std::string hex = HexBytes(record.bytes.data(), record.bytes.size());
        // Long blocks are recorded by their head alone.
        if (record.bytes.size() < record.length) {
            const uint8_t checksum[2] = {static_cast<uint8_t>(record.checksum & 0xFF),
                                         static_cast<uint8_t>(record.checksum >> 8)};
            hex += " ... " + HexBytes(checksum, 2);
        }
        std::printf("%.6f %s %s %zu%s %s\n", seconds,
                    record.direction == sim::Direction::FromHost ? "host>device" : "device>host",
                    KindName(record.kind), record.length, record.accepted ? "" : " refused", hex.c_str());
    }
    std::fflush(stdout);
}

void SimTrace::poll(const sim::ModemSimulator &modem) {
    if (!enabled_) return;
    const std::vector<sim::ReceivedLine> lines = modem.lines();
    for (; linesPrinted_ < lines.size(); ++linesPrinted_) {
        const sim::ReceivedLine &line = lines[linesPrinted_];
        const double seconds = std::chrono::duration<double>(line.at - start_).count();
        std::printf("%.6f host>modem at-line %zu %s \"%s\"\n", seconds, line.text.size(),
                    HexBytes(reinterpret_cast<const uint8_t *>(line.text.data()), line.text.size()).c_str(),
                    line.text.c_str());
    }
    std::fflush(stdout);
}

}  // namespace orv::ctl
