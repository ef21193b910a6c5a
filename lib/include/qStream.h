// Byte stream behind a link: four procedures supplied by a transport (get one byte, put one byte,
// write a block, delete) plus a push-back buffer so that readers can return bytes they took too
// early. The link's reader thread only reads and its writer thread only writes, so the push-back
// buffer belongs to the reading side alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qError.h"

#define qSTREAM_CHECK 0x4321
// First size of the push-back buffer, and the step by which it grows.
#define qSTREAM_PUSHBACK_STEP 512

typedef qErr (*qStreamGetProc)(uint8_t* byte, void* reference);
typedef qErr (*qStreamPutProc)(uint8_t byte, void* reference);
typedef qErr (*qStreamWriteProc)(const uint8_t* bytes, size_t length, void* reference);
typedef qErr (*qStreamDeleteProc)(void* reference);

struct qStream {
    qStreamGetProc get;
    qStreamPutProc put;
    qStreamWriteProc write;
    qStreamDeleteProc del;
    // The transport's state record, owned by the stream and released by del.
    void* reference;
    // Ring buffer of bytes returned to the stream; absent until first used.
    uint8_t* pushBack;
    uint32_t buffered;
    size_t capacity;
    size_t readIndex;
    size_t writeIndex;
    uint16_t check;
};

#define qVALIDSTREAM(s) ((s) != nullptr && (s)->check == qSTREAM_CHECK)

// A new stream over the given procedures; null when memory runs out.
qStream* qStream_Create(qStreamGetProc get, qStreamPutProc put, qStreamWriteProc write,
                        qStreamDeleteProc del, void* reference);

// Reads exactly size bytes. While data is still trickling in (qErrNotReady) the read is all or
// nothing: the bytes obtained are pushed back and the buffer is left untouched. At end of file
// the bytes obtained are copied and qErrEOF returned.
qErr qStream_Read(qStream* stream, uint8_t* buffer, size_t size);
// One call of the write procedure for blocks longer than one byte, otherwise put per byte.
qErr qStream_Write(qStream* stream, const uint8_t* bytes, size_t length);
// Appends one byte to the push-back buffer; the next read hands it out after any bytes already
// waiting there.
qErr qStreamBufferChar(qStream* stream, uint8_t byte);

// Reads a record ended by the terminator sequence, storing at most capacity bytes (the terminator
// is not stored). End of file after at least one byte ends the record; end of file before any
// byte is qErrEOF. qErrNotReady pushes back every byte consumed so far.
qErr qStream_ReadRecord(qStream* stream, uint8_t* buffer, size_t* length, size_t capacity,
                        const uint8_t* terminator, size_t terminatorLength);
qErr qStream_WriteRecord(qStream* stream, const uint8_t* bytes, size_t length,
                         const uint8_t* terminator, size_t terminatorLength);
// A record ended by a zero byte: at most size - 1 bytes, then zero-terminated.
qErr qStream_ReadCString(qStream* stream, char* buffer, size_t size);
// The text and its zero byte.
qErr qStream_WriteCString(qStream* stream, const char* text);
// A record ended by terminatorText (without its zero byte), zero-terminated in buffer.
qErr qStream_ReadCStringRecord(qStream* stream, char* buffer, size_t size,
                               const char* terminatorText);
// The text, then the terminator text with its zero byte.
qErr qStream_WriteCStringRecord(qStream* stream, const char* text, const char* terminatorText);

// Copies bytes until the source reports an error; end of file is a normal end.
qErr qStream_Flush(qStream* from, qStream* to);

// Runs the delete procedure, frees the stream and clears the caller's pointer; the result is the
// delete procedure's.
qErr qStream_Destroy(qStream** stream);

// File streams: input has get and delete, output has put, write and delete. qErrResource when the
// file cannot be opened.
qErr qStream_CreateFileInput(const char* path, qStream** stream);
qErr qStream_CreateFileOutput(const char* path, qStream** stream);
