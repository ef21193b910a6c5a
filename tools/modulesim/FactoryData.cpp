#include "FactoryData.h"

#include <algorithm>
#include <cstdio>

namespace modulesim {

namespace {

constexpr uint8_t kBlockMask = 0x0F;
constexpr uint8_t kWrite = 0x10;
constexpr uint8_t kEnd = 0x20;
constexpr uint8_t kFirst = 0x40;
constexpr uint8_t kErrorFlag = 0x80;

Packet factoryError(uint8_t address, uint8_t block, ErrorCode code) {
    return Packet(address, {kCmdFactoryData, static_cast<uint8_t>(block | kErrorFlag), code});
}

}  // namespace

FactoryData::FactoryData(uint32_t serial, uint8_t model) {
    // Block 0 identifies the unit; block n holds 13 * n pattern bytes, so that some blocks end
    // exactly on a full reply (26, 52, ...) and others do not.
    char identity[64];
    int length = snprintf(identity, sizeof identity, "SN=%08X;MODEL=%u", serial, model);
    blocks_[0].assign(identity, identity + length);
    for (size_t block = 1; block < blocks_.size(); ++block) {
        for (size_t i = 0; i < 13 * block; ++i) {
            blocks_[block].push_back(static_cast<uint8_t>(block * 16 + i));
        }
    }
}

void FactoryData::handle(const Packet& request, uint8_t address, Outcome& outcome) {
    if (request.data.size() < 2) {
        return;  // nothing to tell the reply apart by
    }
    uint8_t flags = request.data[1];
    uint8_t block = flags & kBlockMask;
    if (flags & kEnd) {
        finish(request, address, outcome);
    } else if (flags & kWrite) {
        write(request, block, (flags & kFirst) != 0, address, outcome);
    } else {
        read(block, (flags & kFirst) != 0, address, outcome);
    }
}

void FactoryData::read(uint8_t block, bool first, uint8_t address, Outcome& outcome) {
    if (first) {
        transfer_ = Transfer();
        transfer_.active = true;
        transfer_.block = block;
    } else if (!transfer_.active || transfer_.writing || transfer_.block != block) {
        outcome.replies.push_back(factoryError(address, block, qErrNotReady));
        return;
    }
    const std::vector<uint8_t>& bytes = blocks_[block];
    size_t chunk = std::min(kChunk, bytes.size() - transfer_.position);
    Packet reply(address, {kCmdFactoryData, block});
    reply.data.insert(reply.data.end(), bytes.begin() + transfer_.position,
                      bytes.begin() + transfer_.position + chunk);
    transfer_.position += chunk;
    transfer_.moved += chunk;
    outcome.replies.push_back(std::move(reply));
}

void FactoryData::write(const Packet& request, uint8_t block, bool first, uint8_t address,
                        Outcome& outcome) {
    if (first) {
        transfer_ = Transfer();
        transfer_.active = true;
        transfer_.writing = true;
        transfer_.block = block;
    } else if (!transfer_.active || !transfer_.writing || transfer_.block != block) {
        outcome.replies.push_back(factoryError(address, block, qErrNotReady));
        return;
    }
    size_t length = request.data.size() - 2;
    if (length > kChunk || transfer_.pending.size() + length > kBlockCapacity) {
        transfer_ = Transfer();
        outcome.replies.push_back(factoryError(address, block, qErrOverrun));
        return;
    }
    transfer_.pending.insert(transfer_.pending.end(), request.data.begin() + 2, request.data.end());
    transfer_.moved += length;
    outcome.replies.push_back(Packet(address, {kCmdFactoryData, block}));
}

void FactoryData::finish(const Packet& request, uint8_t address, Outcome& outcome) {
    uint8_t block = request.data[1] & kBlockMask;
    if (request.data.size() < 4) {
        transfer_ = Transfer();
        outcome.replies.push_back(factoryError(address, block, qErrShortCommand));
        return;
    }
    size_t count = readBigEndian(request.data.data() + 2, 2);
    if (!transfer_.active) {
        // An empty write sends nothing before its end request.
        ErrorCode code = count == 0 ? qErrNone : qErrNotReady;
        outcome.replies.push_back(code == qErrNone ? Packet(address, {kCmdFactoryData, block, 0})
                                                   : factoryError(address, block, code));
        return;
    }
    Transfer done = transfer_;
    transfer_ = Transfer();
    if (count != done.moved) {
        outcome.replies.push_back(factoryError(address, block, qErrSize));
        return;
    }
    if (done.writing) {
        blocks_[done.block] = done.pending;
    }
    outcome.replies.push_back(Packet(address, {kCmdFactoryData, block, qErrNone}));
}

}  // namespace modulesim
