// The table the end-to-end benchmark prints: each measured figure next to
// the figure it is compared with.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orv::bench {

struct Row {
    std::string measure;
    std::string result;
    std::string comparedWith;
    std::string verdict;  // the gap to the compared figure, and whether it is met
};

inline std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// With its sign always shown.
inline std::string Signed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%+.*f", decimals, value);
    return text;
}

inline void PrintRows(const std::vector<Row> &rows) {
    for (const auto &r : rows)
        std::printf("%-46s %-24s %-36s %s\n", r.measure.c_str(), r.result.c_str(),
                    r.comparedWith.c_str(), r.verdict.c_str());
    std::fflush(stdout);
}

inline void PrintHeader() {
    PrintRows({{"Measure", "Result", "Compared with", "Gap"},
               {std::string(46, '-'), std::string(24, '-'), std::string(36, '-'),
                std::string(30, '-')}});
}

}  // namespace orv::bench
