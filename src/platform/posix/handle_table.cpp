#include "platform/posix/handle_table.h"

#include <array>
#include <cstdint>
#include <mutex>

namespace orv::win {

namespace {

// A handle is (generation << 16) | (slot + 1): never null, never all bits set.
constexpr std::size_t kSlots = 1024;
constexpr unsigned kSlotBits = 16;

struct Slot {
    uint32_t generation = 1;
    HandleKind kind = HandleKind::Port;
    Ref<HandleObject> object;
};

struct Table {
    std::mutex mutex;
    std::array<Slot, kSlots> slots;
};

// Never destroyed: detached threads may still look handles up at exit.
Table &TheTable() {
    static Table *table = new Table;
    return *table;
}

HANDLE Encode(std::size_t index, uint32_t generation) {
    uintptr_t bits = (uintptr_t{generation} << kSlotBits) | (index + 1);
    return reinterpret_cast<HANDLE>(bits);
}

// The slot a handle names, when its generation is current and it is in use.
Slot *Decode(Table &table, HANDLE handle) {
    uintptr_t bits = reinterpret_cast<uintptr_t>(handle);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    uintptr_t index = (bits & ((uintptr_t{1} << kSlotBits) - 1));
    uintptr_t generation = bits >> kSlotBits;
    if (index == 0 || index > kSlots || generation > UINT32_MAX) return nullptr;
    Slot &slot = table.slots[index - 1];
    if (!slot.object || slot.generation != generation) return nullptr;
    return &slot;
}

}  // namespace

HANDLE RegisterHandle(HandleKind kind, Ref<HandleObject> object) {
    Table &table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (std::size_t i = 0; i < kSlots; ++i) {
        Slot &slot = table.slots[i];
        if (slot.object) continue;
        slot.kind = kind;
        slot.object = std::move(object);
        return Encode(i, slot.generation);
    }
    return nullptr;
}

Ref<HandleObject> LookupAnyHandle(HANDLE handle, HandleKind *kind) {
    Table &table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    Slot *slot = Decode(table, handle);
    if (!slot) return nullptr;
    if (kind) *kind = slot->kind;
    return slot->object;
}

Ref<HandleObject> LookupHandle(HANDLE handle, HandleKind kind) {
    HandleKind found{};
    auto object = LookupAnyHandle(handle, &found);
    if (!object || found != kind) return nullptr;
    return object;
}

Ref<HandleObject> UnregisterHandle(HANDLE handle, HandleKind *kind) {
    Table &table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    Slot *slot = Decode(table, handle);
    if (!slot) return nullptr;
    if (kind) *kind = slot->kind;
    Ref<HandleObject> object = std::move(slot->object);
    slot->object = {};
    // Skip 0 so that a handle is never a bare slot number.
    slot->generation = slot->generation == UINT32_MAX ? 1 : slot->generation + 1;
    return object;
}

}  // namespace orv::win
