#include "SDPLoader.h"

#include <sys/types.h>

#include <algorithm>

#include "Log.h"

namespace {

// HID report ids; the UART carries the same bytes without them.
constexpr uint8_t REPORT_COMMAND = 1;
constexpr uint8_t REPORT_DATA = 2;

constexpr uint16_t COMMAND_WRITE_FILE = 0x0404;
constexpr uint16_t COMMAND_ERROR_STATUS = 0x0505;
constexpr uint16_t COMMAND_JUMP_ADDRESS = 0x0B0B;
constexpr uint8_t FORMAT_32BIT = 0x20;

constexpr uint32_t FILE_COMPLETE = 0x88888888;
constexpr size_t DATA_PER_REPORT = 1024;
constexpr int PROBE_ATTEMPTS = 5;
constexpr unsigned ANSWER_TIMEOUT_MS = 100;

void putBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

// One 16-byte command behind its report id.
std::vector<uint8_t> makeCommand(uint16_t type, uint32_t address, uint8_t format, uint32_t count) {
    std::vector<uint8_t> command{REPORT_COMMAND};
    std::vector<uint8_t> bytes = SDPLoader::commandBytes(type, address, format, count);
    command.insert(command.end(), bytes.begin(), bytes.end());
    return command;
}

void dump(const std::vector<uint8_t>& bytes) {
    for (uint8_t byte : bytes) {
        Log::log(DEBUG_iMXSerial, "%X ", byte);
    }
    Log::log(DEBUG_iMXSerial, "\n");
}

}  // namespace

std::vector<uint8_t> SDPLoader::commandBytes(uint16_t type, uint32_t address, uint8_t format,
                                             uint32_t count) {
    std::vector<uint8_t> command;
    command.reserve(16);
    putBigEndian(command, type, 2);
    putBigEndian(command, address, 4);
    command.push_back(format);
    putBigEndian(command, count, 4);
    putBigEndian(command, 0, 4);
    command.push_back(0);
    return command;
}

uint32_t SDPLoader_Interface::littleEndianAt(const std::vector<uint8_t>& answer, size_t first) {
    return static_cast<uint32_t>(answer[first]) | static_cast<uint32_t>(answer[first + 1]) << 8 |
           static_cast<uint32_t>(answer[first + 2]) << 16 |
           static_cast<uint32_t>(answer[first + 3]) << 24;
}

SDPLoader::~SDPLoader() = default;

bool SDPLoader::setLoader(SDPLoader_Interface* loader) {
    if (loader == nullptr || loader_) {
        return false;
    }
    loader_.reset(loader);
    return true;
}

int SDPLoader::init() {
    if (!loader_) {
        return INIT_NO_LOADER;
    }
    return loader_->init() ? INIT_OK : INIT_FAILED;
}

int SDPLoader::writeLoader(std::vector<uint8_t> bytes, unsigned address) {
    if (!loader_ || !_isConnectionAlive()) {
        return WRITE_NO_ROM;
    }
    long written = sendCommand(makeCommand(COMMAND_WRITE_FILE, address, FORMAT_32BIT,
                                           static_cast<uint32_t>(bytes.size())));
    Log::log(DEBUG_iMXSerial, "Write Res: %zd\n", static_cast<ssize_t>(written));
    int result = sendFileData(bytes);
    if (result != WRITE_OK) {
        return result;
    }
    return awaitFileComplete();
}

void SDPLoader::startLoader(unsigned address) {
    if (!loader_) {
        return;
    }
    sendCommand(makeCommand(COMMAND_JUMP_ADDRESS, address, 0, 0));
    std::vector<uint8_t> answer;
    loader_->readData(answer, ANSWER_TIMEOUT_MS);
    dump(answer);
}

// The error-status command changes nothing in the ROM, so it is safe to repeat until it answers.
bool SDPLoader::_isConnectionAlive() {
    for (int attempt = 0; attempt < PROBE_ATTEMPTS; ++attempt) {
        long written = sendCommand(makeCommand(COMMAND_ERROR_STATUS, 0, 0, 0));
        Log::log(DEBUG_iMXSerial, "bytesWritten: %zu\n", static_cast<size_t>(written));
        std::vector<uint8_t> answer;
        long got = loader_->readData(answer, ANSWER_TIMEOUT_MS);
        Log::log(DEBUG_iMXSerial, "Read Data: %zd\n", static_cast<ssize_t>(got));
        dump(answer);
        uint32_t value = 0;
        if (loader_->getDataFromBuffer(answer, 0, value)) {
            return true;
        }
    }
    Log::log(DEBUG_iMXSerial, "Error: No ack from iMX device\n");
    return false;
}

long SDPLoader::sendCommand(const std::vector<uint8_t>& command) {
    dump(command);
    return loader_->writeData(command);
}

// The ROM stays silent while it takes data; anything it says in between is an error report.
int SDPLoader::sendFileData(const std::vector<uint8_t>& bytes) {
    size_t consumed = 0;
    int total = 0;
    for (int loop = 0; consumed < bytes.size(); ++loop) {
        std::vector<uint8_t> early;
        if (loader_->readData(early, 0) > 0) {
            dump(early);
            Log::log(DEBUG_iMXSerial, "Error while transfering loader. Aborting\n");
            return WRITE_ROM_INTERRUPTED;
        }
        size_t chunk = std::min(DATA_PER_REPORT, bytes.size() - consumed);
        std::vector<uint8_t> report;
        report.reserve(chunk + 1);
        report.push_back(REPORT_DATA);
        report.insert(report.end(), bytes.begin() + consumed, bytes.begin() + consumed + chunk);
        long written = loader_->writeData(report);
        consumed += chunk;
        if (written > 0) {
            total += static_cast<int>(written);
        }
        Log::log(DEBUG_iMXSerial, "Write Res: %zd , Total: %d, Loop: %d, tell: %ld, size: %zd\n",
                 static_cast<ssize_t>(written), total, loop, static_cast<long>(consumed),
                 static_cast<ssize_t>(bytes.size()));
        // A transport that failed to send a report will not get the rest through either; the
        // ROM then never confirms the file.
        if (written < 0) {
            break;
        }
    }
    Log::log(DEBUG_iMXSerial, "Written Bytes: %d\n", total);
    return WRITE_OK;
}

int SDPLoader::awaitFileComplete() {
    std::vector<uint8_t> answer;
    loader_->readData(answer, ANSWER_TIMEOUT_MS);
    Log::log(DEBUG_iMXSerial, "Data Read: \n");
    dump(answer);
    uint32_t value = 0;
    if (loader_->getDataFromBuffer(answer, 0, value) && value == FILE_COMPLETE) {
        Log::log(DEBUG_iMXSerial, "Loader Transfer Successful\n");
        return WRITE_OK;
    }
    Log::log(DEBUG_iMXSerial, "Loader Transfer Unsuccessful\n");
    return WRITE_NOT_COMPLETED;
}
