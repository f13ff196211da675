// A Hayes modem on the master end of a pseudo-terminal: it echoes, answers
// AT command lines with verbose result codes, dials, and in data mode hands
// the line to whatever stands behind the call (the device simulator).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_line.h"

namespace orv::sim {

enum class DialOutcome {
    Connect,    // "CONNECT <speed>", then data mode
    Busy,       // "BUSY"
    NoCarrier,  // "NO CARRIER"
    Silent,     // nothing at all: the call never comes up
};

struct ModemOptions {
    // State at power-up and after ATZ / AT&F.
    bool echo = true;
    bool quiet = false;
    // Takes E1 with "OK" but never echoes: a modem whose echo stays off.
    bool neverEchoes = false;

    // Command lines (upper case, as sent, without CR) answered "ERROR".
    std::set<std::string> refused;
    // Answers nothing and echoes nothing.
    bool silent = false;
    // Command lines that get no result code (the echo still comes).
    std::set<std::string> silentFor;

    DialOutcome dialOutcome = DialOutcome::Connect;
    uint32_t connectSpeed = 9600;
    std::chrono::milliseconds dialDelay{50};

    // Time between a character's arrival and the first output about it (its
    // echo, or the answer to the line it ends): the line's and the modem's
    // own latency. Without it an answer could overtake the host's receive
    // purge that follows each command line.
    std::chrono::milliseconds latency{10};
    // Pause before every result code.
    std::chrono::milliseconds answerDelay{0};
    // Bytes of informational text sent before every result code.
    std::size_t bannerBytes = 0;
    // When above zero, a result code goes out in two writes split right
    // before its final CR LF, this far apart.
    std::chrono::milliseconds splitGap{0};
    // Verbose result codes begin with CR LF; some modems leave it out.
    bool crLfBeforeResult = true;

    // Data mode: takes the line once the call is up; when it returns the call
    // has ended and the modem takes commands again. Without one the call ends
    // at once.
    std::function<void(SimLine &)> dataMode;
};

struct ReceivedLine {
    std::string text;           // as received, without its CR
    Clock::time_point at;       // when its CR arrived
    Clock::time_point answered; // when its result code (if any) had been written
};

class ModemSimulator {
public:
    explicit ModemSimulator(ModemOptions options = {});
    ~ModemSimulator();
    ModemSimulator(const ModemSimulator &) = delete;
    ModemSimulator &operator=(const ModemSimulator &) = delete;

    // Serves `line` in a thread of its own until stop().
    void start(SimLine &line);
    // Stops the line and joins the thread. The line cannot be served again.
    void stop();
    // The blocking loop itself; returns when the line is stopped or gone.
    void serve(SimLine &line);

    // Changes the options for the lines that follow.
    void configure(const std::function<void(ModemOptions &)> &change);

    std::vector<ReceivedLine> lines() const;
    std::vector<std::string> lineTexts() const;
    // Waits until at least `count` lines have been received and answered.
    bool waitForLines(std::size_t count, std::chrono::milliseconds timeout) const;
    // Number of calls that have come up (data mode entered).
    int callsConnected() const;
    bool waitForCalls(int count, std::chrono::milliseconds timeout) const;

private:
    struct ModemState {
        bool echo;
        bool quiet;
        std::string pending;  // characters of the line being received
    };

    void serveCommands(SimLine &line, ModemState &state);
    void handleLine(SimLine &line, ModemState &state, const std::string &text,
                    Clock::time_point at);
    // Runs the commands of one line; returns the result code to send, or ""
    // for none. Sets dial when the line dials.
    std::string execute(ModemState &state, const std::string &upper, const ModemOptions &options,
                        bool &dial);
    void answer(SimLine &line, const ModemState &state, const std::string &result,
                const ModemOptions &options);
    void record(const std::string &text, Clock::time_point at, Clock::time_point answered);
    ModemOptions snapshot() const;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    ModemOptions options_;
    std::vector<ReceivedLine> lines_;
    std::vector<uint8_t> registers_ = std::vector<uint8_t>(100, 0);
    int calls_ = 0;

    SimLine *line_ = nullptr;
    std::thread thread_;
};

}  // namespace orv::sim
