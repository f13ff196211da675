// The modem's answer text and its end test: output fed in reads of up to
// 256 bytes, as the watcher takes it, compared after every read with a
// plain model of the 256-byte area (first three characters kept, the rest
// sliding, nothing taken in once a full text holds its answer).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "modem/response_text.h"

namespace {

using orv::ResponseText;

std::string_view UpToNul(const std::string &area) {
    return std::string_view(area.data(), area.find('\0') == std::string::npos ? area.size()
                                                                              : area.find('\0'));
}

bool PlainEndTest(std::string_view text) {
    if (text.find('\r') == std::string_view::npos) return false;
    if (text.find("OK") != std::string_view::npos) return true;
    const bool dial = text.size() >= 3 && (text[0] == 'A' || text[0] == 'a') &&
                      (text[1] == 'T' || text[1] == 't') && (text[2] == 'D' || text[2] == 'd');
    return dial && text.find("CONNECT") != std::string_view::npos;
}

void PlainAppend(std::string &area, std::span<const uint8_t> bytes) {
    for (uint8_t b : bytes) {
        if (area.size() < ResponseText::kMaxCharacters) {
            area.push_back(static_cast<char>(b));
            continue;
        }
        if (PlainEndTest(UpToNul(area))) return;
        area.erase(ResponseText::kKeptBeginning, 1);
        area.push_back(static_cast<char>(b));
    }
}

}  // namespace

// Input: reads, each a length byte and up to that many bytes of output.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    ResponseText text;
    std::string model;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t want = data[at++];
        const std::size_t take = want < size - at ? want : size - at;
        const std::span<const uint8_t> read(data + at, take);
        at += take;
        text.Append(read);
        PlainAppend(model, read);
        FUZZ_CHECK(text.Count() <= ResponseText::kMaxCharacters);
        FUZZ_CHECK(text.Count() == model.size());
        FUZZ_CHECK(text.Text() == UpToNul(model));
        FUZZ_CHECK(text.EndTestPasses() == PlainEndTest(UpToNul(model)));
    }
    return 0;
}
