#include "IspCommands.h"

#include <algorithm>

#include "Decimal.h"
#include "Sectors.h"

namespace lpcsim {

namespace {

constexpr uint32_t kUnlockCode = 23130;
// While the ROM runs, the first 64 bytes of the address space show its own vector table, not
// the user's: the stack pointer in the ISP work area and handlers inside the boot ROM.
constexpr uint32_t kRemappedBytes = 64;
constexpr uint32_t kBootRomVectors[kRemappedBytes / 4] = {
    0x10000200, 0x1FFF0081, 0x1FFF0085, 0x1FFF0085, 0x1FFF0085, 0x1FFF0085, 0x1FFF0085, 0x00000000,
    0x00000000, 0x00000000, 0x00000000, 0x1FFF0085, 0x1FFF0085, 0x00000000, 0x1FFF0085, 0x1FFF0085,
};

CommandOutcome answer(IspCode code) {
    CommandOutcome outcome;
    outcome.reply = codeLine(code);
    return outcome;
}

CommandOutcome success(const std::vector<std::string>& results = {}) {
    CommandOutcome outcome = answer(IspCode::Success);
    for (const std::string& result : results) {
        outcome.reply += result + "\r\n";
    }
    return outcome;
}

// The ROM takes its parameters as plain decimal numbers.
bool decimal(const std::string& text, uint32_t* value) {
    uint64_t parsed = 0;
    if (!parseDecimal(text, 10, &parsed) || parsed > 0xFFFFFFFFull) {
        return false;
    }
    *value = static_cast<uint32_t>(parsed);
    return true;
}

// Exactly `count` decimal parameters, or false.
bool numbers(const std::vector<std::string>& args, size_t count, std::vector<uint32_t>* out) {
    if (args.size() != count) {
        return false;
    }
    out->resize(count);
    for (size_t i = 0; i < count; ++i) {
        if (!decimal(args[i], &(*out)[i])) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        size_t start = line.find_first_not_of(' ', at);
        if (start == std::string::npos) {
            break;
        }
        size_t end = std::min(line.find(' ', start), line.size());
        words.push_back(line.substr(start, end - start));
        at = end;
    }
    return words;
}

// A sector range as P, E and I take it: both valid, end not before start.
bool sectorRange(const std::vector<uint32_t>& values) {
    return isValidSector(values[0]) && isValidSector(values[1]) && values[1] >= values[0];
}

}  // namespace

IspCommands::IspCommands(const SimOptions& options, DeviceMemory& memory)
    : options_(options), memory_(memory), echo_(!options.echoOff) {}

const std::map<char, IspCommands::Handler>& IspCommands::handlers() {
    static const std::map<char, Handler> table = {
        {'U', &IspCommands::unlock},       {'B', &IspCommands::setBaudRate},
        {'A', &IspCommands::setEcho},      {'W', &IspCommands::writeToRam},
        {'R', &IspCommands::readMemory},   {'P', &IspCommands::prepareSectors},
        {'C', &IspCommands::copyToFlash},  {'G', &IspCommands::go},
        {'E', &IspCommands::eraseSectors}, {'I', &IspCommands::blankCheck},
        {'J', &IspCommands::partId},       {'K', &IspCommands::bootCodeVersion},
        {'M', &IspCommands::compare},      {'N', &IspCommands::serialNumber},
    };
    return table;
}

CommandOutcome IspCommands::execute(const std::string& line) {
    Words words = splitWords(line);
    if (words.empty() || words[0].size() != 1) {
        return answer(IspCode::InvalidCommand);
    }
    auto handler = handlers().find(words[0][0]);
    if (handler == handlers().end()) {
        return answer(IspCode::InvalidCommand);
    }
    if (words[0][0] == options_.busyCommand && !busyAnswered_) {
        busyAnswered_ = true;
        return answer(IspCode::Busy);
    }
    Words args(words.begin() + 1, words.end());
    return (this->*handler->second)(args);
}

CommandOutcome IspCommands::unlock(const Words& args) {
    std::vector<uint32_t> values;
    if (!numbers(args, 1, &values)) {
        return answer(IspCode::ParamError);
    }
    if (values[0] != kUnlockCode) {
        return answer(IspCode::InvalidCode);
    }
    unlocked_ = true;
    return success();
}

CommandOutcome IspCommands::setBaudRate(const Words& args) {
    static const uint32_t rates[] = {9600, 19200, 38400, 57600, 115200, 230400};
    std::vector<uint32_t> values;
    if (!numbers(args, 2, &values)) {
        return answer(IspCode::ParamError);
    }
    if (std::find(std::begin(rates), std::end(rates), values[0]) == std::end(rates)) {
        return answer(IspCode::InvalidBaudRate);
    }
    if (values[1] != 1 && values[1] != 2) {
        return answer(IspCode::InvalidStopBit);
    }
    // A pseudo-terminal has no line rate of its own: the host sets the rate on its side.
    return success();
}

CommandOutcome IspCommands::setEcho(const Words& args) {
    std::vector<uint32_t> values;
    if (!numbers(args, 1, &values) || values[0] > 1) {
        return answer(IspCode::ParamError);
    }
    echo_ = values[0] == 1;
    return success();
}

// W and R take the same arguments and checks: a word-aligned address, a count of whole words,
// and a range the command may reach (user RAM for W, anything mapped for R).
CommandOutcome IspCommands::memoryTransfer(const Words& args, bool ramOnly,
                                           CommandOutcome::Next next) {
    std::vector<uint32_t> values;
    if (!numbers(args, 2, &values)) {
        return answer(IspCode::ParamError);
    }
    uint32_t address = values[0];
    uint32_t count = values[1];
    if (address % 4 != 0) {
        return answer(IspCode::AddrError);
    }
    if (count == 0 || count % 4 != 0) {
        return answer(IspCode::CountError);
    }
    bool reachable = ramOnly ? memory_.isUserRam(address, count) : memory_.isMapped(address, count);
    if (!reachable) {
        return answer(IspCode::AddrNotMapped);
    }
    CommandOutcome outcome = success();
    outcome.next = next;
    outcome.address = address;
    outcome.count = count;
    return outcome;
}

CommandOutcome IspCommands::writeToRam(const Words& args) {
    return memoryTransfer(args, true, CommandOutcome::Next::ReceiveData);
}

CommandOutcome IspCommands::readMemory(const Words& args) {
    return memoryTransfer(args, false, CommandOutcome::Next::SendData);
}

CommandOutcome IspCommands::prepareSectors(const Words& args) {
    std::vector<uint32_t> values;
    if (!numbers(args, 2, &values)) {
        return answer(IspCode::ParamError);
    }
    if (!sectorRange(values)) {
        return answer(IspCode::InvalidSector);
    }
    memory_.flash().prepare(static_cast<int>(values[0]), static_cast<int>(values[1]));
    return success();
}

CommandOutcome IspCommands::copyToFlash(const Words& args) {
    static const uint32_t sizes[] = {256, 512, 1024, 4096};
    std::vector<uint32_t> values;
    if (!numbers(args, 3, &values)) {
        return answer(IspCode::ParamError);
    }
    uint32_t flashAddress = values[0];
    uint32_t ramAddress = values[1];
    uint32_t count = values[2];
    if (!unlocked_) {
        return answer(IspCode::CmdLocked);
    }
    if (ramAddress % 4 != 0) {
        return answer(IspCode::SrcAddrError);
    }
    if (flashAddress % 256 != 0) {
        return answer(IspCode::DstAddrError);
    }
    if (std::find(std::begin(sizes), std::end(sizes), count) == std::end(sizes)) {
        return answer(IspCode::CountError);
    }
    if (!memory_.isUserRam(ramAddress, count)) {
        return answer(IspCode::SrcAddrNotMapped);
    }
    if (!memory_.isFlash(flashAddress, count)) {
        return answer(IspCode::DstAddrNotMapped);
    }
    int first = sectorOf(flashAddress);
    int last = sectorOf(flashAddress + count - 1);
    if (!memory_.flash().allPrepared(first, last)) {
        return answer(IspCode::SectorNotPrepared);
    }
    std::vector<uint8_t> data = memory_.read(ramAddress, count);
    std::string note = dropUnprogrammedByte(flashAddress, data);
    memory_.flash().program(flashAddress, data.data(), data.size());
    ++copies_;
    CommandOutcome outcome = success();
    outcome.busyMs = options_.writeMsPer256 * (count / 256);
    outcome.flashChanged = true;
    outcome.note = note;
    return outcome;
}

std::string IspCommands::dropUnprogrammedByte(uint32_t flashAddress,
                                              std::vector<uint8_t>& data) const {
    const uint32_t address = options_.unprogrammedByte;
    if (!options_.hasUnprogrammedByte || address < flashAddress ||
        address - flashAddress >= data.size()) {
        return "";
    }
    // Programming only clears bits: an 0xFF in the data leaves the cell as it is.
    uint8_t& byte = data[address - flashAddress];
    if (byte == 0xFF) {
        return "";
    }
    byte = 0xFF;
    return "flash byte " + std::to_string(address) + " did not program";
}

CommandOutcome IspCommands::go(const Words& args) {
    uint32_t address = 0;
    if (args.size() != 2 || !decimal(args[0], &address) || (args[1] != "T" && args[1] != "A")) {
        return answer(IspCode::ParamError);
    }
    if (!unlocked_) {
        return answer(IspCode::CmdLocked);
    }
    if (!memory_.isMapped(address, 4)) {
        return answer(IspCode::AddrNotMapped);
    }
    CommandOutcome outcome = success();
    outcome.next = CommandOutcome::Next::Run;
    outcome.address = address;
    return outcome;
}

CommandOutcome IspCommands::eraseSectors(const Words& args) {
    std::vector<uint32_t> values;
    if (!numbers(args, 2, &values)) {
        return answer(IspCode::ParamError);
    }
    if (!unlocked_) {
        return answer(IspCode::CmdLocked);
    }
    if (!sectorRange(values)) {
        return answer(IspCode::InvalidSector);
    }
    int first = static_cast<int>(values[0]);
    int last = static_cast<int>(values[1]);
    if (!memory_.flash().allPrepared(first, last)) {
        return answer(IspCode::SectorNotPrepared);
    }
    memory_.flash().erase(first, last);
    CommandOutcome outcome = success();
    outcome.busyMs = options_.eraseMsPerSector * static_cast<unsigned>(last - first + 1);
    outcome.flashChanged = true;
    return outcome;
}

CommandOutcome IspCommands::blankCheck(const Words& args) {
    std::vector<uint32_t> values;
    if (!numbers(args, 2, &values)) {
        return answer(IspCode::ParamError);
    }
    if (!sectorRange(values)) {
        return answer(IspCode::InvalidSector);
    }
    int first = static_cast<int>(values[0]);
    long offset = memory_.flash().firstNonBlank(first, static_cast<int>(values[1]));
    if (offset < 0) {
        return success();
    }
    uint32_t wordOffset = static_cast<uint32_t>(offset) & ~3u;
    std::vector<uint8_t> word = memory_.read(sectorStart(first) + wordOffset, 4);
    uint32_t contents = static_cast<uint32_t>(word[0]) | static_cast<uint32_t>(word[1]) << 8 |
                        static_cast<uint32_t>(word[2]) << 16 | static_cast<uint32_t>(word[3]) << 24;
    CommandOutcome outcome = answer(IspCode::SectorNotBlank);
    outcome.reply += std::to_string(wordOffset) + "\r\n" + std::to_string(contents) + "\r\n";
    return outcome;
}

CommandOutcome IspCommands::partId(const Words& args) {
    if (!args.empty()) {
        return answer(IspCode::ParamError);
    }
    return success({std::to_string(options_.partId)});
}

CommandOutcome IspCommands::bootCodeVersion(const Words& args) {
    if (!args.empty()) {
        return answer(IspCode::ParamError);
    }
    return success({std::to_string(options_.bootMajor), std::to_string(options_.bootMinor)});
}

// "M address1 address2 count": both on a word, count a multiple of 4, each range wholly in
// flash or RAM. A difference answers COMPARE_ERROR and then the offset of the first differing
// byte from the start of the ranges.
CommandOutcome IspCommands::compare(const Words& args) {
    std::vector<uint32_t> values;
    if (!numbers(args, 3, &values)) {
        return answer(IspCode::ParamError);
    }
    uint32_t count = values[2];
    if (values[0] % 4 != 0 || values[1] % 4 != 0) {
        return answer(IspCode::AddrError);
    }
    if (count == 0 || count % 4 != 0) {
        return answer(IspCode::CountError);
    }
    if (!memory_.isMapped(values[0], count) || !memory_.isMapped(values[1], count)) {
        return answer(IspCode::AddrNotMapped);
    }
    std::vector<uint8_t> first = compareView(values[0], count);
    std::vector<uint8_t> second = compareView(values[1], count);
    auto mismatch = std::mismatch(first.begin(), first.end(), second.begin());
    if (mismatch.first == first.end()) {
        return success();
    }
    uint32_t offset = static_cast<uint32_t>(mismatch.first - first.begin());
    CommandOutcome outcome = answer(IspCode::CompareError);
    outcome.reply += std::to_string(offset) + "\r\n";
    return outcome;
}

std::vector<uint8_t> IspCommands::compareView(uint32_t address, uint32_t count) const {
    std::vector<uint8_t> bytes = memory_.read(address, count);
    for (uint32_t at = address; at < kRemappedBytes && at - address < count; ++at) {
        bytes[at - address] = static_cast<uint8_t>(kBootRomVectors[at / 4] >> (8 * (at % 4)));
    }
    return bytes;
}

CommandOutcome IspCommands::serialNumber(const Words& args) {
    if (!args.empty()) {
        return answer(IspCode::ParamError);
    }
    std::vector<std::string> words;
    for (uint32_t word : options_.deviceId) {
        words.push_back(std::to_string(word));
    }
    return success(words);
}

}  // namespace lpcsim
