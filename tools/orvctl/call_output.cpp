#include "call_output.h"

#include <cmath>
#include <cstdio>

namespace orv::ctl {

namespace {

std::string Number(double value) {
    char text[64];
    if (std::floor(value) == value && std::fabs(value) < 1e15)
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string JsonObject(const CallOutcome &outcome) {
    std::string json = "{\"call\":" + JsonString(outcome.call) +
                       ",\"port\":" + std::to_string(outcome.port) +
                       ",\"result\":" + (outcome.ok ? "1" : "0");
    if (outcome.ok && outcome.hasAnswer)
        json += ",\"flag\":" + std::to_string(outcome.flag) +
                ",\"value\":" + std::to_string(outcome.value);
    for (const auto &[name, value] : outcome.figures) {
        json += ',';
        json += JsonString(name);
        json += ':';
        json += Number(value);
    }
    if (!outcome.ok) json += ",\"error\":" + JsonString(outcome.error);
    return json + "}";
}

std::string TextLine(const CallOutcome &outcome) {
    std::string line = std::string("result ") + (outcome.ok ? "1" : "0");
    if (outcome.ok && outcome.hasAnswer)
        line += "  flag " + std::to_string(outcome.flag) + "  value " +
                std::to_string(outcome.value) + " (" + Hex(outcome.value, 8) + ")";
    for (const auto &[name, value] : outcome.figures) line += "  " + name + " " + Number(value);
    return line;
}

}  // namespace

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

int Fail(int code, const std::string &line) {
    std::fprintf(stderr, "orvctl: %s\n", line.c_str());
    return code;
}

void PrintOutcome(const CallOutcome &outcome, bool json) {
    const std::string line = json ? JsonObject(outcome) : TextLine(outcome);
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
    if (!outcome.ok) Fail(1, outcome.error);
}

}  // namespace orv::ctl
