#include "platform/posix/test_seam.h"

#ifdef ORVLINK_TEST_SEAM

#include <algorithm>
#include <mutex>
#include <utility>

namespace orv::win::seam {

namespace {

struct State {
    std::mutex mutex;
    Faults faults;
    bool haveTermios = false;
    termios lastTermios{};
    std::vector<DWORD> modemLines;
};

State &TheState() {
    static State *state = new State;
    return *state;
}

}  // namespace

void Inject(const Faults &faults) {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults = faults;
}

void Reset() {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults = Faults{};
    s.haveTermios = false;
    s.lastTermios = termios{};
    s.modemLines.clear();
}

bool LastTermios(termios *out) {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.haveTermios && out) *out = s.lastTermios;
    return s.haveTermios;
}

std::vector<DWORD> ModemLineLog() {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.modemLines;
}

bool RefuseCommTimeouts() {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.faults.refuseCommTimeouts;
}

std::size_t CapWrite(std::size_t n) {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.faults.writeCap == 0 ? n : std::min(n, s.faults.writeCap);
}

bool FailCreateThread() {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.faults.failCreateThread;
}

bool FailCreateEvent() {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.faults.failCreateEvent;
}

std::vector<uint8_t> TakeRawInput() {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    return std::exchange(s.faults.rawInput, {});
}

void RecordTermios(const termios &asked) {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.lastTermios = asked;
    s.haveTermios = true;
}

void RecordModemLine(DWORD function) {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.modemLines.push_back(function);
}

}  // namespace orv::win::seam

#endif
