#include "sim/modem_sim.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <span>

namespace orv::sim {

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kBackspace = 0x08;
constexpr auto kReadSlice = std::chrono::milliseconds(100);

std::string Normalised(const std::string &text) {
    std::string upper;
    for (char c : text) {
        if (c == ' ') continue;
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

// Reads the decimal number at text[i], advancing i; `fallback` when there is none.
unsigned ReadNumber(const std::string &text, std::size_t &i, unsigned fallback = 0) {
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return fallback;
    unsigned value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        value = value * 10 + static_cast<unsigned>(text[i++] - '0');
    return value;
}

// Informational text as modems print it, in lower case so that it never
// reads as a result code.
std::string Banner(std::size_t bytes) {
    static const std::string line = "orvsim modem, firmware 1.0, line information text\r\n";
    std::string text;
    while (text.size() < bytes) text += line;
    text.resize(bytes);
    return text;
}

bool Write(SimLine &line, const std::string &text) {
    return line.writeAll(std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size()));
}

}  // namespace

ModemSimulator::ModemSimulator(ModemOptions options) : options_(std::move(options)) {}

ModemSimulator::~ModemSimulator() { stop(); }

void ModemSimulator::start(SimLine &line) {
    line_ = &line;
    thread_ = std::thread([this, &line] { serve(line); });
}

void ModemSimulator::stop() {
    if (line_ != nullptr) line_->stop();
    if (thread_.joinable()) thread_.join();
}

void ModemSimulator::configure(const std::function<void(ModemOptions &)> &change) {
    std::lock_guard lock(mutex_);
    change(options_);
}

ModemOptions ModemSimulator::snapshot() const {
    std::lock_guard lock(mutex_);
    return options_;
}

std::vector<ReceivedLine> ModemSimulator::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::vector<std::string> ModemSimulator::lineTexts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const auto &line : lines_) texts.push_back(line.text);
    return texts;
}

bool ModemSimulator::waitForLines(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return lines_.size() >= count; });
}

int ModemSimulator::callsConnected() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

bool ModemSimulator::waitForCalls(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return calls_ >= count; });
}

void ModemSimulator::record(const std::string &text, Clock::time_point at,
                            Clock::time_point answered) {
    {
        std::lock_guard lock(mutex_);
        lines_.push_back({text, at, answered});
    }
    changed_.notify_all();
}

void ModemSimulator::serve(SimLine &line) {
    const ModemOptions options = snapshot();
    ModemState state{options.echo, options.quiet, {}};
    while (!line.stopped() && !line.hungUp()) serveCommands(line, state);
}

// Takes what has arrived, echoes it (one latency after its arrival) and
// runs every line that a CR completes.
void ModemSimulator::serveCommands(SimLine &line, ModemState &state) {
    uint8_t buf[512];
    const long n = line.readSome(buf, Clock::now() + kReadSlice);
    if (n <= 0) return;
    const auto arrived = Clock::now();
    const ModemOptions options = snapshot();
    bool delayed = false;
    std::string echo;
    for (long i = 0; i < n; ++i) {
        const uint8_t c = buf[i];
        if (state.echo && !options.silent && !options.neverEchoes) echo += static_cast<char>(c);
        if (c != kCr) {
            if (c == kBackspace) {
                if (!state.pending.empty()) state.pending.pop_back();
            } else if (c != kLf) {
                state.pending += static_cast<char>(c);
            }
            continue;
        }
        if (!delayed && !line.sleepUntil(arrived + options.latency)) return;
        delayed = true;
        if (!echo.empty()) {
            Write(line, echo);
            echo.clear();
        }
        std::string text;
        text.swap(state.pending);
        handleLine(line, state, text, arrived);
        if (line.stopped()) return;
    }
    if (!echo.empty()) {
        if (!delayed && !line.sleepUntil(arrived + options.latency)) return;
        Write(line, echo);
    }
}

void ModemSimulator::handleLine(SimLine &line, ModemState &state, const std::string &text,
                                Clock::time_point at) {
    const ModemOptions options = snapshot();
    const std::string upper = Normalised(text);
    // Like a real modem, anything that does not begin with AT is ignored.
    if (options.silent || upper.rfind("AT", 0) != 0) {
        record(text, at, {});
        return;
    }
    bool dial = false;
    std::string result = options.refused.count(upper) ? "ERROR" : execute(state, upper, options, dial);
    if (result == "ERROR") dial = false;
    const bool withheld = options.silentFor.count(upper) != 0;
    if (dial) {
        record(text, at, {});
        if (!line.sleepUntil(Clock::now() + options.dialDelay)) return;
        switch (options.dialOutcome) {
            case DialOutcome::Connect: result = "CONNECT " + std::to_string(options.connectSpeed); break;
            case DialOutcome::Busy: result = "BUSY"; break;
            case DialOutcome::NoCarrier: result = "NO CARRIER"; break;
            case DialOutcome::Silent: return;
        }
        if (!withheld) answer(line, state, result, options);
        {
            std::lock_guard lock(mutex_);
            lines_.back().answered = Clock::now();
        }
        changed_.notify_all();
        if (options.dialOutcome != DialOutcome::Connect) return;
        {
            std::lock_guard lock(mutex_);
            ++calls_;
        }
        changed_.notify_all();
        if (options.dataMode) options.dataMode(line);
        state.pending.clear();
        return;
    }
    if (withheld) result.clear();
    if (!result.empty()) answer(line, state, result, options);
    record(text, at, result.empty() ? Clock::time_point{} : Clock::now());
}

std::string ModemSimulator::execute(ModemState &state, const std::string &upper,
                                    const ModemOptions &options, bool &dial) {
    std::size_t i = 2;  // behind "AT"
    std::string info;
    while (i < upper.size()) {
        const char c = upper[i++];
        switch (c) {
            case 'E': case 'Q': case 'V': {
                const unsigned v = ReadNumber(upper, i);
                if (v > 1 || (c == 'V' && v == 0)) return "ERROR";  // verbose codes only
                if (c == 'E') state.echo = v != 0;
                if (c == 'Q') state.quiet = v != 0;
                break;
            }
            case 'Z':
                ReadNumber(upper, i);
                state.echo = options.echo;
                state.quiet = options.quiet;
                break;
            case '&':
                if (i >= upper.size()) return "ERROR";
                if (upper[i] == 'F') {
                    state.echo = options.echo;
                    state.quiet = options.quiet;
                } else if (!std::strchr("CDKW", upper[i])) {
                    return "ERROR";
                }
                ++i;
                ReadNumber(upper, i);
                break;
            case '%':
                if (i >= upper.size() || upper[i] != 'E') return "ERROR";
                ++i;
                ReadNumber(upper, i);
                break;
            case 'N': case 'H': case 'L': case 'M': case 'X':
                if (ReadNumber(upper, i) > 7) return "ERROR";
                break;
            case 'S': {
                const unsigned reg = ReadNumber(upper, i, 1000);
                if (reg >= registers_.size() || i >= upper.size()) return "ERROR";
                if (upper[i] == '?') {
                    ++i;
                    info += std::to_string(registers_[reg]) + "\r\n";
                } else if (upper[i] == '=') {
                    ++i;
                    const unsigned v = ReadNumber(upper, i);
                    if (v > 255) return "ERROR";
                    registers_[reg] = static_cast<uint8_t>(v);
                } else {
                    return "ERROR";
                }
                break;
            }
            case 'D':
                dial = true;
                i = upper.size();  // the rest of the line is the number
                break;
            default:
                return "ERROR";
        }
    }
    if (!info.empty()) return info + "\r\nOK";
    return "OK";
}

void ModemSimulator::answer(SimLine &line, const ModemState &state, const std::string &result,
                            const ModemOptions &options) {
    if (state.quiet) return;
    if (options.answerDelay.count() > 0 && !line.sleepUntil(Clock::now() + options.answerDelay))
        return;
    if (options.bannerBytes > 0 && !Write(line, Banner(options.bannerBytes))) return;
    const std::string code = (options.crLfBeforeResult ? "\r\n" : "") + result;
    if (options.splitGap.count() > 0) {
        if (!Write(line, code)) return;
        if (!line.sleepUntil(Clock::now() + options.splitGap)) return;
        Write(line, "\r\n");
        return;
    }
    Write(line, code + "\r\n");
}

}  // namespace orv::sim
