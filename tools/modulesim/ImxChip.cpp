#include "ImxChip.h"

#include <cstdio>
#include <fstream>

namespace modulesim {

namespace {

// A host that stops in the middle of a command or a write for this long has gone away; what
// it sent is forgotten, so that the next host's first command is read from its first byte.
constexpr int kIdleLineMs = 1000;
// The identifier a chip reports when none is given: NXP's USB ids, the serial number, its
// complement and "IMX".
constexpr uint32_t kDefaultUidFirstWord = 0x1FC90130;
constexpr uint32_t kDefaultUidLastWord = 0x00494D58;

std::string hex8(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%08X", value);
    return text;
}

}  // namespace

ModuleConfig ImxChip::loaderConfigFor(const ModuleConfig& chip) {
    ModuleConfig loader = chip;
    loader.serial = chip.imx.loaderSerial;
    loader.attachment = Attachment::Usb;
    loader.usb.serialText.clear();
    loader.usb.hasSerialText = false;
    loader.loader.loaderFromStart = true;
    if (!loader.hasUid) {
        loader.hasUid = true;
        loader.uid[0] = kDefaultUidFirstWord;
        loader.uid[1] = chip.serial;
        loader.uid[2] = ~chip.serial;
        loader.uid[3] = kDefaultUidLastWord;
    }
    return loader;
}

ImxChip::ImxChip(EventLoop& loop, SimModule& firmware, int defaultLatencyMs, const PacketLog& log,
                 UsbBus& bus, int usbPort)
    : loop_(loop),
      firmware_(firmware),
      log_(log),
      loaderConfig_(loaderConfigFor(firmware.config())),
      loader_(loaderConfig_, EventLoop::nowMs()),
      rom_(firmware.config().imx),
      port_(firmware.config().imx.hid ? makeHidRomPort(loop, bus, usbPort) : makeUartRomPort(loop)),
      loaderLink_(std::make_unique<UsbLink>(loop, loader_, defaultLatencyMs, log, bus, usbPort)),
      firmwareLink_(
          std::make_unique<UsbLink>(loop, firmware, defaultLatencyMs, log, bus, usbPort)) {
    loaderLink_->setRestartHandler([this]() { loaderRestarts(); });
}

ImxChip::~ImxChip() {
    loop_.cancel(idleTimer_);
    loop_.cancel(startTimer_);
}

bool ImxChip::open(std::string& error) {
    const std::string& ramPath = firmware_.config().imx.ramPath;
    if (!ramPath.empty() && !std::ofstream(ramPath, std::ios::binary | std::ios::trunc)) {
        error = "cannot write " + ramPath;
        return false;
    }
    return port_->open([this](const uint8_t* bytes, size_t count) { romBytes(bytes, count); },
                       error);
}

void ImxChip::describe(std::vector<std::string>& lines) const {
    lines.push_back(port_->kind() + " " + hex8(firmware_.serial()) + " " + port_->where());
}

void ImxChip::romBytes(const uint8_t* bytes, size_t count) {
    if (phase_ != Phase::Rom || firmware_.config().imx.silent) {
        return;  // the ROM no longer runs, or never says a word
    }
    SdpRom::Result result;
    rom_.feed(bytes, count, result);
    for (const std::string& text : result.notes) {
        note(text);
    }
    if (result.wrote) {
        recordWrite(rom_.writes().back());
    }
    if (!result.answer.empty()) {
        port_->send(result.answer);
    }
    armIdleTimer();
    if (result.jump) {
        jump(result.jumpAddress);
    }
}

void ImxChip::armIdleTimer() {
    loop_.cancel(idleTimer_);
    idleTimer_ = 0;
    if (!rom_.midway()) {
        return;
    }
    idleTimer_ = loop_.after(kIdleLineMs, [this]() {
        idleTimer_ = 0;
        note("imx-rom forgets an unfinished command or write");
        rom_.abandon();
    });
}

// One record per write: "WRITE AAAAAAAA N", a newline, the N bytes as they arrived, a newline.
void ImxChip::recordWrite(const RamWrite& write) {
    const std::string& path = firmware_.config().imx.ramPath;
    if (path.empty()) {
        return;
    }
    std::ofstream file(path, std::ios::binary | std::ios::app);
    file << "WRITE " << hex8(write.address) << " " << write.bytes.size() << "\n";
    file.write(reinterpret_cast<const char*>(write.bytes.data()),
               static_cast<std::streamsize>(write.bytes.size()));
    file << "\n";
    if (!file) {
        fprintf(stderr, "modulesim: cannot write %s\n", path.c_str());
    }
}

void ImxChip::jump(uint32_t address) {
    loop_.cancel(idleTimer_);
    idleTimer_ = 0;
    port_->romStops();
    if (!rom_.holdsCode(address)) {
        // Nothing was written there: the chip runs off into garbage and answers nothing more.
        note("imx-rom jumped where nothing was written; the chip hangs");
        phase_ = Phase::Hung;
        return;
    }
    phase_ = Phase::LoaderStarting;
    startTimer_ = loop_.after(loaderConfig_.rebootMs, [this]() {
        startTimer_ = 0;
        loaderRuns();
    });
}

void ImxChip::loaderRuns() {
    loader_.reboot(EventLoop::nowMs());  // a fresh copy of the loader every time it is started
    std::string error;
    if (!loaderLink_->plugIn(error)) {
        fprintf(stderr, "modulesim: the loader of %s cannot enumerate: %s\n",
                hex8(firmware_.serial()).c_str(), error.c_str());
        phase_ = Phase::Hung;
        return;
    }
    phase_ = Phase::Loader;
    note("recovery loader runs as " + hex8(loaderConfig_.serial));
}

void ImxChip::loaderRestarts() {
    int64_t now = EventLoop::nowMs();
    bool newFirmware = loader_.bootsNewFirmware();
    loader_.reboot(now);
    if (!newFirmware) {
        // The loader lives in RAM only: a reset brings the chip back up in its ROM.
        phase_ = Phase::Rom;
        rom_.restart();
        port_->dropPending();
        port_->romRuns();
        note("imx-rom runs again");
        return;
    }
    phase_ = Phase::Firmware;
    firmware_.reboot(now);
    firmware_.runFirmwareOf(loader_);
    startTimer_ = loop_.after(firmware_.config().rebootMs, [this]() {
        startTimer_ = 0;
        firmwareRuns();
    });
}

void ImxChip::firmwareRuns() {
    std::string error;
    if (!firmwareLink_->plugIn(error)) {
        fprintf(stderr, "modulesim: %s stays away after its restart: %s\n",
                hex8(firmware_.serial()).c_str(), error.c_str());
        return;
    }
    note("runs its new firmware");
}

}  // namespace modulesim
