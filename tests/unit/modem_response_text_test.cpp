// What the watcher collects for one command and how it tells the answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modem/response_text.h"

namespace {

using orv::ResponseText;

void Append(ResponseText &text, const std::string &piece) {
    text.Append(std::span(reinterpret_cast<const uint8_t *>(piece.data()), piece.size()));
}

struct EndCase {
    const char *name;
    std::vector<std::string> pieces;  // one per drain
    bool passes;
};

void PrintTo(const EndCase &c, std::ostream *os) { *os << c.name; }

class EndTest : public ::testing::TestWithParam<EndCase> {};

TEST_P(EndTest, JudgesTheCollectedText) {
    ResponseText text;
    for (const auto &piece : GetParam().pieces) Append(text, piece);
    EXPECT_EQ(text.EndTestPasses(), GetParam().passes) << text.Text();
}

INSTANTIATE_TEST_SUITE_P(
    Answers, EndTest,
    ::testing::Values(
        EndCase{"OkBehindTheEcho", {"ATQ0\r\r\nOK\r\n"}, true},
        EndCase{"OkWithoutAnyCr", {"OK"}, false},
        EndCase{"OkWhoseCrComesInALaterDrain", {"OK", "\r"}, true},
        EndCase{"OkSplitAcrossDrains", {"\r\nO", "K\r\n"}, true},
        EndCase{"OkInLowerCase", {"\r\nok\r\n"}, false},
        EndCase{"OkInMixedCase", {"\r\nOk\r\n"}, false},
        EndCase{"ErrorIsNotLookedFor", {"ATN1\r\r\nERROR\r\n"}, false},
        EndCase{"ConnectBehindTheDialEcho", {"ATD5551234\r", "\r\nCONNECT 9600\r\n"}, true},
        EndCase{"ConnectBehindALowerCaseDialEcho", {"atd5551234\r\r\nCONNECT\r\n"}, true},
        EndCase{"ConnectSplitAcrossDrains", {"ATD1\r\r\nCONN", "ECT 9600\r\n"}, true},
        EndCase{"ConnectWithoutTheEcho", {"\r\nCONNECT 9600\r\n"}, false},
        EndCase{"ConnectAfterAnotherCommand", {"ATH0\r\r\nCONNECT\r\n"}, false},
        EndCase{"OkEndsADialToo", {"ATD1\r\r\nOK\r\n"}, true},
        EndCase{"ANulEndsTheText", {std::string("\r\n\0OK\r\n", 7)}, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ResponseTextArea, NeverHoldsMoreThan255CharactersAndStaysTerminated) {
    ResponseText text;
    Append(text, std::string(1000, 'x'));
    EXPECT_EQ(text.Count(), 255u);
    EXPECT_EQ(text.Text().size(), 255u);
}

TEST(ResponseTextArea, SeesTheAnswerAtTheEndOfLongOutput) {
    ResponseText text;
    Append(text, "ATQ0\r");
    Append(text, std::string(400, 'i'));
    Append(text, "\r\nOK\r\n");
    EXPECT_TRUE(text.EndTestPasses());
    // Taken in up to the moment the answer was complete.
    EXPECT_EQ(text.Text().substr(text.Text().size() - 4), "\r\nOK");
}

TEST(ResponseTextArea, KeepsTheDialEchoBeginningThroughLongOutput) {
    ResponseText text;
    Append(text, "ATD5551234\r");
    Append(text, std::string(600, 'i'));
    Append(text, "\r\nCONNECT 9600\r\n");
    EXPECT_TRUE(text.EndTestPasses());
    EXPECT_EQ(text.Text().substr(0, 3), "ATD");
}

TEST(ResponseTextArea, KeepsAnAnswerThatLaterOutputWouldPushOut) {
    ResponseText text;
    Append(text, "ATQ0\r\r\nOK\r\n" + std::string(600, 'i'));
    EXPECT_TRUE(text.EndTestPasses());
}

TEST(ResponseTextArea, KeepsExactly255CharactersInArrivalOrder) {
    ResponseText text;
    std::string all;
    for (int i = 0; i < 255; ++i) all += static_cast<char>('a' + i % 26);
    Append(text, all.substr(0, 100));
    Append(text, all.substr(100));
    EXPECT_EQ(text.Text(), all);
}

}  // namespace
