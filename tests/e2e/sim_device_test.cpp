// The device simulator driven from the host's end of a pseudo-terminal with
// plain POSIX calls, as a host would drive a real device.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/frame_format.h"
#include "sim/device_sim.h"

namespace orv::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// ---- frames as the host builds and expects them -------------------------------

Bytes Command(uint8_t command, uint32_t argument, uint16_t blockIndex = 0xFFFF,
              uint16_t blockLength = 0, uint8_t modifier = 0) {
    auto f = EncodeCommandFrame(command, modifier, argument, blockIndex, blockLength);
    return {f.begin(), f.end()};
}
Bytes Ack(uint8_t command, uint8_t status = kAckStatusOk) {
    auto f = EncodeAckFrame(command, status);
    return {f.begin(), f.end()};
}
Bytes Reply(uint8_t command, uint8_t moreFlag, uint32_t value) {
    auto f = EncodeReplyFrame(command, moreFlag, value);
    return {f.begin(), f.end()};
}
Bytes Block(uint8_t command, const Bytes &payload) {
    Bytes b(payload.size() + kDataBlockOverhead);
    EncodeDataBlock(command, payload, b);
    return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes First(const Bytes &b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }
Bytes Pattern(std::size_t n, uint8_t seed = 1) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return b;
}
Bytes WakeUp() { return {WakeUpFrame.begin(), WakeUpFrame.end()}; }

// ---- the host's end of the line ------------------------------------------------

class HostPort {
public:
    explicit HostPort(const std::string &path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error("cannot open " + path);
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~HostPort() { ::close(fd_); }
    int fd() const { return fd_; }

    void write(const Bytes &bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else if (n < 0 && errno != EINTR) {
                throw std::runtime_error("host write failed");
            }
        }
    }

    // Up to n bytes, returning early only at the deadline or when the line ends.
    Bytes read(std::size_t n, Clock::duration within = 3s) {
        const auto deadline = Clock::now() + within;
        Bytes out;
        uint8_t buf[4096];
        while (out.size() < n) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            ssize_t got = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
            if (got > 0) out.insert(out.end(), buf, buf + got);
            else if (got == 0 || (errno != EAGAIN && errno != EINTR)) break;
        }
        return out;
    }

private:
    int fd_ = -1;
};

// A simulator serving a fresh line, and the host's end of it.
struct Rig {
    explicit Rig(DeviceOptions options = {}) : sim(options) {
        sim.start(line);
        host = std::make_unique<HostPort>(line.slavePath());
    }
    ~Rig() {
        host.reset();
        sim.stop();
    }
    // One exchange: what the host sends, and the count of bytes it then reads.
    Bytes exchange(const Bytes &out, std::size_t expect, Clock::duration within = 3s) {
        host->write(out);
        return host->read(expect, within);
    }
    // Nothing else was sent: the next bytes on the line answer a new command.
    void expectQuietUntilNextCommand() {
        const Bytes next = exchange(Command(0x3C, 0xA5A5A5A5), 16);
        EXPECT_EQ(next, Cat({Ack(0x3C), Reply(0x3C, 0, 0xA5A5A5A5)})) << "stray bytes before the answer";
    }

    SimLine line;
    DeviceSimulator sim;
    std::unique_ptr<HostPort> host;
};

// ---- the command map ----------------------------------------------------------

TEST(DeviceSimulator, SingleCommandIsAckedThenRepliedWithItsArgument) {
    Rig rig;
    // The literal bytes of one exchange, as the device sends them.
    EXPECT_EQ(rig.exchange(Command(0x10, 5), 16),
              (Bytes{0x5A, 0xA5, 0x10, 0x03, 0x00, 0x00, 0xAA, 0x55, 0x10, 0x00, 0x05, 0x00, 0x00,
                     0x00, 0x14, 0x01}));

    struct Case {
        uint8_t command;
        uint32_t argument;
        uint16_t blockIndex;
    } cases[] = {{0x01, 0, 0}, {0x10, 0xDEADBEEF, 0xFFFF}, {0x21, 7, 0}, {0x22, 0x01000000, 0xFFFF}};
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.command));
        const Bytes answer = rig.exchange(Command(c.command, c.argument, c.blockIndex, 0), 16);
        ASSERT_EQ(answer.size(), 16u);
        EXPECT_TRUE(AcceptAckFrame(c.command, First(answer, 6)));
        ReplyFields fields;
        ASSERT_TRUE(AcceptReplyFrame(c.command, std::span(answer).subspan(6), fields));
        EXPECT_EQ(fields.moreFlag, 0);
        EXPECT_EQ(fields.value, c.argument);
    }
    rig.expectQuietUntilNextCommand();
    EXPECT_TRUE(rig.sim.waitForExchanges(1 + std::size(cases) + 1, 3s));
    EXPECT_EQ(rig.sim.counters().commandFrames, 1u + std::size(cases) + 1u);
}

TEST(DeviceSimulator, WriteOfThreeChunksStoresTheRegionAndReadsBack) {
    Rig rig;
    const uint32_t region = 0x100;
    const Bytes data = Pattern(10);
    const std::size_t chunk = 4;
    for (uint16_t i = 0; i * chunk < data.size(); ++i) {
        const std::size_t from = i * chunk, n = std::min(chunk, data.size() - from);
        const Bytes payload(data.begin() + from, data.begin() + from + n);
        ASSERT_EQ(rig.exchange(Command(0x21, region, i, n), 6), Ack(0x21)) << "chunk " << i;
        EXPECT_EQ(rig.exchange(Block(0x21, payload), 10), Reply(0x21, 1, from + n)) << "chunk " << i;
    }
    EXPECT_EQ(rig.sim.region(region), data);

    Bytes readBack;
    for (uint16_t i = 0; i * chunk < data.size(); ++i) {
        const std::size_t n = std::min(chunk, data.size() - i * chunk);
        const Bytes answer = rig.exchange(Command(0x22, region, i, n), 16 + n + 5);
        ASSERT_EQ(First(answer, 16), Cat({Ack(0x22), Reply(0x22, 1, data.size())})) << "chunk " << i;
        const Bytes block(answer.begin() + 16, answer.end());
        ASSERT_TRUE(AcceptDataBlockHeader(0x22, block, n));
        ASSERT_TRUE(AcceptDataBlockChecksum(0x22, std::span(block).subspan(3, n), ReadLe16(&block[n + 3])));
        readBack.insert(readBack.end(), block.begin() + 3, block.begin() + 3 + n);
    }
    EXPECT_EQ(readBack, data);
    EXPECT_EQ(rig.sim.counters().dataBlocksReceived, 3u);
}

TEST(DeviceSimulator, ReadChunkAtOrPastTheEndGetsMoreFlagZeroAndNoBlock) {
    Rig rig;
    rig.sim.setRegion(7, Pattern(6));
    // Chunk 0 of 8 starts inside the region: the block is padded with zeros.
    const Bytes first = rig.exchange(Command(0x22, 7, 0, 8), 16 + 13);
    Bytes padded = Pattern(6);
    padded.resize(8, 0);
    EXPECT_EQ(first, Cat({Ack(0x22), Reply(0x22, 1, 6), Block(0x22, padded)}));
    // Chunk 1 starts at 8, past the 6 stored bytes.
    EXPECT_EQ(rig.exchange(Command(0x22, 7, 1, 8), 16), Cat({Ack(0x22), Reply(0x22, 0, 6)}));
    rig.expectQuietUntilNextCommand();
    // A region never written is empty from its first chunk.
    EXPECT_EQ(rig.exchange(Command(0x22, 99, 0, 8), 16), Cat({Ack(0x22), Reply(0x22, 0, 0)}));
    rig.expectQuietUntilNextCommand();
}

TEST(DeviceSimulator, BlockCommandOutsideTheMapIsRefusedWithStatus4) {
    Rig rig;
    EXPECT_EQ(rig.exchange(Command(0x30, 1, 0, 8), 6), Ack(0x30, 0x04));
    rig.expectQuietUntilNextCommand();
}

TEST(DeviceSimulator, CommandMapIsChangedByItsOptions) {
    Rig rig(DeviceOptions{.writeCommand = 0x41, .readCommand = 0x42, .refusedStatus = 0x09});
    EXPECT_EQ(rig.exchange(Command(0x41, 3, 0, 2), 6), Ack(0x41));
    EXPECT_EQ(rig.exchange(Block(0x41, {0xAB, 0xCD}), 10), Reply(0x41, 1, 2));
    EXPECT_EQ(rig.exchange(Command(0x42, 3, 0, 2), 23),
              Cat({Ack(0x42), Reply(0x42, 1, 2), Block(0x42, {0xAB, 0xCD})}));
    EXPECT_EQ(rig.exchange(Command(0x21, 3, 0, 2), 6), Ack(0x21, 0x09));
    rig.expectQuietUntilNextCommand();
}

TEST(DeviceSimulator, RetriedWriteChunkLandsAtTheSameOffset) {
    Rig rig;
    ASSERT_EQ(rig.exchange(Command(0x21, 1, 0, 3), 6), Ack(0x21));
    ASSERT_EQ(rig.exchange(Block(0x21, {1, 2, 3}), 10), Reply(0x21, 1, 3));
    for (int attempt = 0; attempt < 2; ++attempt) {
        ASSERT_EQ(rig.exchange(Command(0x21, 1, 1, 3), 6), Ack(0x21));
        ASSERT_EQ(rig.exchange(Block(0x21, {4, 5, 6}), 10), Reply(0x21, 1, 6)) << "attempt " << attempt;
    }
    EXPECT_EQ(rig.sim.region(1), (Bytes{1, 2, 3, 4, 5, 6}));
    // Chunk 0 again starts the region afresh.
    ASSERT_EQ(rig.exchange(Command(0x21, 1, 0, 2), 6), Ack(0x21));
    ASSERT_EQ(rig.exchange(Block(0x21, {9, 9}), 10), Reply(0x21, 1, 2));
    EXPECT_EQ(rig.sim.region(1), (Bytes{9, 9}));
}

TEST(DeviceSimulator, BrokenDataBlockFromTheHostGetsNoReply) {
    struct Case {
        const char *name;
        Bytes (*spoil)(Bytes);
    } cases[] = {
        {"wrong checksum", [](Bytes b) { b.back() ^= 0x01; return b; }},
        {"wrong echo", [](Bytes b) { b[2] = 0x22; return b; }},
        {"wrong sync", [](Bytes b) { b[1] = 0xAB; return b; }},
        {"payload changed", [](Bytes b) { b[4] += 1; return b; }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        const Bytes payload = Pattern(8);
        ASSERT_EQ(rig.exchange(Command(0x21, 2, 0, 8), 6), Ack(0x21));
        rig.host->write(c.spoil(Block(0x21, payload)));
        ASSERT_TRUE(rig.sim.waitForExchanges(1, 3s));
        EXPECT_EQ(rig.sim.counters().badDataBlocks, 1u);
        EXPECT_TRUE(rig.sim.region(2).empty());
        // The host's next attempt, with the same chunk, is answered.
        ASSERT_EQ(rig.exchange(Command(0x21, 2, 0, 8), 6), Ack(0x21)) << "stray bytes before the ack";
        EXPECT_EQ(rig.exchange(Block(0x21, payload), 10), Reply(0x21, 1, 8));
        EXPECT_EQ(rig.sim.region(2), payload);
    }
}

TEST(DeviceSimulator, ShortDataBlockFollowedByTheHostsNextAttemptIsAnsweredOnThatAttempt) {
    Rig rig;
    const Bytes payload = Pattern(8);
    ASSERT_EQ(rig.exchange(Command(0x21, 2, 0, 8), 6), Ack(0x21));
    // Three bytes of the block, then the host gives up and starts again.
    const Bytes answer = rig.exchange(Cat({First(Block(0x21, payload), 3), Command(0x21, 2, 0, 8)}), 6);
    EXPECT_EQ(answer, Ack(0x21));
    EXPECT_EQ(rig.exchange(Block(0x21, payload), 10), Reply(0x21, 1, 8));
    EXPECT_EQ(rig.sim.region(2), payload);
}

TEST(DeviceSimulator, TransferOfMoreThan65536ChunksLandsAtTheRightOffsets) {
    Rig rig;
    const std::size_t chunks = 65536 + 3;
    const Bytes data = Pattern(chunks, 5);
    // The host streams every chunk without waiting; the device answers each.
    std::thread writer([&] {
        Bytes all;
        all.reserve(chunks * 20);
        for (std::size_t i = 0; i < chunks; ++i) {
            const auto frames = Cat({Command(0x21, 9, static_cast<uint16_t>(i), 1), Block(0x21, {data[i]})});
            all.insert(all.end(), frames.begin(), frames.end());
        }
        rig.host->write(all);
    });
    const Bytes answers = rig.host->read(chunks * 16, 120s);
    writer.join();
    ASSERT_EQ(answers.size(), chunks * 16);
    for (std::size_t i = 0; i < chunks; ++i) {
        const Bytes expected = Cat({Ack(0x21), Reply(0x21, 1, static_cast<uint32_t>(i + 1))});
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), answers.begin() + i * 16)) << "chunk " << i;
    }
    EXPECT_EQ(rig.sim.region(9), data);
}

// ---- wake-up and garbage ------------------------------------------------------

TEST(DeviceSimulator, WakeUpFramesAreCountedInBurstsAndNotAnswered) {
    Rig rig;
    // The first burst frame by frame, the second in one write, after a pause
    // longer than the gap that separates bursts.
    for (int i = 0; i < 20; ++i) rig.host->write(WakeUp());
    ASSERT_TRUE(rig.sim.waitForWakeUps(20, 3s));
    std::this_thread::sleep_for(80ms);
    Bytes burst;
    for (int i = 0; i < 10; ++i) burst = Cat({burst, WakeUp()});
    rig.host->write(burst);
    ASSERT_TRUE(rig.sim.waitForWakeUps(30, 3s));
    const auto k = rig.sim.counters();
    EXPECT_EQ(k.wakeUpFrames, 30u);
    EXPECT_EQ(k.wakeUpBursts, 2u);
    EXPECT_EQ(k.commandFrames, 0u);
    rig.expectQuietUntilNextCommand();
}

TEST(DeviceSimulator, GarbageAndBrokenFramesBeforeACommandAreSkipped) {
    Rig rig;
    const Bytes garbage = {0x00, 0x13, 0xAA, 0x55};
    Bytes broken = Command(0x10, 5);
    broken[12] += 1;  // checksum off by one
    EXPECT_EQ(rig.exchange(Cat({garbage, broken, Command(0x10, 6)}), 16),
              Cat({Ack(0x10), Reply(0x10, 0, 6)}));
    rig.expectQuietUntilNextCommand();
    const auto k = rig.sim.counters();
    EXPECT_EQ(k.skippedBytes, garbage.size() + broken.size());
    EXPECT_EQ(k.commandFrames, 2u);
}

// ---- records ------------------------------------------------------------------

TEST(DeviceSimulator, RecordsEveryFrameBothWaysInOrder) {
    Rig rig;
    ASSERT_EQ(rig.exchange(Command(0x21, 4, 0, 2), 6), Ack(0x21));
    ASSERT_EQ(rig.exchange(Block(0x21, {7, 8}), 10), Reply(0x21, 1, 2));
    ASSERT_TRUE(rig.sim.waitForExchanges(1, 3s));
    const auto frames = rig.sim.frames();
    ASSERT_EQ(frames.size(), 4u);
    const std::pair<Direction, FrameKind> expected[] = {{Direction::FromHost, FrameKind::Command},
                                                        {Direction::ToHost, FrameKind::Ack},
                                                        {Direction::FromHost, FrameKind::DataBlock},
                                                        {Direction::ToHost, FrameKind::Reply}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(frames[i].direction, expected[i].first) << i;
        EXPECT_EQ(frames[i].kind, expected[i].second) << i;
        if (i > 0) {
            EXPECT_LE(frames[i - 1].at, frames[i].at);
        }
    }
    EXPECT_EQ(frames[2].bytes, Block(0x21, {7, 8}));
    EXPECT_EQ(frames[2].checksum, DataBlockChecksum(0x21, Bytes{7, 8}));
    EXPECT_EQ(rig.sim.commands(), (std::vector<CommandFields>{{0x21, 0, 4, 0, 2}}));
}

TEST(DeviceSimulator, LongDataBlocksAreRecordedByLengthAndChecksumOnly) {
    Rig rig(DeviceOptions{.recordBlockBytes = 64});
    const Bytes payload = Pattern(1000);
    ASSERT_EQ(rig.exchange(Command(0x21, 4, 0, 1000), 6), Ack(0x21));
    ASSERT_EQ(rig.exchange(Block(0x21, payload), 10), Reply(0x21, 1, 1000));
    const auto received = rig.sim.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].length, 1005u);
    EXPECT_EQ(received[1].bytes, First(Block(0x21, payload), 3));
    EXPECT_EQ(received[1].checksum, DataBlockChecksum(0x21, payload));
}

// ---- scripted faults ----------------------------------------------------------

struct SingleFaultCase {
    const char *name;
    Fault fault;
    Bytes expected;  // everything the host gets for the command 0x10, argument 0x1234
};

Bytes Reply10(uint8_t moreFlag = 0) { return Reply(0x10, moreFlag, 0x1234); }
Bytes WithBadChecksum(Bytes f) {
    WriteLe16(&f[f.size() - 2], static_cast<uint16_t>(ReadLe16(&f[f.size() - 2]) + 1));
    return f;
}

TEST(DeviceSimulator, ScriptedFaultsShapeTheAnswerToASingleCommand) {
    const Bytes ack = Ack(0x10);
    const SingleFaultCase cases[] = {
        {"no ack", Fault::noAnswer(FaultTarget::Ack), {}},
        {"no reply", Fault::noAnswer(FaultTarget::Reply), ack},
        {"ack status 7", Fault::ackStatus(7),
         Ack(0x10, 7)},
        {"wrong echo in ack", Fault::wrongEcho(FaultTarget::Ack), Ack(0x11)},
        {"wrong echo in reply", Fault::wrongEcho(FaultTarget::Reply),
         Cat({ack, Reply(0x11, 0, 0x1234)})},
        {"bad reply checksum", Fault::badChecksum(FaultTarget::Reply),
         Cat({ack, WithBadChecksum(Reply10())})},
        {"short ack", Fault::shortFrame(FaultTarget::Ack, 4),
         First(ack, 4)},
        {"short reply", Fault::shortFrame(FaultTarget::Reply, 9),
         Cat({ack, First(Reply10(), 9)})},
        {"long ack", Fault::longFrame(FaultTarget::Ack, 2),
         Cat({ack, {0xEE, 0xEE}, Reply10()})},
        {"long reply", Fault::longFrame(FaultTarget::Reply, 3),
         Cat({ack, Reply10(), {0xEE, 0xEE, 0xEE}})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.sim.addFault(c.fault);
        EXPECT_EQ(rig.exchange(Command(0x10, 0x1234), c.expected.size()), c.expected);
        rig.expectQuietUntilNextCommand();
        EXPECT_EQ(rig.sim.counters().faultsApplied, 1u);
    }
}

struct ReadFaultCase {
    const char *name;
    Fault fault;
    Bytes expected;  // everything the host gets for read chunk 0 of 4 bytes
};

TEST(DeviceSimulator, ScriptedFaultsShapeTheAnswerToAReadChunk) {
    const Bytes data = {0x10, 0x20, 0x30, 0x40};
    const Bytes head = Cat({Ack(0x22), Reply(0x22, 1, 4)});
    const Bytes block = Block(0x22, data);
    Bytes corrupted = block;
    corrupted[3] += 1;
    Bytes wrongEcho = Block(0x23, data);
    wrongEcho[2] = 0x23;
    const ReadFaultCase cases[] = {
        {"no reply", Fault::noAnswer(FaultTarget::Reply), Ack(0x22)},
        {"no block", Fault::noAnswer(FaultTarget::Block), head},
        {"more flag 0", Fault::moreFlagZero(),
         Cat({Ack(0x22), Reply(0x22, 0, 4)})},
        {"bad block checksum", Fault::badChecksum(FaultTarget::Block),
         Cat({head, WithBadChecksum(block)})},
        {"corrupt block", Fault::corruptBlock(),
         Cat({head, corrupted})},
        {"wrong echo in block", Fault::wrongEcho(FaultTarget::Block),
         Cat({head, wrongEcho})},
        {"short block", Fault::shortFrame(FaultTarget::Block, 7),
         Cat({head, First(block, 7)})},
        {"bad reply: no block follows", Fault::badChecksum(FaultTarget::Reply),
         Cat({Ack(0x22), WithBadChecksum(Reply(0x22, 1, 4))})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.sim.setRegion(1, data);
        rig.sim.addFault(c.fault);
        EXPECT_EQ(rig.exchange(Command(0x22, 1, 0, 4), c.expected.size()), c.expected);
        rig.expectQuietUntilNextCommand();
    }
}

TEST(DeviceSimulator, CorruptBlockFailsOnlyItsChecksumStage) {
    Rig rig;
    rig.sim.setRegion(1, {1, 2, 3, 4});
    rig.sim.addFault(Fault::corruptBlock());
    const Bytes answer = rig.exchange(Command(0x22, 1, 0, 4), 16 + 9);
    const Bytes block(answer.begin() + 16, answer.end());
    EXPECT_TRUE(AcceptDataBlockHeader(0x22, block, 4));
    EXPECT_FALSE(AcceptDataBlockChecksum(0x22, std::span(block).subspan(3, 4), ReadLe16(&block[7])));
}

TEST(DeviceSimulator, FaultSelectorsPickTheExchangeAndCountTheirTimes) {
    Rig rig;
    rig.sim.addFault(Fault::noAnswer(FaultTarget::Ack).onNthCommand(2));
    EXPECT_EQ(rig.exchange(Command(0x10, 1), 16), Cat({Ack(0x10), Reply(0x10, 0, 1)}));
    rig.host->write(Command(0x10, 2));
    ASSERT_TRUE(rig.sim.waitForExchanges(2, 3s));
    EXPECT_EQ(rig.exchange(Command(0x10, 3), 16), Cat({Ack(0x10), Reply(0x10, 0, 3)}))
        << "the second command got an answer";

    rig.sim.setRegion(5, Pattern(40));
    rig.sim.addFault(Fault::moreFlagZero().onCommand(0x22).atBlockIndex(1).times(2));
    const Bytes stopped = Cat({Ack(0x22), Reply(0x22, 0, 40)});
    EXPECT_EQ(rig.exchange(Command(0x22, 5, 0, 8), 29).size(), 29u) << "chunk 0 is not selected";
    EXPECT_EQ(rig.exchange(Command(0x22, 5, 1, 8), 16), stopped);
    EXPECT_EQ(rig.exchange(Command(0x22, 5, 1, 8), 16), stopped);
    const Bytes third = rig.exchange(Command(0x22, 5, 1, 8), 29);
    EXPECT_EQ(First(third, 16), Cat({Ack(0x22), Reply(0x22, 1, 40)})) << "used up after two";
    rig.expectQuietUntilNextCommand();
    EXPECT_EQ(rig.sim.counters().faultsApplied, 3u);
}

TEST(DeviceSimulator, LateAnswerHoldsBackTheChosenFrame) {
    struct Case {
        FaultTarget target;
        std::size_t before;  // bytes the host gets at once
    } cases[] = {{FaultTarget::Ack, 0}, {FaultTarget::Reply, 6}};
    const auto delay = 200ms;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.before);
        Rig rig;
        rig.sim.addFault(Fault::lateAnswer(c.target, delay));
        const auto sent = Clock::now();
        rig.host->write(Command(0x10, 1));
        ASSERT_EQ(rig.host->read(c.before).size(), c.before);
        const Bytes rest = rig.host->read(16 - c.before);
        const auto elapsed = Clock::now() - sent;
        EXPECT_EQ(Cat({First(Cat({Ack(0x10), Reply(0x10, 0, 1)}), c.before), rest}),
                  Cat({Ack(0x10), Reply(0x10, 0, 1)}));
        EXPECT_GE(elapsed, delay);
        EXPECT_LE(elapsed, delay + 150ms);
    }
}

struct HangUpCase {
    const char *name;
    Fault fault;
    Bytes send;
    Bytes before;  // what the host gets before the line drops
};

TEST(DeviceSimulator, HangUpDropsTheLineForTheHost) {
    const Bytes payload = Pattern(400);
    const Bytes readHead = Cat({Ack(0x22), Reply(0x22, 1, 400)});
    const HangUpCase cases[] = {
        {"after the ack of a write chunk", Fault::hangUp(FaultTarget::Ack),
         Command(0x21, 3, 0, 8), Ack(0x21)},
        {"in the middle of the host's block", Fault::hangUp(FaultTarget::Block),
         Cat({Command(0x21, 3, 0, 8), Block(0x21, Pattern(8))}), Ack(0x21)},
        {"in the middle of the device's block", Fault::hangUp(FaultTarget::Block),
         Command(0x22, 4, 0, 400), Cat({readHead, First(Block(0x22, payload), 202)})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.sim.setRegion(4, payload);
        rig.sim.addFault(c.fault);
        EXPECT_EQ(rig.exchange(c.send, c.before.size()), c.before);

        pollfd p{rig.host->fd(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 3000), 1);
        EXPECT_TRUE(p.revents & POLLHUP);
        uint8_t byte;
        const ssize_t n = ::read(rig.host->fd(), &byte, 1);
        EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << "read gave " << n;
        EXPECT_TRUE(rig.sim.waitForServing(false, 3s)) << "serving ends with the line";
        EXPECT_TRUE(rig.sim.region(3).empty());
    }
}

// ---- random faults ------------------------------------------------------------

struct RandomCase {
    const char *name;
    RandomFaults faults;
    uint64_t RandomFaultCounts::*counter;
    uint64_t hits;          // frames hit in one single-command exchange
    bool replyAccepted;     // the host would take the last 10 bytes as the reply
};

RandomFaults Only(bool RandomFaults::*kind) {
    RandomFaults f{.seed = 7, .rate = 1.0, .corrupt = false, .duplicate = false, .delay = false,
                   .truncate = false, .drop = false, .maxDelay = 30ms};
    f.*kind = true;
    return f;
}

TEST(DeviceSimulator, RandomFaultsOfEachKindAreInjectedAndCounted) {
    const RandomCase cases[] = {
        {"corrupt hits the reply, never the ack", Only(&RandomFaults::corrupt), &RandomFaultCounts::corrupted, 1,
         false},
        {"duplicate", Only(&RandomFaults::duplicate), &RandomFaultCounts::duplicated, 2, true},
        {"delay", Only(&RandomFaults::delay), &RandomFaultCounts::delayed, 2, true},
        {"truncate hits the reply, never the ack", Only(&RandomFaults::truncate), &RandomFaultCounts::truncated,
         1, false},
        {"drop ends the exchange at the ack", Only(&RandomFaults::drop), &RandomFaultCounts::dropped, 1, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.sim.setRandomFaults(c.faults);
        rig.host->write(Command(0x10, 77));
        ASSERT_TRUE(rig.sim.waitForExchanges(1, 3s));
        const auto k = rig.sim.counters();
        EXPECT_EQ(k.random.*(c.counter), c.hits);
        EXPECT_EQ(k.random.total(), c.hits);

        // The host gets exactly what the device says it sent.
        Bytes sent;
        for (const auto &r : rig.sim.sent()) sent = Cat({sent, r.bytes});
        const Bytes got = rig.host->read(sent.size());
        EXPECT_EQ(got, sent);
        if (!got.empty()) {
            EXPECT_TRUE(AcceptAckFrame(0x10, First(got, 6))) << "acks stay whole";
        }
        ReplyFields fields;
        const bool accepted = got.size() >= 16 && AcceptReplyFrame(0x10, Bytes(got.end() - 10, got.end()), fields);
        EXPECT_EQ(accepted, c.replyAccepted);
        rig.sim.setRandomFaults({});
        rig.expectQuietUntilNextCommand();
    }
}

TEST(DeviceSimulator, RandomFaultsFollowTheirSeed) {
    auto run = [](uint64_t seed) {
        RandomFaultInjector injector;
        injector.configure({.seed = seed, .rate = 0.5});
        std::vector<std::pair<RandomHit, Bytes>> hits;
        for (int i = 0; i < 200; ++i) {
            Bytes frame = Reply(0x10, 1, static_cast<uint32_t>(i));
            Clock::duration delay{};
            const RandomHit hit = injector.strike(FrameKind::Reply, frame, delay);
            if (hit == RandomHit::Corrupt || hit == RandomHit::Truncate) {
                ReplyFields fields;
                EXPECT_FALSE(AcceptReplyFrame(0x10, frame, fields)) << "a change the checksum misses";
            }
            hits.emplace_back(hit, frame);
        }
        return std::make_pair(hits, injector.counts().total());
    };
    const auto a = run(11), b = run(11), c = run(12);
    EXPECT_EQ(a, b);
    EXPECT_NE(a.first, c.first);
    EXPECT_GT(a.second, 50u);
    EXPECT_LT(a.second, 150u);
}

// ---- pacing -------------------------------------------------------------------

TEST(DeviceSimulator, PacingHoldsEachDirectionToTheLineSpeed) {
    const uint32_t baud = 9600;
    const auto byteTime = std::chrono::duration<double>(10.0 / baud);
    const Bytes payload = Pattern(1000);
    {
        SCOPED_TRACE("device to host");
        Rig rig(DeviceOptions{.baud = baud});
        rig.sim.setRegion(1, payload);
        // Timed from before the command: a host that is late to see the first
        // byte would otherwise find bytes already queued and undercut the line.
        const auto first = Clock::now();
        rig.host->write(Command(0x22, 1, 0, 1000));
        const std::size_t rest = 6 + 10 + 1005;
        ASSERT_EQ(rig.host->read(rest, 10s).size(), rest);
        const auto elapsed = Clock::now() - first;
        RecordProperty("device_to_host_us",
                       std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
        // The command's 14 bytes come in paced, then the answer goes out paced;
        // each direction's first byte may go at once.
        EXPECT_GE(elapsed, (14 - 1 + rest - 1) * byteTime);
        EXPECT_LE(elapsed, (14 + rest) * byteTime * 1.5 + 150ms);
    }
    {
        SCOPED_TRACE("host to device");
        Rig rig(DeviceOptions{.baud = baud});
        ASSERT_EQ(rig.exchange(Command(0x21, 1, 0, 1000), 6), Ack(0x21));
        const auto sent = Clock::now();
        ASSERT_EQ(rig.exchange(Block(0x21, payload), 10, 10s), Reply(0x21, 1, 1000));
        const auto elapsed = Clock::now() - sent;
        RecordProperty("host_to_device_us",
                       std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
        const std::size_t bytes = 1005 + 10;
        EXPECT_GE(elapsed, (bytes - 2) * byteTime);
        EXPECT_LE(elapsed, bytes * byteTime * 1.5 + 150ms);
    }
}

TEST(DeviceSimulator, StopEndsServingPromptly) {
    Rig rig;
    ASSERT_TRUE(rig.sim.waitForServing(true, 3s));
    const auto before = Clock::now();
    rig.sim.stop();
    EXPECT_LE(Clock::now() - before, 500ms);
    EXPECT_FALSE(rig.sim.serving());
}

}  // namespace
}  // namespace orv::sim
