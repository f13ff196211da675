// The pure frame functions: checksum, encoders and acceptance rules, in bytes
// per second over the sizes the protocol uses.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <numeric>
#include <vector>

#include "protocol/frame_format.h"

namespace {

constexpr uint8_t kCommand = 0x21;

std::vector<uint8_t> Payload(std::size_t n) {
    std::vector<uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), uint8_t{7});
    return bytes;
}

void SetBytes(benchmark::State &state, std::size_t perIteration) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * perIteration));
}

void BM_FrameChecksum(benchmark::State &state) {
    const auto bytes = Payload(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(orv::FrameChecksum(bytes));
    SetBytes(state, bytes.size());
}
BENCHMARK(BM_FrameChecksum)->Arg(10)->Arg(64)->Arg(1024)->Arg(10003);

void BM_EncodeCommandFrame(benchmark::State &state) {
    uint32_t argument = 0;
    for (auto _ : state) {
        auto frame = orv::EncodeCommandFrame(kCommand, 0, ++argument, 7, 1024);
        benchmark::DoNotOptimize(frame);
    }
    SetBytes(state, orv::kCommandFrameSize);
}
BENCHMARK(BM_EncodeCommandFrame);

void BM_EncodeDataBlock(benchmark::State &state) {
    const auto payload = Payload(static_cast<std::size_t>(state.range(0)));
    std::vector<uint8_t> block(payload.size() + orv::kDataBlockOverhead);
    for (auto _ : state) {
        benchmark::DoNotOptimize(orv::EncodeDataBlock(kCommand, payload, block));
        benchmark::ClobberMemory();
    }
    SetBytes(state, block.size());
}
BENCHMARK(BM_EncodeDataBlock)->Arg(64)->Arg(1024)->Arg(10003);

void BM_AcceptAckFrame(benchmark::State &state) {
    const auto ack = orv::EncodeAckFrame(kCommand, orv::kAckStatusOk);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ack);
        benchmark::DoNotOptimize(orv::AcceptAckFrame(kCommand, ack));
    }
    SetBytes(state, ack.size());
}
BENCHMARK(BM_AcceptAckFrame);

void BM_AcceptReplyFrame(benchmark::State &state) {
    const auto reply = orv::EncodeReplyFrame(kCommand, 1, 0x01020304);
    orv::ReplyFields fields;
    for (auto _ : state) {
        benchmark::DoNotOptimize(reply);
        benchmark::DoNotOptimize(orv::AcceptReplyFrame(kCommand, reply, fields));
    }
    SetBytes(state, reply.size());
}
BENCHMARK(BM_AcceptReplyFrame);

// Both stages, as a received block goes through them.
void BM_AcceptDataBlock(benchmark::State &state) {
    const auto payload = Payload(static_cast<std::size_t>(state.range(0)));
    std::vector<uint8_t> block(payload.size() + orv::kDataBlockOverhead);
    orv::EncodeDataBlock(kCommand, payload, block);
    const std::span<const uint8_t> received(block);
    const std::size_t n = payload.size();
    for (auto _ : state) {
        benchmark::DoNotOptimize(block.data());
        bool ok = orv::AcceptDataBlockHeader(kCommand, received, n) &&
                  orv::AcceptDataBlockChecksum(kCommand, received.subspan(3, n),
                                               orv::ReadLe16(&block[n + 3]));
        benchmark::DoNotOptimize(ok);
    }
    SetBytes(state, block.size());
}
BENCHMARK(BM_AcceptDataBlock)->Arg(64)->Arg(1024)->Arg(10003);

}  // namespace
