#include "UpgradeFixture.h"

#include <chrono>
#include <sstream>
#include <thread>

#include "../../component/SimulatedModule.h"
#include "Log.h"

namespace upgradetest {

void UpgradeTest::TearDown() {
    module.disconnect();
    Log::SetOutput(nullptr);
    Log::DeactivatePackage(0xFFFFFFFFu);
    if (logFile != nullptr) {
        fclose(logFile);
    }
}

std::string UpgradeTest::moduleDescription(const std::string& keys) const {
    std::string description =
        "serial=40F5849A,model=15,address=4,build=1000,reboot-ms=200,"
        "flash=" +
        dir.file("flash.bin") + ",tcp=127.0.0.1:0";
    if (!keys.empty()) {
        description += "," + keys;
    }
    return description;
}

void UpgradeTest::startModule(const std::string& keys) {
    sim = componenttest::startSimulator({moduleDescription(keys)});
    componenttest::useDirectLink(module);
    ASSERT_EQ(module.connectFromSpec(componenttest::tcpSpec(*sim, kSerial)), qErrNone);
}

std::vector<uint8_t> UpgradeTest::block(uint32_t address, size_t length, uint8_t seed) {
    std::vector<uint8_t> bytes = {uint8_t(address >> 24), uint8_t(address >> 16),
                                  uint8_t(address >> 8), uint8_t(address)};
    for (size_t i = 0; i < length; ++i) {
        bytes.push_back(static_cast<uint8_t>(i * 7 + seed + (i >> 8)));
    }
    return bytes;
}

void UpgradeTest::watch() {
    ASSERT_EQ(module.enablePacketLog(dir.file("packets.log").c_str()), qErrNone);
    logFile = fopen(dir.file("diagnostic.log").c_str(), "w+");
    ASSERT_NE(logFile, nullptr);
    Log::SetOutput(logFile);
    Log::ActivatePackage(DEBUG_Network_FIRM | DEBUG_Network | DEBUG_Updater);
}

namespace {

// "N > 0xADDR 0xLEN 0xCMD 0xSUB ..." lines of packets the host sent.
std::vector<SentPacket> parseSent(const std::string& log) {
    std::vector<SentPacket> packets;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string count, direction;
        words >> count >> direction;
        if (direction != ">") {
            continue;
        }
        std::vector<int> bytes;
        std::string word;
        while (words >> word) {
            bytes.push_back(std::stoi(word, nullptr, 16));
        }
        if (bytes.size() < 4 || bytes[2] != 95) {
            continue;
        }
        SentPacket packet;
        packet.command = bytes[2];
        packet.sub = bytes[3];
        packet.dataLength = bytes[1] - 1;
        packet.data.assign(bytes.begin() + 3, bytes.end());
        packets.push_back(packet);
    }
    return packets;
}

}  // namespace

std::vector<SentPacket> UpgradeTest::sentUpgradePackets(size_t minimum) {
    std::vector<SentPacket> packets;
    // The log is written by the link's logger thread, a moment after the packets went.
    for (int wait = 0; wait < 100; ++wait) {
        packets = parseSent(zvtest::readFile(dir.file("packets.log")));
        if (packets.size() >= minimum) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return packets;
}

std::string UpgradeTest::diagnosticLog() {
    fflush(logFile);
    return zvtest::readFile(dir.file("diagnostic.log"));
}

}  // namespace upgradetest
