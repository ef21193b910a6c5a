// The ROM's Serial Download Protocol over USB HID, through hidapi: commands go out as report 1,
// file data as report 2, and each answer comes back as report 3 (security configuration) then
// report 4 (the answer value).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "SDPLoader.h"

struct hid_device_;

class HID_SDPLoader : public SDPLoader_Interface {
  public:
    // The largest report hidapi hands over: the id and 64 bytes.
    static constexpr size_t REPORT_SIZE = 65;

    HID_SDPLoader(uint16_t vendorId, uint16_t productId);
    ~HID_SDPLoader() override;
    HID_SDPLoader(const HID_SDPLoader&) = delete;
    HID_SDPLoader& operator=(const HID_SDPLoader&) = delete;

    // Opens the first device with the vendor and product id.
    bool init() override;
    long writeData(const std::vector<uint8_t>& command) override;
    long readData(std::vector<uint8_t>& answer, unsigned timeoutMs) override;
    // answer must be exactly report 3 and report 4 with their ids (70 bytes).
    bool getDataFromBuffer(const std::vector<uint8_t>& answer, unsigned offset,
                           uint32_t& value) override;
    // Adds one report (REPORT_SIZE bytes, got of them received) to answer the way readData
    // collects an answer; returns the number of bytes added.
    static size_t appendReport(std::vector<uint8_t>& answer, const unsigned char* report,
                               size_t got);

  private:
    hid_device_* handle_ = nullptr;
    uint16_t vendorId_;
    uint16_t productId_;
};
