#include "HID_SDPLoader.h"

#include <hidapi.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "Log.h"

namespace {

constexpr uint8_t REPORT_SECURITY = 3;
// Report 3 carries 4 bytes; the kernel may hand it over padded, so only these are kept.
constexpr size_t SECURITY_REPORT_SIZE = 5;
constexpr size_t ANSWER_SIZE = 70;
constexpr size_t VALUE_OFFSET = 6;
constexpr unsigned LAST_OFFSET = 15;
// A ROM answers with two reports; a device that keeps sending is not let hold the caller.
constexpr int MAX_REPORTS_PER_READ = 32;

}  // namespace

HID_SDPLoader::HID_SDPLoader(uint16_t vendorId, uint16_t productId)
    : vendorId_(vendorId), productId_(productId) {}

HID_SDPLoader::~HID_SDPLoader() {
    if (handle_ != nullptr) {
        hid_close(handle_);
        handle_ = nullptr;
    }
    hid_exit();
}

bool HID_SDPLoader::init() {
    if (handle_ != nullptr) {
        hid_close(handle_);
        handle_ = nullptr;
    }
    if (hid_init() != 0) {
        return false;
    }
    handle_ = hid_open(vendorId_, productId_, nullptr);
    Log::log(DEBUG_iMXSerial, "handle: %p\n", static_cast<void*>(handle_));
    return handle_ != nullptr;
}

long HID_SDPLoader::writeData(const std::vector<uint8_t>& command) {
    if (handle_ == nullptr || command.empty()) {
        return -1;
    }
    return hid_write(handle_, command.data(), command.size());
}

long HID_SDPLoader::readData(std::vector<uint8_t>& answer, unsigned timeoutMs) {
    if (handle_ == nullptr) {
        return -1;
    }
    const int timeout = timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
    unsigned char report[REPORT_SIZE] = {};
    long total = 0;
    for (int reports = 0; reports < MAX_REPORTS_PER_READ; ++reports) {
        int got = hid_read_timeout(handle_, report, sizeof report, timeout);
        if (got <= 0) {
            break;
        }
        total += static_cast<long>(appendReport(answer, report, static_cast<size_t>(got)));
        memset(report, 0, sizeof report);
    }
    return total;
}

size_t HID_SDPLoader::appendReport(std::vector<uint8_t>& answer, const unsigned char* report,
                                   size_t got) {
    if (report == nullptr || got == 0) {
        return 0;
    }
    // hidapi never reports more than the buffer holds; the bound keeps a wrong count from
    // reading past it.
    size_t keep = report[0] == REPORT_SECURITY ? SECURITY_REPORT_SIZE : std::min(got, REPORT_SIZE);
    answer.insert(answer.end(), report, report + keep);
    return keep;
}

bool HID_SDPLoader::getDataFromBuffer(const std::vector<uint8_t>& answer, unsigned offset,
                                      uint32_t& value) {
    if (answer.size() != ANSWER_SIZE || offset > LAST_OFFSET) {
        return false;
    }
    const size_t first = offset + VALUE_OFFSET;
    value |= littleEndianAt(answer, first);
    return true;
}
