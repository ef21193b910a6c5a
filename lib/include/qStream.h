// Byte stream behind a link: four procedures supplied by a transport (get one byte, put one byte,
// write a block, delete) plus a push-back buffer so that readers can return bytes they took too
// early.
//
// What every transport's procedures promise:
// - get hands out one byte (qErrNone), or reports that none came within its short wait
//   (qErrNotReady), that the input has ended (qErrEOF, files only) or that the transport failed
//   (qErrIO, qErrConnection, qErrPacket for a damaged frame). It never blocks for good, so that a
//   link's reader sees a stop request in time: streams over a descriptor (serial port, socket,
//   the kernel driver's node, COBS frames over them) and USB through libusb (whose transfer goes
//   on between gets) wait at most qSTREAM_IDLE_WAIT_MS for a byte (a socket that was reset
//   reconnects on top of that), and no get waits longer than qSTREAM_GET_WAIT_LIMIT_MS for one
//   (the link client's poll). A file's get does not wait at all.
// - put and write hand bytes to the transport and return once it has taken them (a serial port
//   drains its output); they may wait for the transport, but not for the peer to answer.
// - del releases the transport; it is called once, by the owner, after the reading and the
//   writing side have stopped.
// - A stream is used by at most two threads at once: one reading thread at a time calls only get
//   (through qStream_Read, qStream_ReadWithin and the record readers, which also own the
//   push-back buffer): a link's reader thread, or a caller of qLink_AwaitFirst that reads the
//   reply itself, under the link's read lock. A caller's get takes a byte or reports that none
//   came; whatever else the transport does (reconnect, pause, a failure) is left to the reader
//   thread: the library's streams report it to a caller as qErrBusy without acting on it. One
//   writing thread at a time calls put and write: the link's writer thread, or a caller of
//   qLink_SendPackets, under the link's write lock. Single-threaded owners such as the recovery
//   protocols do both from one thread.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>

#include "qError.h"

#define qSTREAM_CHECK 0x4321
// First size of the push-back buffer, and the step by which it grows.
#define qSTREAM_PUSHBACK_STEP 512
// How long a get over a descriptor waits for a byte before it reports that none is there.
#define qSTREAM_IDLE_WAIT_MS 20
// The longest any get may wait.
#define qSTREAM_GET_WAIT_LIMIT_MS 1000

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
    // The longest one get waits when no byte comes (see above). A link lets a caller awaiting a
    // reply read the stream itself only when this is at most qSTREAM_IDLE_WAIT_MS and the caller
    // has more than this long left, so that its wait still ends on time. Streams made by
    // qStream_Create say qSTREAM_GET_WAIT_LIMIT_MS; transports that wait less set their own.
    uint32_t getWaitMs;
};

#define qVALIDSTREAM(s) ((s) != nullptr && (s)->check == qSTREAM_CHECK)

// A new stream over the given procedures; null when memory runs out.
ZENDRIVAL_EXPORT qStream* qStream_Create(qStreamGetProc get, qStreamPutProc put,
                                         qStreamWriteProc write, qStreamDeleteProc del,
                                         void* reference);
// The same for a transport that is already open, stored through *stream: false when no stream
// can be made, and the transport is then released with del.
ZENDRIVAL_EXPORT bool qStream_CreateOwning(qStreamGetProc get, qStreamPutProc put,
                                           qStreamWriteProc write, qStreamDeleteProc del,
                                           void* reference, qStream** stream);

// Reads exactly size bytes. While data is still trickling in (qErrNotReady) the read is all or
// nothing: the bytes obtained are pushed back and the buffer is left untouched. At end of file
// the bytes obtained are copied and qErrEOF returned.
ZENDRIVAL_EXPORT qErr qStream_Read(qStream* stream, uint8_t* buffer, size_t size);
// Reads up to count bytes into buffer and returns how many it got (0 to count). Bytes waiting in
// the push-back buffer come first. A get that finds nothing is followed by a pause of 1 ms, and
// the read goes on until ms milliseconds have passed since the call; a byte that is there is
// always taken, so ms 0 takes what is waiting now (one get per byte, no pause). A get may itself
// wait, so the call can last up to one get's wait and the pause longer than ms. It also stops at
// end of file or a failure of the transport. Unlike qStream_Read the bytes got are consumed even
// when fewer than count came. When last is given it receives qErrNone when all count bytes came,
// else the code of the get that ended the read (qErrNotReady when time ran out), or qErrParam /
// qErrMode for an invalid stream, a null buffer or a stream without get.
ZENDRIVAL_EXPORT size_t qStream_ReadWithin(qStream* stream, uint8_t* buffer, size_t count,
                                           uint32_t ms, qErr* last = nullptr);
// One call of the write procedure for blocks longer than one byte, otherwise put per byte.
ZENDRIVAL_EXPORT qErr qStream_Write(qStream* stream, const uint8_t* bytes, size_t length);
// Appends one byte to the push-back buffer; the next read hands it out after any bytes already
// waiting there.
ZENDRIVAL_EXPORT qErr qStreamBufferChar(qStream* stream, uint8_t byte);

// Reads a record ended by the terminator sequence, storing at most capacity bytes (the terminator
// is not stored). End of file after at least one byte ends the record; end of file before any
// byte is qErrEOF. qErrNotReady pushes back every byte consumed so far.
ZENDRIVAL_EXPORT qErr qStream_ReadRecord(qStream* stream, uint8_t* buffer, size_t* length,
                                         size_t capacity, const uint8_t* terminator,
                                         size_t terminatorLength);
ZENDRIVAL_EXPORT qErr qStream_WriteRecord(qStream* stream, const uint8_t* bytes, size_t length,
                                          const uint8_t* terminator, size_t terminatorLength);
// A record ended by a zero byte: at most size - 1 bytes, then zero-terminated.
ZENDRIVAL_EXPORT qErr qStream_ReadCString(qStream* stream, char* buffer, size_t size);
// The text and its zero byte.
ZENDRIVAL_EXPORT qErr qStream_WriteCString(qStream* stream, const char* text);
// A record ended by terminatorText (without its zero byte), zero-terminated in buffer.
ZENDRIVAL_EXPORT qErr qStream_ReadCStringRecord(qStream* stream, char* buffer, size_t size,
                                                const char* terminatorText);
// The text, then the terminator text with its zero byte.
ZENDRIVAL_EXPORT qErr qStream_WriteCStringRecord(qStream* stream, const char* text,
                                                 const char* terminatorText);

// Copies bytes until the source reports an error; end of file is a normal end. Meant for sources
// that end (files): a source that only pauses ends the copy with qErrNotReady.
ZENDRIVAL_EXPORT qErr qStream_Flush(qStream* from, qStream* to);

// Closes the stream: runs the delete procedure, frees the stream and clears the caller's pointer;
// the result is the delete procedure's.
ZENDRIVAL_EXPORT qErr qStream_Destroy(qStream** stream);

// File streams: input has get and delete, output has put, write and delete. qErrResource when the
// file cannot be opened.
ZENDRIVAL_EXPORT qErr qStream_CreateFileInput(const char* path, qStream** stream);
ZENDRIVAL_EXPORT qErr qStream_CreateFileOutput(const char* path, qStream** stream);
