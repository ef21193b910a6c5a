#include "ImxHarness.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

#include "SDPLoader.h"

namespace imxtest {

namespace {

constexpr size_t kPieceSize = 1024;
constexpr const char* kProbeOutVariable = "ZV_IMX_PROBE_OUT";
constexpr const char* kProbeArgVariable = "ZV_IMX_PROBE_ARG";

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string withOld(const char* name, const std::string& value, const char* separator) {
    const char* old = std::getenv(name);
    return old != nullptr && *old != '\0' ? value + separator + old : value;
}

}  // namespace

Bytes sdpCommand(uint16_t type, uint32_t address, uint8_t format, uint32_t count) {
    return SDPLoader::commandBytes(type, address, format, count);
}

Bytes answerBytes(const std::vector<uint32_t>& words) {
    Bytes bytes;
    for (uint32_t word : words) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<uint8_t>(word >> shift));
        }
    }
    return bytes;
}

Bytes pattern(size_t count, uint32_t seed) {
    Bytes bytes(count);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

ImxSim::ImxSim() = default;

ImxSim::~ImxSim() {
    if (rom_ >= 0) {
        close(rom_);
    }
}

bool ImxSim::start(const std::string& description, std::string* why) {
    program_ = std::make_unique<zvtest::BackgroundProgram>(
        zvtest::modulesimBinary(),
        std::vector<std::string>{"--duration", "120", "--log", "--module", description},
        file("sim.log"));
    if (!program_->waitReady(30000)) {
        *why = "modulesim did not start: " + zvtest::readFile(file("sim.log"));
        return false;
    }
    std::string rom = program_->startupValue("imx-rom");
    if (rom.empty()) {
        rom = program_->startupValue("imx-rom-hid");
    }
    romPath_ = rom.substr(rom.find(' ') + 1);
    usbRoot_ = program_->startupValue("umockdev");
    if (rom.empty() || usbRoot_.empty()) {
        *why = "modulesim printed no ROM terminal or no USB bus";
        return false;
    }
    return true;
}

bool ImxSim::openRom() {
    rom_ = open(romPath_.c_str(), O_RDWR | O_NOCTTY);
    termios settings{};
    if (rom_ < 0 || tcgetattr(rom_, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    cfsetspeed(&settings, B115200);
    return tcsetattr(rom_, TCSANOW, &settings) == 0;
}

void ImxSim::send(const Bytes& bytes) {
    size_t done = 0;
    while (rom_ >= 0 && done < bytes.size()) {
        ssize_t n = write(rom_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
}

Bytes ImxSim::receive(size_t count, int timeoutMs) {
    Bytes bytes;
    int64_t deadline = nowMs() + timeoutMs;
    while (bytes.size() < count) {
        int64_t left = deadline - nowMs();
        pollfd p{rom_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1) {
            break;
        }
        uint8_t chunk[256];
        ssize_t n = read(rom_, chunk, std::min(sizeof chunk, count - bytes.size()));
        if (n <= 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

bool ImxSim::quietFor(int ms) {
    return receive(1, ms).empty();
}

size_t ImxSim::countNotes(const std::string& text) const {
    size_t count = 0;
    for (const std::string& line : zvtest::splitLines(zvtest::readFile(scratch_.file("sim.log")))) {
        if (line.size() >= text.size() &&
            line.compare(line.size() - text.size(), text.size(), text) == 0) {
            ++count;
        }
    }
    return count;
}

bool ImxSim::awaitNote(const std::string& text, int timeoutMs) const {
    int64_t deadline = nowMs() + timeoutMs;
    while (countNotes(text) == 0) {
        if (nowMs() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

Bytes ImxSim::writeFile(uint32_t address, const Bytes& bytes) {
    send(sdpCommand(kWriteFile, address, 0x20, static_cast<uint32_t>(bytes.size())));
    for (size_t sent = 0; sent < bytes.size(); sent += kPieceSize) {
        size_t piece = std::min(kPieceSize, bytes.size() - sent);
        send(Bytes(bytes.begin() + static_cast<long>(sent),
                   bytes.begin() + static_cast<long>(sent + piece)));
    }
    return receive(8);
}

bool ImxSim::loadAndStart(const Bytes& loader, const std::string& serial) {
    if (writeFile(kLoadAddress, loader) != answerBytes({0x56787856, 0x88888888})) {
        return false;
    }
    send(sdpCommand(kJumpAddress, kStartAddress));
    return receive(4) == answerBytes({0x56787856}) &&
           awaitNote("recovery loader runs as " + serial);
}

std::string runProbe(const ImxSim& sim, const std::string& name, const std::string& argument,
                     bool* passed) {
    char self[PATH_MAX] = {};
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string out = sim.file("probe-" + name + ".out");
    zvtest::writeFile(out, "");
    std::vector<std::string> environment = {
        std::string(kProbeOutVariable) + "=" + out, std::string(kProbeArgVariable) + "=" + argument,
        "UMOCKDEV_DIR=" + sim.usbRoot(),
        "LD_PRELOAD=" + withOld("LD_PRELOAD", "libumockdev-preload.so.0", ":"),
        // The preload comes before a sanitizer's runtime, which it tolerates when told to.
        "ASAN_OPTIONS=" + withOld("ASAN_OPTIONS", "verify_asan_link_order=0", ":")};
    zvtest::RunResult result = zvtest::runProgram(
        std::string(self, length > 0 ? static_cast<size_t>(length) : 0),
        {"--gtest_filter=ImxLoaderProbe.DISABLED_" + name, "--gtest_also_run_disabled_tests"},
        environment);
    *passed = result.exitCode == 0 && result.out.find("[  PASSED  ] 1 test") != std::string::npos;
    std::string findings = zvtest::readFile(out);
    return *passed ? findings : findings + "\n--- probe output ---\n" + result.out + result.err;
}

std::string probeArgument() {
    const char* argument = std::getenv(kProbeArgVariable);
    return argument != nullptr ? argument : "";
}

void probeReport(const std::string& text) {
    const char* out = std::getenv(kProbeOutVariable);
    if (out != nullptr) {
        zvtest::writeFile(out, zvtest::readFile(out) + text);
    }
}

}  // namespace imxtest
