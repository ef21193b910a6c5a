// A module reached through the kernel driver's device node: the simulator's pseudo-terminal sits
// at <dir>/zendrival.SERIAL and the USB stream, pointed at that directory, uses it instead of
// libusb. The USB link synchronises on it as on a real module.
#include <gtest/gtest.h>

#include "SimulatedModule.h"
#include "TestSupport.h"
#include "autoGen_SystemClass_CPP.h"
#include "qLink.h"
#include "zvusb_driver.h"

using namespace Pelmorax::Zendrival;

TEST(KernelNode, UsbLinkSynchronisesAndTalksThroughTheNode) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    zvtest::TempDir nodes;
    auto sim =
        componenttest::startSimulator({"serial=00AB12CD,model=19,address=8,node=" + nodes.path()});
    ASSERT_TRUE(zvtest::pathExists(nodes.file("zendrival.00AB12CD")));
    zvusb_set_kernel_node_directory(nodes.path().c_str());

    Module module(2, 0);
    componenttest::useDirectLink(module);
    linkSpec spec{};
    spec.type = linkTypeUSB;
    spec.serialNumber = 0x00AB12CD;
    spec.usbId = 0x00AB12CD;
    ASSERT_EQ(module.connectFromSpec(spec), qErrNone);
    EXPECT_EQ(module.getModuleAddress(), 8);
    SystemClass system;
    system.init(&module, 0);
    uint32_t serial = 0;
    EXPECT_EQ(system.getSerialNumber(&serial), qErrNone);
    EXPECT_EQ(serial, 0x00AB12CDu);
    uint8_t model = 0;
    EXPECT_EQ(system.getModel(&model), qErrNone);
    EXPECT_EQ(model, 19);
    EXPECT_EQ(module.disconnect(), qErrNone);

    // A second connection to the same node works after the first was closed.
    ASSERT_EQ(module.connectFromSpec(spec), qErrNone);
    EXPECT_EQ(system.getSerialNumber(&serial), qErrNone);
    zvusb_set_kernel_node_directory(nullptr);
}
