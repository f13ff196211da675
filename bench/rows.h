// The groups of rows of the end-to-end table.
#pragma once

#include <cstdint>
#include <vector>

#include "bench_env.h"
#include "floor.h"
#include "table.h"

namespace orv::bench {

struct Settings {
    int exchanges = 1000;          // OrvSendCommand latency samples
    uint32_t transferBytes = 1 << 20;
    uint32_t pacedChunks9600 = 2;  // chunks of 10003 bytes per paced transfer
    uint32_t pacedChunks38400 = 4;
};

std::vector<Row> FloorRows(const Floor &floor);
std::vector<Row> ExchangeRows(BenchEnv &env, const Floor &floor, const Settings &settings);
std::vector<Row> TransferRows(BenchEnv &env, const Floor &floor, const Settings &settings);
std::vector<Row> PacedRows(BenchEnv &env, const Settings &settings);
std::vector<Row> WaitRows(BenchEnv &env);

}  // namespace orv::bench
