// USB discovery through the shared libusb context: what each simulated module on the emulated bus
// looks like as a linkSpec, which modules are passed over, and finding one by serial number.
#include <gtest/gtest.h>

#include <map>

#include "UsbContext.h"
#include "UsbTestBench.h"
#include "discover.h"

namespace {

using usbtest::simulatedModules;
using usbtest::SimulatedUsbModule;

bool keepEveryModule(const linkSpec* module, bool* found, void* reference) {
    auto* bySerial = static_cast<std::map<uint32_t, linkSpec>*>(reference);
    (*bySerial)[module->serialNumber] = *module;
    *found = true;
    return true;
}

bool stopAtFirstModule(const linkSpec*, bool* found, void* reference) {
    ++*static_cast<int*>(reference);
    *found = true;
    return false;
}

std::map<uint32_t, linkSpec> enumerateUsb(int* accepted) {
    std::map<uint32_t, linkSpec> bySerial;
    *accepted = qDiscovery_EnumerateModules(linkTypeUSB, keepEveryModule, &bySerial, 0);
    return bySerial;
}

size_t listedModuleCount() {
    size_t count = 0;
    for (const SimulatedUsbModule& module : simulatedModules()) {
        count += module.listed ? 1 : 0;
    }
    return count;
}

void expectEveryListedModule(const std::map<uint32_t, linkSpec>& bySerial) {
    for (const SimulatedUsbModule& module : simulatedModules()) {
        SCOPED_TRACE(testing::Message() << std::hex << module.serial);
        auto entry = bySerial.find(module.serial);
        if (!module.listed) {
            EXPECT_EQ(entry, bySerial.end());
            continue;
        }
        ASSERT_NE(entry, bySerial.end());
        const linkSpec& found = entry->second;
        EXPECT_EQ(found.type, static_cast<uint32_t>(linkTypeUSB));
        EXPECT_EQ(found.usbId, module.serial);
        EXPECT_EQ(found.model, module.usbModel);
        EXPECT_EQ(found.module, 0u);
        EXPECT_EQ(found.router, 0u);
        EXPECT_EQ(found.routerSerialNumber, 0u);
    }
}

class UsbEnumeration : public ::testing::Test {
  protected:
    void SetUp() override { ZV_USB_BUS_OR_SKIP(); }
};

TEST_F(UsbEnumeration, ReportsEachModuleWithAnEightCharacterSerial) {
    int accepted = 0;
    std::map<uint32_t, linkSpec> bySerial = enumerateUsb(&accepted);
    EXPECT_EQ(static_cast<size_t>(accepted), listedModuleCount());
    EXPECT_EQ(bySerial.size(), listedModuleCount());
    expectEveryListedModule(bySerial);
    // The six-character serial string "5B0002" is not read as a number either.
    EXPECT_EQ(bySerial.count(0x005B0002), 0u);
}

TEST_F(UsbEnumeration, ModelIsTheLowByteOfTheProductId) {
    int accepted = 0;
    std::map<uint32_t, linkSpec> bySerial = enumerateUsb(&accepted);
    ASSERT_EQ(bySerial.count(usbtest::kListedSerial), 1u);
    // Product id 0x0113 on a module whose own model number is 3.
    EXPECT_EQ(bySerial[usbtest::kListedSerial].model, 0x13u);
}

TEST_F(UsbEnumeration, StopsWhenTheCallbackSaysSo) {
    int calls = 0;
    EXPECT_EQ(qDiscovery_EnumerateModules(linkTypeUSB, stopAtFirstModule, &calls, 0), 1);
    EXPECT_EQ(calls, 1);
}

TEST_F(UsbEnumeration, FindModuleBySerialNumber) {
    linkSpec* found = qDiscovery_FindModule(linkTypeUSB, usbtest::kLinkSerial, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->type, static_cast<uint32_t>(linkTypeUSB));
    EXPECT_EQ(found->serialNumber, usbtest::kLinkSerial);
    EXPECT_EQ(found->usbId, usbtest::kLinkSerial);
    EXPECT_EQ(found->model, usbtest::simulatedModule(usbtest::kLinkSerial).usbModel);
    EXPECT_EQ(qLinkSpec_Destroy(&found), qErrNone);
}

TEST_F(UsbEnumeration, FindModuleGivesNullForAnUnknownOrUnlistedSerial) {
    EXPECT_EQ(qDiscovery_FindModule(linkTypeUSB, usbtest::kAbsentSerial, 0), nullptr);
    EXPECT_EQ(qDiscovery_FindModule(linkTypeUSB, usbtest::kShortSerialTextSerial, 0), nullptr);
}

TEST_F(UsbEnumeration, EndingTheLibusbContextStartsAFreshOneOnNextUse) {
    int before = 0;
    enumerateUsb(&before);
    ASSERT_EQ(static_cast<size_t>(before), listedModuleCount());
    Zendrival_libusb_exit();
    int after = 0;
    std::map<uint32_t, linkSpec> second = enumerateUsb(&after);
    EXPECT_EQ(after, before);
    expectEveryListedModule(second);
    // Ending it twice in a row is harmless, and a context is there again afterwards.
    Zendrival_libusb_exit();
    Zendrival_libusb_exit();
    EXPECT_NE(Zendrival_libusb_context(), nullptr);
    EXPECT_EQ(Zendrival_libusb_init(), qErrNone);
}

}  // namespace
