// The i.MX boot ROM as a USB HID device on the emulated bus, reached as a host reaches it with
// hidapi's hidraw backend: found by vendor and product id, commands in report 1, data in report
// 2, answers in reports 3 (the mode) and 4 (64 bytes, the value first). hidapi is loaded at run
// time, in a probe that sees the bus (see ImxHarness.h).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ImxHarness.h"

namespace {

using imxtest::Bytes;

constexpr const char* kHidapi = "libhidapi-hidraw.so.0";

// The few hidapi calls a host makes, taken from the library.
struct Hidapi {
    void* library = dlopen(kHidapi, RTLD_NOW);
    int (*init)() = nullptr;
    void* (*open)(unsigned short, unsigned short, const wchar_t*) = nullptr;
    int (*write)(void*, const unsigned char*, size_t) = nullptr;
    int (*readTimeout)(void*, unsigned char*, size_t, int) = nullptr;
    void (*close)(void*) = nullptr;

    Hidapi() {
        if (library != nullptr) {
            init = reinterpret_cast<int (*)()>(dlsym(library, "hid_init"));
            open = reinterpret_cast<void* (*)(unsigned short, unsigned short, const wchar_t*)>(
                dlsym(library, "hid_open"));
            write = reinterpret_cast<int (*)(void*, const unsigned char*, size_t)>(
                dlsym(library, "hid_write"));
            readTimeout = reinterpret_cast<int (*)(void*, unsigned char*, size_t, int)>(
                dlsym(library, "hid_read_timeout"));
            close = reinterpret_cast<void (*)(void*)>(dlsym(library, "hid_close"));
        }
    }
    bool usable() const { return init && open && write && readTimeout && close; }
};

// Every report waiting, as "ID:FIRST-FOUR-BYTES/LENGTH" words.
std::string readReports(Hidapi& hid, void* device, int timeoutMs) {
    std::string text;
    unsigned char buffer[65];
    for (int i = 0; i < 10; ++i) {
        int count = hid.readTimeout(device, buffer, sizeof buffer, timeoutMs);
        if (count <= 0) {
            break;
        }
        char word[48];
        std::snprintf(word, sizeof word, "%d:%02X%02X%02X%02X/%d ", buffer[0], buffer[1], buffer[2],
                      buffer[3], buffer[4], count);
        text += word;
    }
    return text + "\n";
}

int writeReport(Hidapi& hid, void* device, uint8_t id, const Bytes& payload) {
    Bytes report = {id};
    report.insert(report.end(), payload.begin(), payload.end());
    return hid.write(device, report.data(), report.size());
}

// Probes the ROM, writes a 2500-byte loader in 1024-byte data reports and jumps to it, noting
// what each step wrote and what came back.
TEST(ImxLoaderProbe, DISABLED_HidRom) {
    Hidapi hid;
    ASSERT_TRUE(hid.usable()) << kHidapi;
    ASSERT_EQ(hid.init(), 0);
    void* device = hid.open(0x1FC9, 0x0130, nullptr);
    ASSERT_NE(device, nullptr);
    std::string text =
        "probe " +
        std::to_string(writeReport(hid, device, 1, imxtest::sdpCommand(imxtest::kErrorStatus))) +
        " " + readReports(hid, device, 100);
    Bytes loader = imxtest::pattern(2500, 21);
    text += "write " +
            std::to_string(writeReport(
                hid, device, 1, imxtest::sdpCommand(imxtest::kWriteFile, 0x20000000, 0x20, 2500))) +
            "\n";
    for (size_t sent = 0; sent < loader.size(); sent += 1024) {
        text += "during " + readReports(hid, device, 0);
        Bytes piece(loader.begin() + static_cast<long>(sent),
                    loader.begin() + static_cast<long>(std::min(sent + 1024, loader.size())));
        text += "data " + std::to_string(writeReport(hid, device, 2, piece)) + "\n";
    }
    text += "complete " + readReports(hid, device, 100);
    text += "jump " +
            std::to_string(writeReport(hid, device, 1,
                                       imxtest::sdpCommand(imxtest::kJumpAddress, 0x20000400))) +
            " " + readReports(hid, device, 100);
    hid.close(device);
    imxtest::probeReport(text);
}

TEST(ImxHidRom, TakesTheLoaderThroughHidapiAndHandsOverToIt) {
    void* library = dlopen(kHidapi, RTLD_NOW);
    ZV_NEEDS(library == nullptr ? std::string(kHidapi) + " is not installed" : "");
    dlclose(library);
    imxtest::ImxSim sim;
    std::string why;
    ASSERT_TRUE(sim.start("serial=0A0B0C0D,imx-rom-hid,imx-ram=" + sim.file("ram"), &why)) << why;
    EXPECT_EQ(sim.romPath(), "/dev/hidraw0");
    bool passed = false;
    std::string found = imxtest::runProbe(sim, "HidRom", "", &passed);
    EXPECT_TRUE(passed) << found;
    // Under umockdev a 17-byte command report reaches the node only with the host's next write
    // (data reports of 453 and 1025 bytes arrive at once), so where the probe's answer shows up
    // depends on that; the answers themselves and the data path do not.
    auto count = [&found](const std::string& text) {
        size_t n = 0;
        for (size_t at = found.find(text); at != std::string::npos; at = found.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("3:56787856/5 4:F0F0F0F0/65 \n"), 1u) << found;
    EXPECT_NE(found.find("probe 17 "), std::string::npos) << found;
    EXPECT_NE(found.find("write 17\n"), std::string::npos) << found;
    EXPECT_NE(found.find("data 1025\nduring \ndata 1025\nduring \ndata 453\n"), std::string::npos)
        << "no answer during the data phase: " << found;
    EXPECT_NE(found.find("complete 3:56787856/5 4:88888888/65 \n"), std::string::npos) << found;
    EXPECT_NE(found.find("jump 17 "), std::string::npos) << found;
    EXPECT_TRUE(sim.awaitNote("recovery loader runs as DEADDEAD"));
    Bytes loader = imxtest::pattern(2500, 21);
    EXPECT_EQ(zvtest::readFile(sim.file("ram")),
              "WRITE 20000000 2500\n" + std::string(loader.begin(), loader.end()) + "\n");
}

}  // namespace
