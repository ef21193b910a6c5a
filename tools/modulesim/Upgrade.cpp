#include "Upgrade.h"

#include <cstdio>

namespace modulesim {

namespace {

enum UpgradeStep : uint8_t {
    kInit = 0,
    kData = 1,
    kLoad = 2,
    kPrepare = 3,
    kSum = 4,
    kWrite = 5,
    kReboot = 6,
    kStatus = 7,  // the common reply of PREPARE, SUM and WRITE
};

constexpr uint8_t kUeiDataOption = 10;
constexpr uint8_t kLoaderRevision = 1;
// Where the loader's own blocks run from; the host only logs it.
constexpr uint32_t kLoaderBase = 0x10000000;
// A loader block arrives whole, without a WRITE to empty the buffer; past this the module's RAM
// is full and further bytes are not accepted.
constexpr size_t kMaxPiece = 1 << 20;

Packet statusReply(uint8_t address, uint8_t status) {
    return Packet(address, {kCmdUpgrade, kStatus, status});
}

}  // namespace

void UpgradeLoader::reply(Outcome& outcome, Packet packet) {
    ++repliesSent_;
    if (knobs_.dropReply != 0 && repliesSent_ == knobs_.dropReply) {
        outcome.notes.push_back("drops the reply");
        return;
    }
    outcome.replies.push_back(std::move(packet));
}

void UpgradeLoader::handle(const Packet& request, uint8_t address, Outcome& outcome) {
    if (knobs_.silent) {
        outcome.notes.push_back("loader stays silent");
        return;
    }
    if (request.data.size() < 2) {
        return;
    }
    uint8_t step = request.data[1];
    if (step & (kOptionGet | kOptionSet)) {
        ueiData(request, address, outcome);
        return;
    }
    switch (step) {
        case kInit:
            init(address, outcome);
            break;
        case kData:
            data(request, address, outcome);
            break;
        case kLoad:
            load(address, outcome);
            break;
        case kPrepare:
            prepare(request, address, outcome);
            break;
        case kSum:
            sum(address, outcome);
            break;
        case kWrite:
            write(request, address, outcome);
            break;
        case kReboot:
            reboot(outcome);  // never answered
            break;
        default:
            reply(outcome, Packet(address, {kCmdUpgrade, static_cast<uint8_t>(step | 0x80),
                                            qErrInvalidOption}));
    }
}

void UpgradeLoader::abandonBlock() {
    blockOpen_ = false;
    writeOffset_ = 0;
    sum_ = 0;
    piece_.clear();
    collector_.reset();
}

FirmwareStamps UpgradeLoader::restart() {
    running_ = nextBoot_ == Boot::Loader || knobs_.loaderFromStart;
    committed_ = false;
    nextBoot_ = Boot::Firmware;
    wroteFirmware_ = false;
    abandonBlock();
    FirmwareStamps stamps = pendingStamps_;
    pendingStamps_ = FirmwareStamps();
    return stamps;
}

void UpgradeLoader::init(uint8_t address, Outcome& outcome) {
    abandonBlock();
    Packet packet(address, {kCmdUpgrade, kInit, kLoaderRevision});
    appendBigEndian(packet.data, kLoaderBase, 4);
    if (knobs_.shortInit) {
        packet.data.pop_back();
    }
    reply(outcome, std::move(packet));
}

void UpgradeLoader::prepare(const Packet& request, uint8_t address, Outcome& outcome) {
    const std::vector<uint8_t>& bytes = request.data;
    uint8_t status = bytes.size() < 7 ? uint8_t(qErrShortCommand) : knobs_.prepareStatus;
    if (status == qErrNone && running_) {
        status = firmwarePrepareStatus();
    }
    if (status == qErrNone && running_) {
        uint32_t address = readBigEndian(bytes.data() + 3, 4);
        if (!sawFirmwareBlock_) {
            sawFirmwareBlock_ = true;
            firstFirmwareAddress_ = address;
        }
        if (address == firstFirmwareAddress_) {
            ++firstBlockAttempts_;
        }
    }
    if (status == qErrNone) {
        // bytes[2] holds the block's flags; this loader treats every block alike.
        abandonBlock();
        blockOpen_ = true;
        blockAddress_ = readBigEndian(bytes.data() + 3, 4);
    } else {
        outcome.notes.push_back("refuses the block");
    }
    Packet packet = statusReply(address, status);
    if (running_ || !knobs_.shortLoaderPrepare) {
        appendBigEndian(packet.data, knobs_.blockSize, 2);
    }
    reply(outcome, std::move(packet));
}

void UpgradeLoader::takePiece(const uint8_t* bytes, size_t count) {
    piece_.insert(piece_.end(), bytes, bytes + count);
    for (size_t i = 0; i < count; ++i) {
        sum_ += bytes[i];
    }
}

void UpgradeLoader::data(const Packet& request, uint8_t address, Outcome& outcome) {
    size_t count = request.data.size() - 2;  // at most 26 in a packet of 28 data bytes
    ++dataReceived_;
    bool shortOnPurpose =
        knobs_.alwaysShort || (knobs_.shortCount != 0 && dataReceived_ == knobs_.shortCount);
    size_t accepted = 0;
    if (shortOnPurpose) {
        // A count that is not n tells the host to send the same bytes again.
        accepted = count > 0 ? count - 1 : 1;
        outcome.notes.push_back("refuses the piece");
    } else if (piece_.size() + count <= kMaxPiece) {
        takePiece(request.data.data() + 2, count);
        accepted = count;
    }
    reply(outcome, Packet(address, {kCmdUpgrade, kData, static_cast<uint8_t>(accepted)}));
}

void UpgradeLoader::sum(uint8_t address, Outcome& outcome) {
    ++sumsAnswered_;
    uint32_t reported = sum_;
    if (knobs_.badSum != 0 && sumsAnswered_ == knobs_.badSum) {
        reported += 1;
        outcome.notes.push_back("sends a wrong sum");
    }
    Packet packet = statusReply(address, qErrNone);
    appendBigEndian(packet.data, reported, 4);
    reply(outcome, std::move(packet));
}

uint8_t UpgradeLoader::firmwarePrepareStatus() {
    ++firmwarePrepares_;
    return firmwarePrepares_ <= knobs_.firmwarePrepareRefused ? knobs_.firmwarePrepareStatus
                                                              : uint8_t(qErrNone);
}

bool UpgradeLoader::refusesFirmwareWrite() const {
    // Only the first WRITE of an attempt: the attempt fails there, and the next one starts over.
    return blockAddress_ == firstFirmwareAddress_ && writeOffset_ == 0 &&
           firstBlockAttempts_ <= knobs_.firmwareWriteRefused;
}

uint8_t UpgradeLoader::writeStatus(uint32_t length) const {
    if (!running_ || !blockOpen_) {
        return qErrMode;  // only the running loader writes flash, and only into a block
    }
    if (refusesFirmwareWrite()) {
        return qErrResource;  // the flash did not take the piece
    }
    if (length != piece_.size() || length > knobs_.blockSize) {
        return qErrSize;
    }
    if (blockAddress_ + writeOffset_ + length > (uint64_t(1) << 32)) {
        return qErrRange;
    }
    return qErrNone;
}

void UpgradeLoader::write(const Packet& request, uint8_t address, Outcome& outcome) {
    if (request.data.size() < 4) {
        reply(outcome, statusReply(address, qErrShortCommand));
        return;
    }
    uint32_t length = readBigEndian(request.data.data() + 2, 2);
    uint8_t status = writeStatus(length);
    if (status == qErrNone) {
        flash_.write(static_cast<uint32_t>(blockAddress_ + writeOffset_), piece_.data(),
                     piece_.size());
        writeOffset_ += length;
        wroteFirmware_ = true;
        sum_ = 0;
        piece_.clear();
    }
    reply(outcome, statusReply(address, status));
}

void UpgradeLoader::load(uint8_t address, Outcome& outcome) {
    abandonBlock();
    wroteFirmware_ = false;
    if (knobs_.dropAtLoad) {
        // The loader starts by resetting the module's interface: the host sees the link go and
        // must find the module again.
        nextBoot_ = Boot::Loader;
        outcome.reboot = true;
        outcome.notes.push_back("drops the link at LOAD");
        return;
    }
    running_ = true;
    reply(outcome, Packet(address, {kCmdUpgrade, kLoad}));
}

void UpgradeLoader::reboot(Outcome& outcome) {
    if (knobs_.lostReboot) {
        outcome.notes.push_back("never hears REBOOT");
        return;
    }
    if (!running_ || !wroteFirmware_) {
        return;  // nothing new to boot into
    }
    if (knobs_.bootsOldBuild) {
        outcome.notes.push_back("boots its old firmware");
    } else {
        commit();
        committed_ = true;
    }
    nextBoot_ = Boot::Firmware;
    outcome.reboot = true;
}

void UpgradeLoader::commit() {
    pendingStamps_.hasBuild = flash_.findBuildStamp(pendingStamps_.build);
    pendingStamps_.hasVersion =
        flash_.findVersionStamp(pendingStamps_.major, pendingStamps_.minor, pendingStamps_.patch);
    if (knobs_.flashPath.empty()) {
        return;
    }
    std::string error;
    if (!flash_.saveImage(knobs_.flashPath, error)) {
        fprintf(stderr, "modulesim: %s\n", error.c_str());
    }
}

void UpgradeLoader::ueiData(const Packet& request, uint8_t address, Outcome& outcome) {
    UeiRequest uei;
    uei.command = kCmdUpgrade;
    uei.option = request.data[1] & 0x3F;
    uei.set = (request.data[1] & kOptionSet) != 0;
    bool wellFormed = parseUeiRequest(request, uei);
    ErrorCode refusal = qErrNone;
    if (!wellFormed) {
        refusal = qErrParam;
    } else if (uei.index != 0) {
        refusal = qErrInvalidEntity;
    } else if (uei.option != kUeiDataOption || knobs_.noUeiData) {
        refusal = qErrInvalidOption;
    } else if (!uei.set) {
        refusal = qErrMode;  // block data is only ever sent
    }
    if (refusal != qErrNone) {
        reply(outcome, ueiError(address, uei, refusal));
        return;
    }
    ErrorCode code = qErrNone;
    switch (collector_.add(uei, kMaxPiece - piece_.size(), &code)) {
        case BytesCollector::Result::NeedMore:
            return;  // one acknowledgement for the whole run
        case BytesCollector::Result::Error:
            reply(outcome, ueiError(address, uei, code));
            return;
        case BytesCollector::Result::Complete:
            break;
    }
    takePiece(collector_.bytes().data(), collector_.bytes().size());
    collector_.reset();
    reply(outcome, ueiAck(address, uei));
}

}  // namespace modulesim
