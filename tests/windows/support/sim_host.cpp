#include "support/sim_host.h"

#include "../hex_text.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace orv::wintest {

namespace {

using hextext::FromHex;
using hextext::Hex;

class Channel {
public:
    Channel() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        const char *port = std::getenv("ORVWINE_CONTROL_PORT");
        if (port == nullptr) return;
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
        if (::connect(socket_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            closesocket(socket_);
            socket_ = INVALID_SOCKET;
        }
    }

    // The reply line, or "" when the host cannot be reached.
    std::string request(const std::string &line) {
        if (socket_ == INVALID_SOCKET) return "";
        const std::string out = line + "\n";
        if (::send(socket_, out.data(), static_cast<int>(out.size()), 0) != static_cast<int>(out.size()))
            return "";
        for (;;) {
            const auto end = pending_.find('\n');
            if (end != std::string::npos) {
                std::string reply = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return reply;
            }
            char buffer[65536];
            const int n = ::recv(socket_, buffer, sizeof buffer, 0);
            if (n <= 0) return "";
            pending_.append(buffer, static_cast<std::size_t>(n));
        }
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
    std::string pending_;  // received beyond the last reply line
};

// "TOTAL<sep>item<sep>item..." split into the total and the items.
std::vector<std::string> Items(const std::string &reply, char separator, std::size_t &total) {
    std::vector<std::string> items;
    std::string item;
    std::istringstream in(reply);
    std::getline(in, item, separator);
    total = item.empty() ? 0 : std::stoul(item);
    while (std::getline(in, item, separator))
        if (!item.empty()) items.push_back(item);
    return items;
}

std::string PortRequest(const char *verb, int port, const std::string &rest = "") {
    std::string request = std::string(verb) + " " + std::to_string(port);
    if (!rest.empty()) request += " " + rest;
    return Ask(request);
}

// The items of one of the host's recorded lists ("frames", "lines", "shim")
// from index `from` on, and the list's whole length.
std::vector<std::string> ListSince(const char *list, int port, std::size_t from, char separator) {
    std::size_t total = 0;
    return Items(PortRequest(list, port, std::to_string(from)), separator, total);
}

std::size_t ListLength(const char *list, int port, char separator) {
    std::size_t total = 0;
    Items(PortRequest(list, port, "999999999"), separator, total);  // past the end: the total alone
    return total;
}

}  // namespace

std::string Ask(const std::string &request) {
    static Channel channel;
    const std::string reply = channel.request(request);
    if (reply == "ok") return "";
    if (reply.rfind("ok ", 0) == 0) return reply.substr(3);
    ADD_FAILURE() << "simulator host: '" << request << "' got '" << reply
                  << "' (run through tests/windows/run_wine_tests.sh)";
    return "";
}

std::vector<SeenFrame> FramesSince(int port, std::size_t from) {
    std::vector<SeenFrame> frames;
    for (const std::string &item : ListSince("frames", port, from, ' ')) {
        SeenFrame frame;
        frame.fromHost = item[0] == 'h';
        frame.kind = item[1];
        frame.bytes = FromHex(item.substr(3));
        frames.push_back(frame);
    }
    return frames;
}

std::size_t FrameCount(int port) { return ListLength("frames", port, ' '); }

std::vector<std::vector<uint8_t>> HostFrames(const std::vector<SeenFrame> &frames, char kind) {
    std::vector<std::vector<uint8_t>> bytes;
    for (const SeenFrame &frame : frames)
        if (frame.fromHost && frame.kind == kind) bytes.push_back(frame.bytes);
    return bytes;
}

std::vector<std::string> AtLinesSince(int port, std::size_t from) {
    return ListSince("lines", port, from, '\t');
}

std::size_t AtLineCount(int port) { return ListLength("lines", port, '\t'); }

std::vector<std::string> ShimLinesSince(int port, std::size_t from) {
    return ListSince("shim", port, from, '\t');
}

std::size_t ShimLineCount(int port) { return ListLength("shim", port, '\t'); }

std::string LastShimLine(const std::vector<std::string> &lines, const std::string &prefix) {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->rfind(prefix, 0) == 0) return *it;
    return "";
}

std::vector<uint8_t> Region(int port, uint32_t argument) {
    return FromHex(PortRequest("region", port, std::to_string(argument)));
}

void SetRegion(int port, uint32_t argument, const std::vector<uint8_t> &bytes) {
    PortRequest("setregion", port, std::to_string(argument) + " " + Hex(bytes));
}

PortsEntry::PortsEntry(int port, const char *entry) : key_("COM" + std::to_string(port) + ":") {
    char old[256];
    GetProfileStringA("Ports", key_.c_str(), "\x01", old, sizeof old);
    hadOld_ = std::string(old) != "\x01";
    old_ = old;
    WriteProfileStringA("Ports", key_.c_str(), entry);
}

PortsEntry::~PortsEntry() {
    WriteProfileStringA("Ports", key_.c_str(), hadOld_ ? old_.c_str() : nullptr);
}

}  // namespace orv::wintest
