// A scripted i.MX ROM behind the transport interface: it records every vector the loader hands
// over and answers as the ROM would (serial answer shape: 4 bytes of security configuration, then
// the 4-byte value, little-endian), with knobs to make it misbehave.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "SDPLoader.h"

struct SdpFakeRomScript {
    bool initSucceeds = true;
    // Probes left unanswered before the ROM starts answering; 5 or more keeps it silent.
    int silentProbes = 0;
    // After this many data reports the ROM reports an error; negative: never.
    int complainAfterReports = -1;
    // Value sent once the whole file arrived; nothing at all when answerFileComplete is false.
    bool answerFileComplete = true;
    uint32_t fileCompleteValue = 0x88888888;
    // Data reports from this one on (counted from 0) fail to be written; negative: none fail.
    int failingReport = -1;
};

class SdpFakeRom : public SDPLoader_Interface {
  public:
    struct Record {
        std::vector<std::vector<uint8_t>> writes;
        std::vector<unsigned> readTimeouts;
        int initCalls = 0;
        bool destroyed = false;
    };

    SdpFakeRom(const SdpFakeRomScript& script, Record& record) : script_(script), record_(record) {}
    ~SdpFakeRom() override { record_.destroyed = true; }

    bool init() override {
        ++record_.initCalls;
        return script_.initSucceeds;
    }

    long writeData(const std::vector<uint8_t>& command) override {
        record_.writes.push_back(command);
        if (command.at(0) == 2) {
            return takeData(command);
        }
        takeCommand(command);
        return static_cast<long>(command.size());
    }

    long readData(std::vector<uint8_t>& answer, unsigned timeoutMs) override {
        record_.readTimeouts.push_back(timeoutMs);
        answer.insert(answer.end(), pending_.begin(), pending_.end());
        long count = static_cast<long>(pending_.size());
        pending_.clear();
        return count;
    }

    bool getDataFromBuffer(const std::vector<uint8_t>& answer, unsigned offset,
                           uint32_t& value) override {
        if (offset > 15 || answer.size() < (offset + 2) * 4) {
            return false;
        }
        for (int i = 3; i >= 0; --i) {
            value |= static_cast<uint32_t>(answer[offset + 4 + i]) << (8 * i);
        }
        return true;
    }

  private:
    static uint32_t bigEndian(const std::vector<uint8_t>& bytes, size_t at) {
        return static_cast<uint32_t>(bytes.at(at)) << 24 | bytes.at(at + 1) << 16 |
               bytes.at(at + 2) << 8 | bytes.at(at + 3);
    }

    void answer(uint32_t value) {
        const uint8_t open[4] = {0x56, 0x78, 0x78, 0x56};
        pending_.insert(pending_.end(), open, open + 4);
        for (int i = 0; i < 4; ++i) {
            pending_.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    }

    void takeCommand(const std::vector<uint8_t>& command) {
        uint32_t type = static_cast<uint32_t>(command.at(1)) << 8 | command.at(2);
        if (type == 0x0505) {
            if (probes_++ >= script_.silentProbes) {
                answer(0xF0F0F0F0);
            }
        } else if (type == 0x0404) {
            expected_ = bigEndian(command, 8);
            received_ = 0;
            reports_ = 0;
            finishIfComplete();
        } else if (type == 0x0B0B) {
            answer(0x12345678);
        }
    }

    long takeData(const std::vector<uint8_t>& report) {
        if (script_.failingReport >= 0 && reports_ >= script_.failingReport) {
            ++reports_;
            return -1;
        }
        received_ += report.size() - 1;
        ++reports_;
        if (reports_ == script_.complainAfterReports) {
            answer(0x12341234);
        } else {
            finishIfComplete();
        }
        return static_cast<long>(report.size());
    }

    void finishIfComplete() {
        if (received_ == expected_ && script_.answerFileComplete) {
            answer(script_.fileCompleteValue);
        }
    }

    SdpFakeRomScript script_;
    Record& record_;
    std::deque<uint8_t> pending_;
    int probes_ = 0;
    uint32_t expected_ = 0;
    uint32_t received_ = 0;
    int reports_ = 0;
};
