// Fuzzes what the i.MX boot ROM answers during a loader download. A scripted ROM stands in for
// the device: it hands the fuzz bytes out as the answers to the probe, the data phase, the
// completion wait and the jump, in the HID form (reports collected as the HID transport collects
// them) or the serial form, and lets the real transport find the answer value in them.
//
// Input: one byte of settings (bit 0 HID, bits 1-3 the loader size, bit 4 failing data writes),
// then the answers, each a length byte and that many bytes. In the HID form those bytes are
// reports, each a length byte (the count hidapi returns) and its bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "HID_SDPLoader.h"
#include "Log.h"
#include "SDPLoader.h"
#include "Serial_SDPLoader.h"
#include "FuzzSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFileComplete = 0x88888888;
constexpr uint8_t kReportCommand = 1;
constexpr uint8_t kReportData = 2;
constexpr uint8_t kReportSecurity = 3;
constexpr size_t kHidAnswerSize = 70;
constexpr size_t kLoaderSizes[8] = {0, 1, 4, 1023, 1024, 1025, 2500, 4096};

uint32_t littleEndian(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Where each transport's answer carries its value, as the ROM documents the two forms: after
// report 3 (5 bytes with its id) and the id of report 4 over HID, after the 4 bytes of security
// configuration over the UART.
bool expectedValue(bool hid, const Bytes& answer, unsigned offset, uint32_t* value) {
    if (offset > 15) {
        return false;
    }
    if (hid) {
        if (answer.size() != kHidAnswerSize) {
            return false;
        }
        *value = littleEndian(answer.data() + offset + 6);
        return true;
    }
    if (answer.size() < (offset + 2) * 4) {
        return false;
    }
    *value = littleEndian(answer.data() + offset + 4);
    return true;
}

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return position_ >= size_; }
    uint8_t byte() { return empty() ? 0 : data_[position_++]; }
    // Up to count bytes (fewer at the end of the input).
    Bytes take(size_t count) {
        size_t n = count < size_ - position_ ? count : size_ - position_;
        Bytes bytes(data_ + position_, data_ + position_ + n);
        position_ += n;
        return bytes;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// The HID transport's collection of reports, driven by the fuzz bytes instead of hidapi.
Bytes collectReports(const Bytes& chunk) {
    FuzzInput reports(chunk.data(), chunk.size());
    Bytes answer;
    while (!reports.empty()) {
        size_t got = reports.byte() % (HID_SDPLoader::REPORT_SIZE + 1);
        if (got == 0) {
            break;
        }
        unsigned char report[HID_SDPLoader::REPORT_SIZE] = {};
        Bytes received = reports.take(got);
        if (!received.empty()) {
            memcpy(report, received.data(), received.size());
        }
        size_t before = answer.size();
        size_t added = HID_SDPLoader::appendReport(answer, report, got);
        check(added == (report[0] == kReportSecurity ? 5 : got));
        check(answer.size() == before + added &&
              memcmp(answer.data() + before, report, added) == 0);
    }
    return answer;
}

class ScriptedRom : public SDPLoader_Interface {
  public:
    ScriptedRom(bool hid, bool failDataWrites, FuzzInput& input, SDPLoader_Interface& transport)
        : hid_(hid), failDataWrites_(failDataWrites), input_(input), transport_(transport) {}

    bool init() override { return true; }

    long writeData(const Bytes& command) override {
        check(!command.empty());
        if (command[0] == kReportCommand) {
            check(command.size() == 17);
            lastCommand_ = command;
            sawWriteFile_ = sawWriteFile_ || (command[1] == 0x04 && command[2] == 0x04);
            return static_cast<long>(command.size());
        }
        check(command[0] == kReportData && command.size() >= 2 && command.size() <= 1025);
        if (failDataWrites_) {
            return -1;
        }
        dataSent_ += command.size() - 1;
        return static_cast<long>(command.size());
    }

    long readData(Bytes& answer, unsigned timeoutMs) override {
        lastRead_.clear();
        if (!input_.empty()) {
            Bytes chunk = input_.take(input_.byte());
            lastRead_ = hid_ ? collectReports(chunk) : chunk;
        }
        lastReadTimeout_ = timeoutMs;
        answer.insert(answer.end(), lastRead_.begin(), lastRead_.end());
        return static_cast<long>(lastRead_.size());
    }

    // The real transport decides, on a copy of exactly the answer's size so that any read past
    // its end is caught.
    bool getDataFromBuffer(const Bytes& answer, unsigned offset, uint32_t& value) override {
        Bytes exact(answer.begin(), answer.end());
        exact.shrink_to_fit();
        uint32_t before = value;
        bool accepted = transport_.getDataFromBuffer(exact, offset, value);
        uint32_t expected = 0;
        check(accepted == expectedValue(hid_, answer, offset, &expected));
        check(value == (accepted ? (before | expected) : before));
        return accepted;
    }

    bool sawWriteFile() const { return sawWriteFile_; }
    size_t dataSent() const { return dataSent_; }
    const Bytes& lastRead() const { return lastRead_; }
    unsigned lastReadTimeout() const { return lastReadTimeout_; }
    const Bytes& lastCommand() const { return lastCommand_; }

  private:
    bool hid_;
    bool failDataWrites_;
    FuzzInput& input_;
    SDPLoader_Interface& transport_;
    bool sawWriteFile_ = false;
    size_t dataSent_ = 0;
    Bytes lastRead_;
    unsigned lastReadTimeout_ = 0;
    Bytes lastCommand_;
};

void checkOutcome(int result, const ScriptedRom& rom, size_t loaderSize, bool failDataWrites,
                  bool hid) {
    switch (result) {
        case SDPLoader::WRITE_OK: {
            uint32_t value = 0;
            check(rom.sawWriteFile() && (failDataWrites || rom.dataSent() == loaderSize));
            check(expectedValue(hid, rom.lastRead(), 0, &value) && value == kFileComplete);
            break;
        }
        case SDPLoader::WRITE_NO_ROM:
            check(!rom.sawWriteFile());
            break;
        case SDPLoader::WRITE_ROM_INTERRUPTED:
            check(rom.sawWriteFile() && rom.lastReadTimeout() == 0 && !rom.lastRead().empty());
            break;
        case SDPLoader::WRITE_NOT_COMPLETED:
            check(rom.sawWriteFile());
            break;
        default:
            abort();
    }
}

void checkJump(const ScriptedRom& rom, uint32_t address) {
    const Bytes& jump = rom.lastCommand();
    check(jump.size() == 17 && jump[1] == 0x0B && jump[2] == 0x0B);
    check((static_cast<uint32_t>(jump[3]) << 24 | static_cast<uint32_t>(jump[4]) << 16 |
           static_cast<uint32_t>(jump[5]) << 8 | jump[6]) == address);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static HID_SDPLoader hidTransport(0x1FC9, 0x0130);
    static Serial_SDPLoader serialTransport("/nonexistent/sdp-fuzz");
    logIntoNothing(DEBUG_iMXSerial);
    FuzzInput input(data, size);
    uint8_t settings = input.byte();
    bool hid = (settings & 0x01) != 0;
    bool failDataWrites = (settings & 0x10) != 0;
    size_t loaderSize = kLoaderSizes[(settings >> 1) & 0x07];
    SDPLoader_Interface& transport =
        hid ? static_cast<SDPLoader_Interface&>(hidTransport) : serialTransport;

    auto* rom = new ScriptedRom(hid, failDataWrites, input, transport);
    SDPLoader loader;
    check(loader.setLoader(rom) && loader.init() == SDPLoader::INIT_OK);
    Bytes image(loaderSize, 0x5A);
    int result = loader.writeLoader(image, 0x20000000);
    checkOutcome(result, *rom, loaderSize, failDataWrites, hid);
    loader.startLoader(0x20000400);
    checkJump(*rom, 0x20000400);
    return 0;
}
