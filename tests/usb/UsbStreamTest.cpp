// The USB byte stream over libusb against simulated modules: opening by serial number, bytes both
// ways as the module sees and sends them (checked against the simulator's transfer log), how
// writes are cut into bulk transfers, and how stalls and I/O errors on the bus are handled.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "UsbTestBench.h"
#include "qStreamForCaller.h"
#include "unix_streamusb.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kSyncAddress = 0xAD;
constexpr uint8_t kSystemCommand = 3;
constexpr uint8_t kSerialNumberOption = 9;
// Only to stop a broken exchange from hanging the test.
constexpr auto kReplyPatience = std::chrono::seconds(20);
// A get with nothing to read waits about qSTREAM_IDLE_WAIT_MS; far less than a whole transfer's
// second even on a busy machine.
constexpr auto kShortGetBound = std::chrono::milliseconds(500);
constexpr const char* kCancelledNote = "usb IN cancelled";

struct StreamCloser {
    void operator()(qStream* stream) const { qStream_Destroy(&stream); }
};
using StreamHandle = std::unique_ptr<qStream, StreamCloser>;

StreamHandle openStream(uint32_t serial, qErr* err) {
    qStream* stream = nullptr;
    *err = qStream_CreateUSB(serial, &stream);
    return StreamHandle(stream);
}

// Reads exactly size bytes, waiting while the stream says none have come yet.
qErr readReply(qStream* stream, Bytes& bytes, size_t size) {
    bytes.assign(size, 0);
    auto deadline = std::chrono::steady_clock::now() + kReplyPatience;
    qErr err = qErrNotReady;
    while (err == qErrNotReady && std::chrono::steady_clock::now() < deadline) {
        err = qStream_Read(stream, bytes.data(), size);
    }
    return err;
}

qErr writeBytes(qStream* stream, const Bytes& bytes) {
    return qStream_Write(stream, bytes.data(), bytes.size());
}

// A UEI get of the system entity's serial number, as the module at address receives it.
Bytes serialNumberRequest(uint8_t address) {
    return {address, 3, kSystemCommand, 0x40 | kSerialNumberOption, 0x20};
}

// The module's answer: the option without get bit, the index without request bit, the serial
// number big-endian.
Bytes serialNumberReply(uint8_t address, uint32_t serial) {
    return {address,
            7,
            kSystemCommand,
            kSerialNumberOption,
            0x00,
            static_cast<uint8_t>(serial >> 24),
            static_cast<uint8_t>(serial >> 16),
            static_cast<uint8_t>(serial >> 8),
            static_cast<uint8_t>(serial)};
}

std::string logged(char direction, const Bytes& bytes) {
    std::string line(1, direction);
    char hex[4];
    for (uint8_t byte : bytes) {
        std::snprintf(hex, sizeof hex, " %02X", byte);
        line += hex;
    }
    return line;
}

std::vector<std::string> outTransfers(const std::vector<std::string>& notes) {
    std::vector<std::string> transfers;
    std::copy_if(notes.begin(), notes.end(), std::back_inserter(transfers),
                 [](const std::string& note) { return note.rfind("usb OUT", 0) == 0; });
    return transfers;
}

class UsbStream : public ::testing::Test {
  protected:
    void SetUp() override { ZV_USB_BUS_OR_SKIP(); }

    // Opens the module's stream, failing the test when it cannot.
    StreamHandle open(uint32_t serial) {
        qErr err = qErrUnknown;
        StreamHandle stream = openStream(serial, &err);
        EXPECT_EQ(err, qErrNone);
        EXPECT_NE(stream, nullptr);
        return stream;
    }

    // Sends the serial-number request and expects the module's exact reply.
    void expectSerialNumberExchange(qStream* stream, uint32_t serial) {
        uint8_t address = usbtest::simulatedModule(serial).address;
        ASSERT_EQ(writeBytes(stream, serialNumberRequest(address)), qErrNone);
        Bytes reply;
        ASSERT_EQ(readReply(stream, reply, 9), qErrNone);
        EXPECT_EQ(reply, serialNumberReply(address, serial));
    }

    // One get while the module has nothing to say: it gives up soon, leaving its transfer waiting.
    void expectShortEmptyGet(qStream* stream) {
        uint8_t byte = 0x5A;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(stream->get(&byte, stream->reference), qErrNotReady);
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_LT(waited, kShortGetBound)
            << std::chrono::duration_cast<std::chrono::milliseconds>(waited).count() << " ms";
        EXPECT_EQ(byte, 0x5A);
    }
};

TEST_F(UsbStream, UnknownSerialNumberIsNotFound) {
    qErr err = qErrUnknown;
    StreamHandle stream = openStream(usbtest::kAbsentSerial, &err);
    EXPECT_EQ(err, qErrNotFound);
    EXPECT_EQ(stream, nullptr);
}

TEST_F(UsbStream, ModuleHeldByAnotherProgramIsBusy) {
    qErr err = qErrUnknown;
    StreamHandle stream = openStream(usbtest::kClaimedSerial, &err);
    EXPECT_EQ(err, qErrBusy);
    EXPECT_EQ(stream, nullptr);
}

TEST_F(UsbStream, ZeroSerialNumberOrNoResultIsAParameterError) {
    qStream* stream = nullptr;
    EXPECT_EQ(qStream_CreateUSB(0, &stream), qErrParam);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(qStream_CreateUSB(usbtest::kRoundTripSerial, nullptr), qErrParam);
}

TEST_F(UsbStream, PacketReachesTheModuleAndItsReplyIsReadBack) {
    StreamHandle stream = open(usbtest::kRoundTripSerial);
    ASSERT_NE(stream, nullptr);
    expectSerialNumberExchange(stream.get(), usbtest::kRoundTripSerial);
    uint8_t address = usbtest::simulatedModule(usbtest::kRoundTripSerial).address;
    std::vector<std::string> notes = usbtest::simulatorNotes(usbtest::kRoundTripSerial);
    EXPECT_EQ(usbtest::countNotes(notes, logged('<', serialNumberRequest(address))), 1u);
    EXPECT_EQ(usbtest::countNotes(
                  notes, logged('>', serialNumberReply(address, usbtest::kRoundTripSerial))),
              1u);
    EXPECT_EQ(outTransfers(notes), std::vector<std::string>{"usb OUT 5"});
    // The stream goes on working for a second exchange.
    expectSerialNumberExchange(stream.get(), usbtest::kRoundTripSerial);
}

TEST_F(UsbStream, FullHighSpeedPacketGoesOutAs511And1) {
    StreamHandle stream = open(usbtest::kFullPacketSerial);
    ASSERT_NE(stream, nullptr);
    // 256 sync requests make 512 bytes; each is answered by the module's address and length 0.
    Bytes requests;
    for (int i = 0; i < 256; ++i) {
        requests.insert(requests.end(), {kSyncAddress, 0});
    }
    ASSERT_EQ(writeBytes(stream.get(), requests), qErrNone);
    Bytes replies;
    ASSERT_EQ(readReply(stream.get(), replies, requests.size()), qErrNone);
    uint8_t address = usbtest::simulatedModule(usbtest::kFullPacketSerial).address;
    for (size_t i = 0; i < replies.size(); i += 2) {
        ASSERT_EQ(replies[i], address) << "at " << i;
        ASSERT_EQ(replies[i + 1], 0) << "at " << i;
    }
    std::vector<std::string> notes = usbtest::simulatorNotes(usbtest::kFullPacketSerial);
    EXPECT_EQ(outTransfers(notes), (std::vector<std::string>{"usb OUT 511", "usb OUT 1"}));
    EXPECT_EQ(usbtest::countNotes(notes, "< AD 00"), 256u);
}

TEST_F(UsbStream, StalledOutEndpointIsClearedAndTheWriteCompletes) {
    StreamHandle stream = open(usbtest::kStallSerial);
    ASSERT_NE(stream, nullptr);
    expectSerialNumberExchange(stream.get(), usbtest::kStallSerial);
    std::vector<std::string> notes = usbtest::simulatorNotes(usbtest::kStallSerial);
    EXPECT_EQ(outTransfers(notes),
              (std::vector<std::string>{"usb OUT stalled", "usb OUT halt cleared", "usb OUT 5"}));
}

TEST_F(UsbStream, FourInErrorsReadAsNoByteYet) {
    // Deliberate: a tolerated IN error reads as no byte yet, never as a byte that never came.
    StreamHandle stream = open(usbtest::kFourInErrorsSerial);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(writeBytes(stream.get(), {kSyncAddress, 0}), qErrNone);
    for (int attempt = 1; attempt <= 4; ++attempt) {
        uint8_t byte = 0x5A;
        EXPECT_EQ(qStream_Read(stream.get(), &byte, 1), qErrNotReady) << "read " << attempt;
        EXPECT_EQ(byte, 0x5A) << "read " << attempt;
    }
    // Nothing was invented or lost: the module's answer comes next, whole.
    Bytes reply;
    ASSERT_EQ(readReply(stream.get(), reply, 2), qErrNone);
    uint8_t address = usbtest::simulatedModule(usbtest::kFourInErrorsSerial).address;
    EXPECT_EQ(reply, (Bytes{address, 0}));
    EXPECT_EQ(
        usbtest::countNotes(usbtest::simulatorNotes(usbtest::kFourInErrorsSerial), "usb IN error"),
        4u);
    // A success cleared the error count: the stream keeps working.
    expectSerialNumberExchange(stream.get(), usbtest::kFourInErrorsSerial);
}

TEST_F(UsbStream, AnInErrorMetByACallerIsLeftToTheReader) {
    StreamHandle stream = open(usbtest::kCallerInErrorSerial);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(writeBytes(stream.get(), {kSyncAddress, 0}), qErrNone);
    uint8_t byte = 0x5A;
    qErr callers = qErrNotReady;
    {
        qStreamForCallerScope forCaller;
        for (int get = 0; get < 50 && callers == qErrNotReady; ++get) {
            callers = qStream_Read(stream.get(), &byte, 1);
        }
    }
    EXPECT_EQ(callers, qErrBusy);
    EXPECT_EQ(
        usbtest::countNotes(usbtest::simulatorNotes(usbtest::kCallerInErrorSerial), "usb IN error"),
        1u);
    // The reader's get takes the failed transfer, tolerates it, and reads on to the answer.
    EXPECT_EQ(qStream_Read(stream.get(), &byte, 1), qErrNotReady);
    Bytes reply;
    ASSERT_EQ(readReply(stream.get(), reply, 2), qErrNone);
    EXPECT_EQ(reply, (Bytes{usbtest::simulatedModule(usbtest::kCallerInErrorSerial).address, 0}));
}

TEST_F(UsbStream, FifthInErrorGivesUpForGood) {
    StreamHandle stream = open(usbtest::kFiveInErrorsSerial);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(writeBytes(stream.get(), {kSyncAddress, 0}), qErrNone);
    uint8_t byte = 0x5A;
    for (int attempt = 1; attempt <= 4; ++attempt) {
        EXPECT_EQ(qStream_Read(stream.get(), &byte, 1), qErrNotReady) << "read " << attempt;
    }
    EXPECT_EQ(qStream_Read(stream.get(), &byte, 1), qErrIO);
    // The module's answer is waiting, but the device stays given up and no longer asks for it.
    EXPECT_EQ(qStream_Read(stream.get(), &byte, 1), qErrIO);
    EXPECT_EQ(qStream_Read(stream.get(), &byte, 1), qErrIO);
    EXPECT_EQ(byte, 0x5A);
    EXPECT_EQ(writeBytes(stream.get(), {kSyncAddress, 0}), qErrIO);
    std::vector<std::string> notes = usbtest::simulatorNotes(usbtest::kFiveInErrorsSerial);
    EXPECT_EQ(usbtest::countNotes(notes, "usb IN error"), 5u);
    // Only the first request went out on the bus.
    EXPECT_EQ(outTransfers(notes), std::vector<std::string>{"usb OUT 2"});
}

TEST_F(UsbStream, GetWithNothingToReadGivesUpSoonAndItsTransferBringsTheAnswer) {
    StreamHandle stream = open(usbtest::kQuietSerial);
    ASSERT_NE(stream, nullptr);
    // Short enough for a caller awaiting a reply to read the stream itself.
    EXPECT_EQ(stream->getWaitMs, static_cast<uint32_t>(qSTREAM_IDLE_WAIT_MS));
    const size_t cancelled = usbtest::countNotes(usbtest::kQuietSerial, kCancelledNote);
    expectShortEmptyGet(stream.get());
    expectShortEmptyGet(stream.get());
    // The read under way since the first get brings the answer to a request made only now.
    expectSerialNumberExchange(stream.get(), usbtest::kQuietSerial);
    EXPECT_EQ(usbtest::countNotes(usbtest::kQuietSerial, kCancelledNote), cancelled);
}

TEST_F(UsbStream, ClosingCancelsTheTransferInFlightAndLetsTheModuleGo) {
    const size_t cancelled = usbtest::countNotes(usbtest::kQuietSerial, kCancelledNote);
    StreamHandle stream = open(usbtest::kQuietSerial);
    ASSERT_NE(stream, nullptr);
    expectShortEmptyGet(stream.get());
    stream.reset();
    EXPECT_EQ(usbtest::countNotes(usbtest::kQuietSerial, kCancelledNote), cancelled + 1);
    // The interface was released once the transfer came back: the module opens and answers again.
    StreamHandle again = open(usbtest::kQuietSerial);
    ASSERT_NE(again, nullptr);
    expectSerialNumberExchange(again.get(), usbtest::kQuietSerial);
}

}  // namespace
