// The simulated device's memory: byte regions named by the argument of the
// commands that fill and read them, and the chunk numbering of the transfer
// that runs on each region.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace orv::sim {

class DeviceStore {
public:
    explicit DeviceStore(std::size_t maxRegionBytes = std::size_t{64} << 20)
        : maxRegionBytes_(maxRegionBytes) {}

    struct Chunk {
        uint64_t number = 0;  // counted through the 16-bit wrap of blockIndex
        uint64_t offset = 0;  // number x the blockLength of the transfer's chunk 0
    };

    // Places a chunk announced with the wire's 16-bit blockIndex.
    Chunk writeChunk(uint32_t argument, uint16_t blockIndex, uint16_t blockLength);
    Chunk readChunk(uint32_t argument, uint16_t blockIndex, uint16_t blockLength);

    // Stores a write chunk's payload; chunk 0 starts the region afresh.
    // Returns the region's length afterwards. Bytes past maxRegionBytes are dropped.
    std::size_t store(uint32_t argument, const Chunk &chunk, std::span<const uint8_t> payload);
    // n bytes from offset, zeros beyond the stored length.
    std::vector<uint8_t> load(uint32_t argument, uint64_t offset, std::size_t n) const;
    std::size_t length(uint32_t argument) const;

    std::vector<uint8_t> region(uint32_t argument) const;
    void setRegion(uint32_t argument, std::vector<uint8_t> bytes);

private:
    struct Transfer {
        uint16_t lastIndex = 0;
        uint64_t lastNumber = 0;
        uint16_t chunkLength = 0;  // blockLength of chunk 0
        bool ended = false;        // the last chunk was short, so the next 0 starts anew
    };
    static Chunk place(std::map<uint32_t, Transfer> &transfers, uint32_t argument,
                       uint16_t blockIndex, uint16_t blockLength);

    std::size_t maxRegionBytes_;
    std::map<uint32_t, std::vector<uint8_t>> regions_;
    std::map<uint32_t, Transfer> writes_;
    std::map<uint32_t, Transfer> reads_;
};

}  // namespace orv::sim
