#include "qStream.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

#include "unix_file.h"
#include "unix_time.h"

namespace {

// Keeps at least one slot free so that a byte can always be added at either end. Growing
// straightens the ring so the waiting bytes keep their order.
qErr ensureRoom(qStream* stream) {
    if (stream->pushBack == nullptr) {
        stream->pushBack = static_cast<uint8_t*>(malloc(qSTREAM_PUSHBACK_STEP));
        if (stream->pushBack == nullptr) {
            return qErrMemory;
        }
        stream->capacity = qSTREAM_PUSHBACK_STEP;
        stream->buffered = 0;
        stream->readIndex = 0;
        stream->writeIndex = 0;
    }
    if (stream->buffered < stream->capacity - 1) {
        return qErrNone;
    }
    size_t grown = stream->capacity + qSTREAM_PUSHBACK_STEP;
    uint8_t* bigger = static_cast<uint8_t*>(malloc(grown));
    if (bigger == nullptr) {
        return qErrMemory;
    }
    for (size_t i = 0; i < stream->buffered; ++i) {
        bigger[i] = stream->pushBack[(stream->readIndex + i) % stream->capacity];
    }
    free(stream->pushBack);
    stream->pushBack = bigger;
    stream->capacity = grown;
    stream->readIndex = 0;
    stream->writeIndex = stream->buffered;
    return qErrNone;
}

bool takePushedBack(qStream* stream, uint8_t* byte) {
    if (stream->buffered == 0) {
        return false;
    }
    *byte = stream->pushBack[stream->readIndex];
    stream->readIndex = (stream->readIndex + 1) % stream->capacity;
    stream->buffered--;
    return true;
}

qErr pushFront(qStream* stream, uint8_t byte) {
    qErr err = ensureRoom(stream);
    if (err != qErrNone) {
        return err;
    }
    stream->readIndex = (stream->readIndex + stream->capacity - 1) % stream->capacity;
    stream->pushBack[stream->readIndex] = byte;
    stream->buffered++;
    return qErrNone;
}

// Returns bytes to the stream in front of anything already waiting, so the next read sees them
// again in their original order.
qErr unread(qStream* stream, const uint8_t* bytes, size_t count) {
    for (size_t i = count; i > 0; --i) {
        qErr err = pushFront(stream, bytes[i - 1]);
        if (err != qErrNone) {
            return err;
        }
    }
    return qErrNone;
}

qErr readOne(qStream* stream, uint8_t* byte) {
    if (takePushedBack(stream, byte)) {
        return qErrNone;
    }
    return stream->get(byte, stream->reference);
}

// Pause between two gets that found nothing while a timed read waits.
constexpr uint32_t kEmptyGetPauseMs = 1;

uint32_t millisecondsSince(std::chrono::steady_clock::time_point start) {
    auto elapsed = std::chrono::steady_clock::now() - start;
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

// Small reads (the link reader takes one byte at a time) need no heap scratch.
constexpr size_t kStackScratch = 64;

}  // namespace

qStream* qStream_Create(qStreamGetProc get, qStreamPutProc put, qStreamWriteProc write,
                        qStreamDeleteProc del, void* reference) {
    // No push-back buffer until a byte is returned.
    qStream* created = new (std::nothrow) qStream{};
    if (created != nullptr) {
        created->get = get;
        created->put = put;
        created->write = write;
        created->del = del;
        created->reference = reference;
        created->check = qSTREAM_CHECK;
        created->getWaitMs = qSTREAM_GET_WAIT_LIMIT_MS;
    }
    return created;
}

bool qStream_CreateOwning(qStreamGetProc get, qStreamPutProc put, qStreamWriteProc write,
                          qStreamDeleteProc del, void* reference, qStream** stream) {
    qStream* created = qStream_Create(get, put, write, del, reference);
    if (created == nullptr) {
        if (del != nullptr) {
            del(reference);
        }
        return false;
    }
    *stream = created;
    return true;
}

qErr qStream_Read(qStream* stream, uint8_t* buffer, size_t size) {
    if (!qVALIDSTREAM(stream) || buffer == nullptr) {
        return qErrParam;
    }
    if (stream->get == nullptr) {
        return qErrMode;
    }
    uint8_t stackScratch[kStackScratch];
    uint8_t* scratch = stackScratch;
    if (size > kStackScratch) {
        scratch = static_cast<uint8_t*>(malloc(size));
        if (scratch == nullptr) {
            return qErrResource;
        }
    }
    size_t obtained = 0;
    qErr err = qErrNone;
    while (obtained < size && (err = readOne(stream, &scratch[obtained])) == qErrNone) {
        obtained++;
    }
    if (obtained < size && err == qErrNotReady) {
        qErr pushed = unread(stream, scratch, obtained);
        if (pushed != qErrNone) {
            err = pushed;
        }
    } else if (err == qErrNone || err == qErrEOF) {
        memcpy(buffer, scratch, obtained);
    }
    if (scratch != stackScratch) {
        free(scratch);
    }
    return err;
}

size_t qStream_ReadWithin(qStream* stream, uint8_t* buffer, size_t count, uint32_t ms, qErr* last) {
    qErr err = qErrNone;
    size_t got = 0;
    if (!qVALIDSTREAM(stream) || buffer == nullptr) {
        err = qErrParam;
    } else if (stream->get == nullptr) {
        err = qErrMode;
    }
    const auto start = std::chrono::steady_clock::now();
    while (err == qErrNone && got < count) {
        err = readOne(stream, &buffer[got]);
        if (err == qErrNone) {
            got++;
            continue;
        }
        if (err != qErrNotReady || ms == 0) {
            break;
        }
        qTime_MSSleep(kEmptyGetPauseMs);
        if (millisecondsSince(start) >= ms) {
            break;
        }
        err = qErrNone;
    }
    if (last != nullptr) {
        *last = err;
    }
    return got;
}

qErr qStream_Write(qStream* stream, const uint8_t* bytes, size_t length) {
    if (!qVALIDSTREAM(stream) || bytes == nullptr) {
        return qErrParam;
    }
    if (stream->put == nullptr && stream->write == nullptr) {
        return qErrMode;
    }
    if (stream->write != nullptr && length > 1) {
        return stream->write(bytes, length, stream->reference);
    }
    if (stream->put == nullptr) {
        return stream->write(bytes, length, stream->reference);
    }
    for (size_t i = 0; i < length; ++i) {
        qErr err = stream->put(bytes[i], stream->reference);
        if (err != qErrNone) {
            return err;
        }
    }
    return qErrNone;
}

qErr qStreamBufferChar(qStream* stream, uint8_t byte) {
    if (!qVALIDSTREAM(stream)) {
        return qErrParam;
    }
    qErr err = ensureRoom(stream);
    if (err != qErrNone) {
        return err;
    }
    stream->pushBack[stream->writeIndex] = byte;
    stream->writeIndex = (stream->writeIndex + 1) % stream->capacity;
    stream->buffered++;
    return qErrNone;
}

namespace {

// Matches the terminator over the incoming bytes. When a partial match breaks off, its first
// byte is record data and the rest is examined again, so a terminator prefix inside the record
// (a lone "\r" before "\r\n") is kept as data instead of being dropped.
class RecordMatcher {
  public:
    RecordMatcher(uint8_t* buffer, size_t capacity, const uint8_t* terminator, size_t length,
                  uint8_t* queue)
        : buffer_(buffer),
          capacity_(capacity),
          terminator_(terminator),
          terminatorLength_(length),
          queue_(queue) {}

    size_t stored() const { return stored_; }
    bool full() const { return stored_ >= capacity_; }

    // Feeds one byte from the stream; true once the whole terminator has been seen. Bytes that
    // no longer fit are returned to the stream.
    qErr feed(qStream* stream, uint8_t byte, bool* complete) {
        queueLength_ = 0;
        queue_[queueLength_++] = byte;
        size_t next = 0;
        while (next < queueLength_) {
            if (full()) {
                return giveBack(stream, next);
            }
            uint8_t b = queue_[next++];
            if (b == terminator_[matched_]) {
                if (++matched_ == terminatorLength_) {
                    *complete = true;
                    return qErrNone;
                }
            } else if (matched_ == 0) {
                buffer_[stored_++] = b;
            } else {
                next = requeueBrokenMatch(next);
            }
        }
        return qErrNone;
    }

    // At end of file a pending partial match is record data.
    qErr finish(qStream* stream) {
        size_t held = matched_;
        matched_ = 0;
        size_t i = 0;
        while (i < held && !full()) {
            buffer_[stored_++] = terminator_[i++];
        }
        return unread(stream, terminator_ + i, held - i);
    }

    // Every byte taken from the stream so far, in stream order: the stored bytes, then the
    // pending partial match.
    qErr returnAll(qStream* stream) {
        qErr err = unread(stream, terminator_, matched_);
        if (err == qErrNone) {
            err = unread(stream, buffer_, stored_);
        }
        stored_ = 0;
        matched_ = 0;
        return err;
    }

  private:
    // The byte at next - 1 broke a match of matched_ bytes: store the match's first byte and
    // queue the rest of it in front of the breaking byte.
    size_t requeueBrokenMatch(size_t next) {
        size_t held = matched_;
        matched_ = 0;
        buffer_[stored_++] = terminator_[0];
        size_t rest = queueLength_ - (next - 1);
        uint8_t* start = queue_ + (next - 1);
        memmove(queue_ + (held - 1), start, rest);
        memcpy(queue_, terminator_ + 1, held - 1);
        queueLength_ = held - 1 + rest;
        return 0;
    }

    qErr giveBack(qStream* stream, size_t next) {
        qErr err = unread(stream, queue_ + next, queueLength_ - next);
        if (err == qErrNone) {
            err = unread(stream, terminator_, matched_);
        }
        matched_ = 0;
        return err;
    }

    uint8_t* buffer_;
    size_t capacity_;
    const uint8_t* terminator_;
    size_t terminatorLength_;
    uint8_t* queue_;
    size_t queueLength_ = 0;
    size_t stored_ = 0;
    size_t matched_ = 0;
};

}  // namespace

qErr qStream_ReadRecord(qStream* stream, uint8_t* buffer, size_t* length, size_t capacity,
                        const uint8_t* terminator, size_t terminatorLength) {
    if (!qVALIDSTREAM(stream) || buffer == nullptr || terminator == nullptr ||
        terminatorLength == 0) {
        return qErrParam;
    }
    if (stream->get == nullptr) {
        return qErrMode;
    }
    // Bytes waiting to be matched never exceed the terminator's length.
    uint8_t* queue = new (std::nothrow) uint8_t[terminatorLength];
    if (queue == nullptr) {
        return qErrResource;
    }
    RecordMatcher matcher(buffer, capacity, terminator, terminatorLength, queue);
    size_t consumed = 0;
    bool complete = false;
    qErr err = qErrNone;
    while (!complete && !matcher.full()) {
        uint8_t byte = 0;
        err = qStream_Read(stream, &byte, 1);
        if (err != qErrNone) {
            break;
        }
        consumed++;
        err = matcher.feed(stream, byte, &complete);
        if (err != qErrNone) {
            break;
        }
    }
    if (err == qErrEOF) {
        err = consumed > 0 ? matcher.finish(stream) : qErrEOF;
    } else if (err == qErrNotReady) {
        qErr returned = matcher.returnAll(stream);
        err = returned != qErrNone ? returned : qErrNotReady;
    }
    if (length != nullptr) {
        *length = matcher.stored();
    }
    delete[] queue;
    return err;
}

qErr qStream_WriteRecord(qStream* stream, const uint8_t* bytes, size_t length,
                         const uint8_t* terminator, size_t terminatorLength) {
    if (!qVALIDSTREAM(stream) || bytes == nullptr || terminator == nullptr) {
        return qErrParam;
    }
    qErr err = qStream_Write(stream, bytes, length);
    if (err == qErrNone) {
        err = qStream_Write(stream, terminator, terminatorLength);
    }
    return err;
}

qErr qStream_ReadCStringRecord(qStream* stream, char* buffer, size_t size,
                               const char* terminatorText) {
    if (buffer == nullptr || size == 0 || terminatorText == nullptr) {
        return qErrParam;
    }
    size_t length = 0;
    qErr err = qStream_ReadRecord(stream, reinterpret_cast<uint8_t*>(buffer), &length, size - 1,
                                  reinterpret_cast<const uint8_t*>(terminatorText),
                                  strlen(terminatorText));
    buffer[length] = '\0';
    return err;
}

qErr qStream_ReadCString(qStream* stream, char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return qErrParam;
    }
    static const uint8_t zero = 0;
    size_t length = 0;
    qErr err =
        qStream_ReadRecord(stream, reinterpret_cast<uint8_t*>(buffer), &length, size - 1, &zero, 1);
    buffer[length] = '\0';
    return err;
}

qErr qStream_WriteCString(qStream* stream, const char* text) {
    if (text == nullptr) {
        return qErrParam;
    }
    return qStream_Write(stream, reinterpret_cast<const uint8_t*>(text), strlen(text) + 1);
}

qErr qStream_WriteCStringRecord(qStream* stream, const char* text, const char* terminatorText) {
    if (text == nullptr || terminatorText == nullptr) {
        return qErrParam;
    }
    return qStream_WriteRecord(stream, reinterpret_cast<const uint8_t*>(text), strlen(text),
                               reinterpret_cast<const uint8_t*>(terminatorText),
                               strlen(terminatorText) + 1);
}

qErr qStream_Flush(qStream* from, qStream* to) {
    if (!qVALIDSTREAM(from) || !qVALIDSTREAM(to)) {
        return qErrParam;
    }
    if (from->get == nullptr || to->put == nullptr) {
        return qErrMode;
    }
    for (;;) {
        uint8_t byte = 0;
        qErr err = qStream_Read(from, &byte, 1);
        if (err == qErrEOF) {
            return qErrNone;
        }
        if (err != qErrNone) {
            return err;
        }
        err = to->put(byte, to->reference);
        if (err != qErrNone) {
            return err;
        }
    }
}

qErr qStream_Destroy(qStream** stream) {
    if (stream == nullptr || !qVALIDSTREAM(*stream)) {
        return qErrParam;
    }
    qStream* s = *stream;
    qErr err = s->del != nullptr ? s->del(s->reference) : qErrNone;
    free(s->pushBack);
    s->check = 0;
    delete s;
    *stream = nullptr;
    return err;
}

// File streams ----------------------------------------------------------------------------------

namespace {

qErr fileGet(uint8_t* byte, void* reference) {
    if (reference == nullptr) {
        return qErrIO;
    }
    return qFile_Read(static_cast<qFile*>(reference), byte, 1, nullptr);
}

qErr filePut(uint8_t byte, void* reference) {
    if (reference == nullptr) {
        return qErrIO;
    }
    return qFile_Write(static_cast<qFile*>(reference), &byte, 1, nullptr);
}

qErr fileWrite(const uint8_t* bytes, size_t length, void* reference) {
    if (reference == nullptr) {
        return qErrIO;
    }
    return qFile_Write(static_cast<qFile*>(reference), bytes, length, nullptr);
}

qErr fileDelete(void* reference) {
    if (reference == nullptr) {
        return qErrIO;
    }
    qFile* file = static_cast<qFile*>(reference);
    return qFile_Close(&file);
}

qErr createFileStream(const char* path, int mode, qStream** stream) {
    if (path == nullptr || stream == nullptr) {
        return qErrResource;
    }
    qFile* file = qFile_Open(path, mode);
    if (file == nullptr) {
        return qErrResource;
    }
    bool made = mode == qFileModeRead
                    ? qStream_CreateOwning(fileGet, nullptr, nullptr, fileDelete, file, stream)
                    : qStream_CreateOwning(nullptr, filePut, fileWrite, fileDelete, file, stream);
    return made ? qErrNone : qErrResource;
}

}  // namespace

qErr qStream_CreateFileInput(const char* path, qStream** stream) {
    return createFileStream(path, qFileModeRead, stream);
}

qErr qStream_CreateFileOutput(const char* path, qStream** stream) {
    return createFileStream(path, qFileModeWrite, stream);
}
