#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "FakeStream.h"
#include "TestSupport.h"
#include "qStream.h"

namespace {

constexpr size_t kUnset = 99;

struct Record {
    qErr result;
    std::string text;
};

bool operator==(const Record& a, const Record& b) {
    return a.result == b.result && a.text == b.text;
}

void PrintTo(const Record& record, std::ostream* out) {
    *out << "{" << record.result << ", \"" << record.text << "\"}";
}

class StreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        stream = qStream_Create(fakeGet, fakePut, fakeWrite, fakeDelete, &transport);
        ASSERT_NE(stream, nullptr);
    }
    void TearDown() override {
        if (stream != nullptr) {
            qStream_Destroy(&stream);
        }
    }
    std::string readAll(size_t count) {
        std::string got(count, '\0');
        EXPECT_EQ(qStream_Read(stream, reinterpret_cast<uint8_t*>(&got[0]), count), qErrNone);
        return got;
    }

    // One qStream_ReadRecord into a buffer of capacity bytes: its result and the record. A length
    // the read left unset or past the buffer shows in the text.
    Record readRecord(size_t capacity, const std::string& terminator) {
        std::vector<uint8_t> buffer(capacity);
        size_t length = kUnset;
        const qErr result = qStream_ReadRecord(stream, buffer.data(), &length, capacity,
                                               reinterpret_cast<const uint8_t*>(terminator.data()),
                                               terminator.size());
        if (length > capacity) {
            return {result, "(length " + std::to_string(length) + ")"};
        }
        return {result, std::string(buffer.begin(), buffer.begin() + length)};
    }

    FakeTransport transport;
    qStream* stream = nullptr;
};

TEST_F(StreamTest, ReadIsAllOrNothingWhileBytesTrickleIn) {
    transport.feed("ab");
    uint8_t buffer[3] = {'x', 'x', 'x'};
    EXPECT_EQ(qStream_Read(stream, buffer, 3), qErrNotReady);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "xxx");
    EXPECT_EQ(stream->buffered, 2u);

    transport.feed("c");
    EXPECT_EQ(readAll(3), "abc");
    EXPECT_EQ(stream->buffered, 0u);
}

TEST_F(StreamTest, ReadAtEndOfFileCopiesWhatCame) {
    transport.feed("ab");
    transport.endOfFile = true;
    uint8_t buffer[3] = {'x', 'x', 'x'};
    EXPECT_EQ(qStream_Read(stream, buffer, 3), qErrEOF);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "abx");
}

TEST_F(StreamTest, PushBackGrowsAndKeepsOrder) {
    std::string bytes;
    for (int i = 0; i < 600; ++i) {
        bytes.push_back(static_cast<char>(i * 7));
    }
    for (char c : bytes) {
        ASSERT_EQ(qStreamBufferChar(stream, static_cast<uint8_t>(c)), qErrNone);
    }
    EXPECT_EQ(stream->capacity, 1024u);
    transport.feed("tail");
    EXPECT_EQ(readAll(604), bytes + "tail");
}

TEST_F(StreamTest, PushBackWrapsAroundTheRing) {
    // Move the ring's indices near the end before pushing back across the boundary.
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 300; ++i) {
            ASSERT_EQ(qStreamBufferChar(stream, static_cast<uint8_t>(i + round)), qErrNone);
        }
        for (int i = 0; i < 300; ++i) {
            uint8_t b = 0;
            ASSERT_EQ(qStream_Read(stream, &b, 1), qErrNone);
            ASSERT_EQ(b, static_cast<uint8_t>(i + round));
        }
    }
    EXPECT_EQ(stream->capacity, 512u);
}

TEST_F(StreamTest, LargeNotReadyReadKeepsEarlierPushBackFirst) {
    qStreamBufferChar(stream, 'P');
    std::string big(700, 'z');
    transport.feed(big);
    std::string got(800, '\0');
    EXPECT_EQ(qStream_Read(stream, reinterpret_cast<uint8_t*>(&got[0]), 800), qErrNotReady);
    EXPECT_EQ(readAll(701), "P" + big);
}

TEST_F(StreamTest, WriteUsesBlockWriteForBlocksAndPutForSingleBytes) {
    EXPECT_EQ(qStream_Write(stream, reinterpret_cast<const uint8_t*>("hello"), 5), qErrNone);
    EXPECT_EQ(transport.writeCalls, 1);
    EXPECT_EQ(qStream_Write(stream, reinterpret_cast<const uint8_t*>("!"), 1), qErrNone);
    EXPECT_EQ(transport.writeCalls, 1);
    EXPECT_EQ(transport.output, "hello!");
}

TEST_F(StreamTest, ParametersAndMissingProcedures) {
    uint8_t b = 0;
    EXPECT_EQ(qStream_Read(nullptr, &b, 1), qErrParam);
    EXPECT_EQ(qStream_Read(stream, nullptr, 1), qErrParam);
    EXPECT_EQ(qStream_Write(stream, nullptr, 1), qErrParam);

    FakeTransport other;
    qStream* writeOnly = qStream_Create(nullptr, fakePut, nullptr, nullptr, &other);
    EXPECT_EQ(qStream_Read(writeOnly, &b, 1), qErrMode);
    qStream* readOnly = qStream_Create(fakeGet, nullptr, nullptr, nullptr, &other);
    EXPECT_EQ(qStream_Write(readOnly, &b, 1), qErrMode);
    EXPECT_EQ(qStream_Flush(writeOnly, readOnly), qErrMode);
    qStream_Destroy(&writeOnly);
    qStream_Destroy(&readOnly);
}

TEST_F(StreamTest, DestroyRunsDeleteAndClearsPointer) {
    qStreamBufferChar(stream, 1);
    EXPECT_EQ(qStream_Destroy(&stream), qErrNone);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(transport.deleteCalls, 1);
    EXPECT_EQ(qStream_Destroy(&stream), qErrParam);
}

// Records -----------------------------------------------------------------------------------------

TEST_F(StreamTest, RecordEndsAtTerminatorWhichIsNotStored) {
    transport.feed("line one\r\nnext");
    EXPECT_EQ(readRecord(32, "\r\n"), (Record{qErrNone, "line one"}));
    EXPECT_EQ(readAll(4), "next");
}

TEST_F(StreamTest, RecordKeepsABrokenTerminatorPrefixAsData) {
    // Deliberate: a terminator match that breaks off is kept as data, so no "\r" is lost.
    transport.feed("a\rb\r\r\nrest");
    EXPECT_EQ(readRecord(32, "\r\n"), (Record{qErrNone, "a\rb\r"}));
    EXPECT_EQ(readAll(4), "rest");
}

TEST_F(StreamTest, RecordFindsSelfOverlappingTerminator) {
    transport.feed("xaaab");
    transport.endOfFile = true;
    EXPECT_EQ(readRecord(32, "aab"), (Record{qErrNone, "xa"}));
}

TEST_F(StreamTest, RecordStopsAtCapacityAndLeavesTheRest) {
    transport.feed("abcdef|");
    EXPECT_EQ(readRecord(4, "|"), (Record{qErrNone, "abcd"}));
    EXPECT_EQ(readAll(3), "ef|");
}

TEST_F(StreamTest, RecordFullInsideBrokenMatchReturnsOverflow) {
    // Deliberate: bytes of a broken terminator match count as data, also when they fill the record.
    transport.feed("ab\rc");
    EXPECT_EQ(readRecord(3, "\r\n"), (Record{qErrNone, "ab\r"}));
    EXPECT_EQ(readAll(1), "c");
}

TEST_F(StreamTest, RecordNotReadyPushesEverythingBack) {
    // Deliberate: a record not yet whole puts back every byte it took, so the next read has them.
    transport.feed("par\r");
    EXPECT_EQ(readRecord(32, "\r\n"), (Record{qErrNotReady, ""}));
    transport.feed("t\r\n");
    EXPECT_EQ(readRecord(32, "\r\n"), (Record{qErrNone, "par\rt"}));
}

TEST_F(StreamTest, RecordAtEndOfFile) {
    transport.endOfFile = true;
    EXPECT_EQ(readRecord(8, "\r\n").result, qErrEOF);
    transport.feed("end\r");
    EXPECT_EQ(readRecord(8, "\r\n"), (Record{qErrNone, "end\r"}));
    uint8_t buffer[8];
    size_t length = 0;
    const uint8_t* crlf = reinterpret_cast<const uint8_t*>("\r\n");
    EXPECT_EQ(qStream_ReadRecord(stream, buffer, &length, sizeof buffer, nullptr, 2), qErrParam);
    EXPECT_EQ(qStream_ReadRecord(stream, buffer, &length, sizeof buffer, crlf, 0), qErrParam);
}

TEST_F(StreamTest, CStringsRoundTripWithTheirTerminators) {
    EXPECT_EQ(qStream_WriteCString(stream, "one"), qErrNone);
    EXPECT_EQ(qStream_WriteCStringRecord(stream, "two", "\r\n"), qErrNone);
    EXPECT_EQ(transport.output, std::string("one\0two\r\n\0", 10));

    transport.feed(transport.output);
    char text[16];
    EXPECT_EQ(qStream_ReadCString(stream, text, sizeof text), qErrNone);
    EXPECT_STREQ(text, "one");
    EXPECT_EQ(qStream_ReadCStringRecord(stream, text, sizeof text, "\r\n"), qErrNone);
    EXPECT_STREQ(text, "two");
}

TEST_F(StreamTest, CStringIsCutToBufferAndTerminated) {
    transport.feed(std::string("abcdefgh\0", 9));
    char text[4];
    EXPECT_EQ(qStream_ReadCString(stream, text, sizeof text), qErrNone);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(qStream_ReadCString(stream, text, 0), qErrParam);
    EXPECT_EQ(qStream_ReadCStringRecord(stream, text, sizeof text, ""), qErrParam);
}

TEST_F(StreamTest, FlushCopiesUntilEndOfFileOrError) {
    FakeTransport target;
    qStream* to = qStream_Create(nullptr, fakePut, fakeWrite, nullptr, &target);
    transport.feed("copy me");
    transport.endOfFile = true;
    EXPECT_EQ(qStream_Flush(stream, to), qErrNone);
    EXPECT_EQ(target.output, "copy me");

    transport.endOfFile = false;
    transport.feed("more");
    EXPECT_EQ(qStream_Flush(stream, to), qErrNotReady);
    EXPECT_EQ(target.output, "copy memore");

    transport.feed("x");
    target.putFailure = qErrIO;
    EXPECT_EQ(qStream_Flush(stream, to), qErrIO);
    qStream_Destroy(&to);
}

// File streams ----------------------------------------------------------------------------------

TEST(FileStreamTest, WriteThenReadBack) {
    zvtest::TempDir dir;
    std::string path = dir.file("stream.bin");
    qStream* out = nullptr;
    ASSERT_EQ(qStream_CreateFileOutput(path.c_str(), &out), qErrNone);
    uint8_t b = 0;
    EXPECT_EQ(qStream_Read(out, &b, 1), qErrMode);
    EXPECT_EQ(qStream_WriteCStringRecord(out, "abc", "\n"), qErrNone);
    EXPECT_EQ(qStream_Write(out, reinterpret_cast<const uint8_t*>("Z"), 1), qErrNone);
    EXPECT_EQ(qStream_Destroy(&out), qErrNone);
    EXPECT_EQ(zvtest::readFile(path), std::string("abc\n\0Z", 6));

    qStream* in = nullptr;
    ASSERT_EQ(qStream_CreateFileInput(path.c_str(), &in), qErrNone);
    EXPECT_EQ(qStream_Write(in, &b, 1), qErrMode);
    char text[8];
    EXPECT_EQ(qStream_ReadCStringRecord(in, text, sizeof text, "\n"), qErrNone);
    EXPECT_STREQ(text, "abc");
    uint8_t rest[4] = {};
    EXPECT_EQ(qStream_Read(in, rest, 4), qErrEOF);
    EXPECT_EQ(rest[0], 0);
    EXPECT_EQ(rest[1], 'Z');
    EXPECT_EQ(qStream_Destroy(&in), qErrNone);
}

TEST(FileStreamTest, UnopenableFileGivesResourceAndNoStream) {
    zvtest::TempDir dir;
    qStream* stream = nullptr;
    EXPECT_EQ(qStream_CreateFileInput(dir.file("missing").c_str(), &stream), qErrResource);
    EXPECT_EQ(qStream_CreateFileOutput(dir.file("no/such/dir").c_str(), &stream), qErrResource);
    EXPECT_EQ(qStream_CreateFileInput(nullptr, &stream), qErrResource);
    EXPECT_EQ(stream, nullptr);
}

}  // namespace
