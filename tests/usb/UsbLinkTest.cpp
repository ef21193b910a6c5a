// A link to a simulated module over USB through libusb: it synchronises with the module when it
// is made, carries requests and replies, and is shared by everyone who asks for the same module.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "UsbContext.h"
#include "UsbTestBench.h"
#include "qLink.h"
#include "qPacket.h"

namespace {

constexpr uint8_t kSystemCommand = 3;
constexpr uint8_t kSerialNumberOption = 9;
// Only to stop a broken exchange from hanging the test.
constexpr uint32_t kReplyPatienceMs = 10000;

uint8_t isSerialNumberReply(const qPacket* packet, void*) {
    return packet->dataSize == 7 && packet->data[0] == kSystemCommand &&
           packet->data[1] == kSerialNumberOption;
}

// The module's serial number as the system entity reports it, read over the link.
qErr readSerialNumber(qLinkID id, uint8_t address, uint32_t* serial) {
    const uint8_t get[] = {kSystemCommand, 0x40 | kSerialNumberOption, 0x20};
    qPacket* request = qPacket_CreateWithData(address, sizeof get, get);
    qErr err = qLink_PutPacket(id, request);
    qPacket_Destroy(&request);
    if (err != qErrNone) {
        return err;
    }
    qPacket* reply = qLink_AwaitFirst(id, isSerialNumberReply, nullptr, kReplyPatienceMs);
    if (reply == nullptr) {
        return qErrTimeout;
    }
    EXPECT_EQ(reply->address, address);
    EXPECT_EQ(reply->data[2], 0) << "a get reply carries neither request nor error bit";
    *serial = static_cast<uint32_t>(reply->data[3]) << 24 | reply->data[4] << 16 |
              reply->data[5] << 8 | reply->data[6];
    return qPacket_Destroy(&reply);
}

// The thread that handled the last serial-number reply, recorded by a user filter: the filter
// runs on whichever thread reads the packet from the stream.
class ReplyReader {
  public:
    std::thread::id last() {
        std::lock_guard<std::mutex> guard(lock_);
        return last_;
    }
    static uint8_t record(const qPacket* packet, void* reference) {
        if (isSerialNumberReply(packet, nullptr)) {
            auto* reader = static_cast<ReplyReader*>(reference);
            std::lock_guard<std::mutex> guard(reader->lock_);
            reader->last_ = std::this_thread::get_id();
        }
        return 0;
    }

  private:
    std::mutex lock_;
    std::thread::id last_;
};

class UsbLink : public ::testing::Test {
  protected:
    void SetUp() override { ZV_USB_BUS_OR_SKIP(); }
    void TearDown() override {
        for (qLinkID& id : made) {
            if (id != 0) {
                qLink_Destroy(&id);
            }
        }
    }

    qLinkID create(uint32_t serial) {
        made.push_back(qLink_CreateUSB(serial));
        return made.back();
    }

    std::vector<qLinkID> made;
    const usbtest::SimulatedUsbModule& module = usbtest::simulatedModule(usbtest::kLinkSerial);
};

TEST_F(UsbLink, SynchronisesAndCarriesARequestAndItsReply) {
    qLinkID id = create(module.serial);
    ASSERT_NE(id, 0u);
    // Creation synchronised with the module's identify request.
    EXPECT_GE(usbtest::countNotes(usbtest::simulatorNotes(module.serial), "< AD 00"), 1u);
    uint8_t address = 0;
    ASSERT_EQ(_qLink_GetModuleAddress(id, &address), qErrNone);
    EXPECT_EQ(address, module.address);
    uint8_t model = 0;
    ASSERT_EQ(_qLink_GetModel(id, address, &model), qErrNone);
    EXPECT_EQ(model, 17);
    uint32_t serial = 0;
    ASSERT_EQ(readSerialNumber(id, address, &serial), qErrNone);
    EXPECT_EQ(serial, module.serial);
}

TEST_F(UsbLink, SameSerialNumberSharesOneLink) {
    qLinkID first = create(module.serial);
    ASSERT_NE(first, 0u);
    qLinkID second = create(module.serial);
    EXPECT_EQ(second, first);
    // Letting go of one user leaves the link working for the other.
    ASSERT_EQ(qLink_Destroy(&made.back()), qErrNone);
    uint32_t serial = 0;
    ASSERT_EQ(readSerialNumber(first, module.address, &serial), qErrNone);
    EXPECT_EQ(serial, module.serial);
}

TEST_F(UsbLink, ModuleCanBeLinkedAgainAfterTheLinkIsGone) {
    qLinkID first = create(module.serial);
    ASSERT_NE(first, 0u);
    ASSERT_EQ(qLink_Destroy(&made.back()), qErrNone);
    // The interface was released: a new link claims it and talks to the module.
    qLinkID again = create(module.serial);
    ASSERT_NE(again, 0u);
    uint32_t serial = 0;
    ASSERT_EQ(readSerialNumber(again, module.address, &serial), qErrNone);
    EXPECT_EQ(serial, module.serial);
}

TEST_F(UsbLink, NoLinkToAnAbsentOrHeldModule) {
    EXPECT_EQ(create(usbtest::kAbsentSerial), 0u);
    EXPECT_EQ(create(usbtest::kClaimedSerial), 0u);
}

TEST_F(UsbLink, ACallerAwaitingAReplyReadsItOnItsOwnThread) {
    qLinkID id = create(module.serial);
    ASSERT_NE(id, 0u);
    ReplyReader reader;
    ASSERT_EQ(qLink_InstallUserPacketFilter(id, ReplyReader::record, &reader), qErrNone);
    // The first reply after an idle moment may still come through the reader thread, which was
    // waiting on the stream already; the caller reads one of the next ones itself.
    bool readByCaller = false;
    for (int exchange = 0; exchange < 20 && !readByCaller; ++exchange) {
        uint32_t serial = 0;
        ASSERT_EQ(readSerialNumber(id, module.address, &serial), qErrNone);
        EXPECT_EQ(serial, module.serial);
        readByCaller = reader.last() == std::this_thread::get_id();
    }
    EXPECT_TRUE(readByCaller);
    ASSERT_EQ(qLink_InstallUserPacketFilter(id, nullptr, nullptr), qErrNone);
}

TEST_F(UsbLink, EndingTheUsbContextLeavesOpenLinksWorkingAndGivesNewOnesAFreshOne) {
    qLinkID first = create(module.serial);
    ASSERT_NE(first, 0u);
    libusb_context* inUse = Zendrival_libusb_context();
    const int users = Zendrival_libusb_users();
    ASSERT_GE(users, 1);
    Zendrival_libusb_exit();
    EXPECT_EQ(Zendrival_libusb_users(), users) << "the open link still holds its context";
    uint32_t serial = 0;
    ASSERT_EQ(readSerialNumber(first, module.address, &serial), qErrNone);
    EXPECT_EQ(serial, module.serial);
    // The next module opened is on a fresh context, while the ended one still serves the link.
    const usbtest::SimulatedUsbModule& quiet = usbtest::simulatedModule(usbtest::kQuietSerial);
    qLinkID second = create(quiet.serial);
    ASSERT_NE(second, 0u);
    EXPECT_NE(Zendrival_libusb_context(), inUse);
    EXPECT_EQ(Zendrival_libusb_users(), users + 1);
    // The first link's close ends the old context; the second link goes on.
    ASSERT_EQ(qLink_Destroy(&made.front()), qErrNone);
    EXPECT_EQ(Zendrival_libusb_users(), users);
    ASSERT_EQ(readSerialNumber(second, quiet.address, &serial), qErrNone);
    EXPECT_EQ(serial, quiet.serial);
}

}  // namespace
