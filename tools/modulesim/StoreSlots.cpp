#include "StoreSlots.h"

#include <algorithm>

namespace modulesim {

namespace {

enum SlotCommand : uint8_t {
    kCapacity = 1,
    kSize = 2,
    kOpenRead = 3,
    kOpenWrite = 4,
    kRead = 6,
    kWrite = 7,
    kClose = 8,
};
constexpr uint8_t kErrorFlag = 0x80;
constexpr size_t kMaxHandles = 4;
constexpr size_t kMaxChunk = 25;  // a read reply: 3 header bytes and 25 data bytes

// Error reply: the sub-command with bit 7, the request's store and slot (or handle), the code.
Packet slotError(uint8_t address, const Packet& request, size_t echoed, ErrorCode code) {
    Packet reply(address, {kCmdStoreSlot, static_cast<uint8_t>(request.data[1] | kErrorFlag)});
    for (size_t i = 2; i < 2 + echoed; ++i) {
        reply.data.push_back(i < request.data.size() ? request.data[i] : 0);
    }
    reply.data.push_back(code);
    return reply;
}

}  // namespace

StoreSlots::StoreSlots() {
    // Store 0: four small slots; store 1: two larger ones.
    stores_.push_back(std::vector<Slot>(4, Slot{256, {}}));
    stores_.push_back(std::vector<Slot>(2, Slot{1024, {}}));
    handles_.resize(kMaxHandles);
}

StoreSlots::Slot* StoreSlots::findSlot(uint8_t store, uint8_t slot) {
    if (store >= stores_.size() || slot >= stores_[store].size()) {
        return nullptr;
    }
    return &stores_[store][slot];
}

StoreSlots::Handle* StoreSlots::findHandle(uint8_t handle) {
    if (handle == 0 || handle > handles_.size() || !handles_[handle - 1].open) {
        return nullptr;
    }
    return &handles_[handle - 1];
}

void StoreSlots::closeAll() {
    for (Handle& handle : handles_) {
        handle = Handle();
    }
}

void StoreSlots::handle(const Packet& request, uint8_t address, Outcome& outcome) {
    if (request.data.size() < 2) {
        return;  // no sub-command to answer to
    }
    uint8_t command = request.data[1];
    bool bySlot = command >= kCapacity && command <= kOpenWrite;
    size_t needed = bySlot ? 4 : 3;
    if (request.data.size() < needed) {
        outcome.replies.push_back(slotError(address, request, needed - 2, qErrShortCommand));
        return;
    }
    switch (command) {
        case kCapacity:
        case kSize:
            slotQuery(request, address, outcome);
            break;
        case kOpenRead:
        case kOpenWrite:
            open(request, address, outcome);
            break;
        case kRead:
            read(request, address, outcome);
            break;
        case kWrite:
            write(request, address, outcome);
            break;
        case kClose:
            close(request, address, outcome);
            break;
        default:
            outcome.replies.push_back(slotError(address, request, 1, qErrUnimplemented));
    }
}

void StoreSlots::slotQuery(const Packet& request, uint8_t address, Outcome& outcome) {
    Slot* slot = findSlot(request.data[2], request.data[3]);
    if (slot == nullptr) {
        outcome.replies.push_back(slotError(address, request, 2, qErrIndexRange));
        return;
    }
    size_t value = request.data[1] == kCapacity ? slot->capacity : slot->bytes.size();
    Packet reply(address, {kCmdStoreSlot, request.data[1], request.data[2], request.data[3]});
    appendBigEndian(reply.data, static_cast<uint32_t>(value), 2);
    outcome.replies.push_back(std::move(reply));
}

void StoreSlots::open(const Packet& request, uint8_t address, Outcome& outcome) {
    uint8_t store = request.data[2];
    uint8_t slotNumber = request.data[3];
    if (findSlot(store, slotNumber) == nullptr) {
        outcome.replies.push_back(slotError(address, request, 2, qErrIndexRange));
        return;
    }
    auto freeHandle =
        std::find_if(handles_.begin(), handles_.end(), [](const Handle& h) { return !h.open; });
    if (freeHandle == handles_.end()) {
        outcome.replies.push_back(slotError(address, request, 2, qErrResource));
        return;
    }
    *freeHandle = Handle();
    freeHandle->open = true;
    freeHandle->writing = request.data[1] == kOpenWrite;
    freeHandle->store = store;
    freeHandle->slot = slotNumber;
    uint8_t number = static_cast<uint8_t>(freeHandle - handles_.begin() + 1);
    outcome.replies.push_back(
        Packet(address, {kCmdStoreSlot, request.data[1], store, slotNumber, number}));
}

void StoreSlots::read(const Packet& request, uint8_t address, Outcome& outcome) {
    Handle* handle = findHandle(request.data[2]);
    if (handle == nullptr || handle->writing) {
        outcome.replies.push_back(slotError(address, request, 1, handle ? qErrMode : qErrParam));
        return;
    }
    const std::vector<uint8_t>& bytes = findSlot(handle->store, handle->slot)->bytes;
    if (handle->position >= bytes.size()) {
        outcome.replies.push_back(slotError(address, request, 1, qErrEOF));
        return;
    }
    size_t chunk = std::min(kMaxChunk, bytes.size() - handle->position);
    Packet reply(address, {kCmdStoreSlot, kRead, request.data[2]});
    reply.data.insert(reply.data.end(), bytes.begin() + handle->position,
                      bytes.begin() + handle->position + chunk);
    handle->position += chunk;
    outcome.replies.push_back(std::move(reply));
}

void StoreSlots::write(const Packet& request, uint8_t address, Outcome& outcome) {
    Handle* handle = findHandle(request.data[2]);
    if (handle == nullptr || !handle->writing) {
        outcome.replies.push_back(slotError(address, request, 1, handle ? qErrMode : qErrParam));
        return;
    }
    const uint8_t* chunk = request.data.data() + 3;
    size_t length = request.data.size() - 3;
    if (handle->pending.size() + length > findSlot(handle->store, handle->slot)->capacity) {
        outcome.replies.push_back(slotError(address, request, 1, qErrOverrun));
        return;
    }
    handle->pending.insert(handle->pending.end(), chunk, chunk + length);
    outcome.replies.push_back(
        Packet(address, {kCmdStoreSlot, kWrite, request.data[2], byteSum(chunk, length)}));
}

void StoreSlots::close(const Packet& request, uint8_t address, Outcome& outcome) {
    Handle* handle = findHandle(request.data[2]);
    if (handle == nullptr) {
        outcome.replies.push_back(slotError(address, request, 1, qErrParam));
        return;
    }
    if (handle->writing) {
        findSlot(handle->store, handle->slot)->bytes = handle->pending;
    }
    *handle = Handle();
    outcome.replies.push_back(Packet(address, {kCmdStoreSlot, kClose, request.data[2], qErrNone}));
}

}  // namespace modulesim
