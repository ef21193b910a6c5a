// "-U -r" finds the module's bus address by probing the router's I2C bus: every even address
// from 2 to 252 except the router's own. A module at 252 is reached; one at 254 is never asked.
#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

const std::string kRouter = "00C0FFEE";

// The router's probe of one bus address (an I2C write of two bytes through its entity 0), as
// the router at bus address 2 receives it.
std::string probeOf(const char* hexAddress) {
    return std::string(" < 02 07 08 00 ") + hexAddress + " 02 ";
}

class RouterProbe : public FirmwareFixture {
  protected:
    // The router on TCP/IP with kSerial behind it at that bus address, and these other modules
    // on its bus; every packet goes to moduleLog().
    void startRouterWith(unsigned address, const std::vector<std::string>& others = {}) {
        std::vector<std::string> args = {
            "--duration",
            "120",
            "--log",
            "--module",
            "serial=" + kRouter + ",model=5,address=2,name=Router,tcp=10.77.0.2:0",
            "--module",
            std::string("serial=") + kSerial + ",model=3,address=" + std::to_string(address) +
                ",version=2.11.0,build=1000,flash=" + work.file("flash.bin") +
                ",behind=" + kRouter};
        for (const std::string& other : others) {
            args.insert(args.end(), {"--module", other + ",behind=" + kRouter});
        }
        module = std::make_unique<zvtest::BackgroundProgram>(zvtest::modulesimBinary(), args,
                                                             work.file("module.log"));
        ASSERT_TRUE(module->waitReady()) << "the module simulator did not start";
    }
};

TEST_F(RouterProbe, ModuleAtTheLastBusAddressIsUpdatedThroughTheRouter) {
    makeNewBuild();
    startRouterWith(252);
    RunResult r = updater({"-U", "-d", kSerial, "-r", kRouter, "-f", bird});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(flash() == expectedFlash(bird)) << "flash differs";
    EXPECT_EQ(appearances(moduleLog(), probeOf("FC")), 1u) << "address 252 probed once";
}

TEST_F(RouterProbe, ModulePastTheLastBusAddressIsNeverProbed) {
    makeNewBuild();
    // Another module at 252, so that the bus is not empty and the search runs to its end.
    startRouterWith(254, {"serial=11111111,model=8,address=252"});
    RunResult r = updater({"-U", "-d", kSerial, "-r", kRouter, "-f", bird});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err, std::string("Module address required for indirect firmware update, could "
                                 "not find serial number [0x") +
                         kSerial + "] on network\n");
    const std::string trace = moduleLog();
    EXPECT_EQ(appearances(trace, probeOf("FC")), 1u) << "the search reached 252";
    EXPECT_EQ(appearances(trace, probeOf("FE")), 0u) << "254 was probed";
    EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin")));
}

}  // namespace
