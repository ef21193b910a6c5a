// An in-memory transport for exercising the generic stream: bytes are fed in by the test, and an
// empty input reads as "not ready" or as end of file.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "qStream.h"

struct FakeTransport {
    std::deque<uint8_t> input;
    bool endOfFile = false;
    std::string output;
    int writeCalls = 0;
    int deleteCalls = 0;
    qErr putFailure = qErrNone;

    void feed(const std::string& bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }
};

inline qErr fakeGet(uint8_t* byte, void* reference) {
    FakeTransport* t = static_cast<FakeTransport*>(reference);
    if (t->input.empty()) {
        return t->endOfFile ? qErrEOF : qErrNotReady;
    }
    *byte = t->input.front();
    t->input.pop_front();
    return qErrNone;
}

inline qErr fakePut(uint8_t byte, void* reference) {
    FakeTransport* t = static_cast<FakeTransport*>(reference);
    if (t->putFailure != qErrNone) {
        return t->putFailure;
    }
    t->output.push_back(static_cast<char>(byte));
    return qErrNone;
}

inline qErr fakeWrite(const uint8_t* bytes, size_t length, void* reference) {
    FakeTransport* t = static_cast<FakeTransport*>(reference);
    t->writeCalls++;
    t->output.append(reinterpret_cast<const char*>(bytes), length);
    return qErrNone;
}

inline qErr fakeDelete(void* reference) {
    static_cast<FakeTransport*>(reference)->deleteCalls++;
    return qErrNone;
}
