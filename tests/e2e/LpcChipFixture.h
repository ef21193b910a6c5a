// The world of an LPC recovery: the update's world and an LPC17xx ISP bootloader simulator on a
// pseudo-terminal, with a chip whose serial number words are its fingerprint.
#pragma once

#include <sstream>

#include "FirmwareFixture.h"

namespace firmwaretest {

constexpr size_t kLpcFlashSize = 512 * 1024;
constexpr const char* kLpcChipWords = "0x1A2B3C4D,0xDEADBEEF,0x00000007,0x89ABCDEF";

class LpcChipFixture : public FirmwareFixture {
  protected:
    // The bootloader with its flash in lpc-flash.bin, these knobs, and its standard error (with
    // "--log", every line it receives) in lpcsim.log; its pseudo-terminal in port.
    void startChip(const std::vector<std::string>& knobs = {}) {
        std::vector<std::string> args = {"--duration",  "120",     "--device-id",
                                         kLpcChipWords, "--flash", work.file("lpc-flash.bin")};
        args.insert(args.end(), knobs.begin(), knobs.end());
        chip = std::make_unique<zvtest::BackgroundProgram>(lpcsimBinary(), args,
                                                           work.file("lpcsim.log"));
        ASSERT_TRUE(chip->waitReady()) << "the LPC bootloader simulator did not start";
        port = chip->startupValue("pty");
        ASSERT_NE(port, "");
    }

    // A recovery image of two firmware blocks (lowBytes at 0, highBytes at 0x10000), scrambled
    // for the chip unless scrambled is false; extra lines are added to the description.
    std::string makeRecoveryImage(const std::string& path, bool scrambled = true,
                                  const std::string& extra = "", size_t lowBytes = 10000,
                                  size_t highBytes = 40000) {
        zvtest::writeFile(path + ".low", imageBytes(lowBytes, 1));
        zvtest::writeFile(path + ".high", imageBytes(highBytes, 2));
        std::string base = path.substr(path.rfind('/') + 1);
        std::ostringstream description;
        description << "block type=1 address=0x00000000 file=" << base << ".low\n"
                    << "block type=1 address=0x00010000 file=" << base << ".high\n"
                    << "info build=2000 version=3.0.0 serial=" << kSerial << " model=Hub-4\n"
                    << extra;
        if (scrambled) {
            // Recovery images are scrambled for the one chip they are made for.
            description << "scramble 0x1A2B3C4D 0xDEADBEEF 0x00000007 0x89ABCDEF\n";
        }
        return makeBird(path, description.str());
    }

    // What the chip's flash must hold after the image was written.
    std::string expectedFlash(const std::string& imagePath) const {
        std::string flash(kLpcFlashSize, '\xFF');
        std::string low = zvtest::readFile(imagePath + ".low");
        std::string high = zvtest::readFile(imagePath + ".high");
        flash.replace(0, low.size(), low);
        flash.replace(0x10000, high.size(), high);
        return flash;
    }

    // Stops the chip, which saves its flash and closes its trace, and reads the flash.
    std::string chipFlash() {
        chip->stop();
        return zvtest::readFile(work.file("lpc-flash.bin"));
    }
    std::string chipLog() const { return zvtest::readFile(work.file("lpcsim.log")); }

    std::unique_ptr<zvtest::BackgroundProgram> chip;
    std::string port;
};

}  // namespace firmwaretest
