#include "sim/device_store.h"

#include <algorithm>

namespace orv::sim {

namespace {

// The next chunk number from the last one seen: the same index again is a
// retry, the next index modulo 65536 the next chunk, and 0 otherwise a new
// transfer. Any other jump is taken at face value.
uint64_t nextNumber(bool known, uint16_t lastIndex, uint64_t lastNumber, bool ended,
                    uint16_t blockIndex) {
    if (!known) return blockIndex;
    if (blockIndex == lastIndex) return lastNumber;
    if (blockIndex == static_cast<uint16_t>(lastIndex + 1) && !(ended && blockIndex == 0))
        return lastNumber + 1;
    return blockIndex;
}

}  // namespace

DeviceStore::Chunk DeviceStore::place(std::map<uint32_t, Transfer> &transfers, uint32_t argument,
                                      uint16_t blockIndex, uint16_t blockLength) {
    auto it = transfers.find(argument);
    const bool known = it != transfers.end();
    Transfer t = known ? it->second : Transfer{};
    const uint64_t number = nextNumber(known, t.lastIndex, t.lastNumber, t.ended, blockIndex);
    if (number == 0 || !known) t.chunkLength = blockLength;
    t.lastIndex = blockIndex;
    t.lastNumber = number;
    t.ended = blockLength < t.chunkLength;
    transfers[argument] = t;
    return Chunk{number, number * t.chunkLength};
}

DeviceStore::Chunk DeviceStore::writeChunk(uint32_t argument, uint16_t blockIndex,
                                           uint16_t blockLength) {
    return place(writes_, argument, blockIndex, blockLength);
}

DeviceStore::Chunk DeviceStore::readChunk(uint32_t argument, uint16_t blockIndex,
                                          uint16_t blockLength) {
    return place(reads_, argument, blockIndex, blockLength);
}

std::size_t DeviceStore::store(uint32_t argument, const Chunk &chunk,
                               std::span<const uint8_t> payload) {
    auto &region = regions_[argument];
    if (chunk.number == 0) region.clear();
    if (chunk.offset < maxRegionBytes_) {
        const std::size_t offset = static_cast<std::size_t>(chunk.offset);
        const std::size_t n = std::min(payload.size(), maxRegionBytes_ - offset);
        if (region.size() < offset + n) region.resize(offset + n);
        std::copy_n(payload.begin(), n, region.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    return region.size();
}

std::vector<uint8_t> DeviceStore::load(uint32_t argument, uint64_t offset, std::size_t n) const {
    std::vector<uint8_t> out(n, 0);
    auto it = regions_.find(argument);
    if (it == regions_.end() || offset >= it->second.size()) return out;
    const auto &region = it->second;
    const std::size_t from = static_cast<std::size_t>(offset);
    const std::size_t count = std::min(n, region.size() - from);
    std::copy_n(region.begin() + static_cast<std::ptrdiff_t>(from), count, out.begin());
    return out;
}

std::size_t DeviceStore::length(uint32_t argument) const {
    auto it = regions_.find(argument);
    return it == regions_.end() ? 0 : it->second.size();
}

std::vector<uint8_t> DeviceStore::region(uint32_t argument) const {
    auto it = regions_.find(argument);
    return it == regions_.end() ? std::vector<uint8_t>{} : it->second;
}

void DeviceStore::setRegion(uint32_t argument, std::vector<uint8_t> bytes) {
    regions_[argument] = std::move(bytes);
}

}  // namespace orv::sim
