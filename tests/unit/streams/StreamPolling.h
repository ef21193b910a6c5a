// Polling helpers for stream tests over non-blocking transports.
#pragma once

#include "qStream.h"

// Reads count bytes within a generous limit; the code of the read that ended it otherwise.
inline qErr readWithin(qStream* stream, uint8_t* buffer, size_t count) {
    qErr err = qErrNone;
    qStream_ReadWithin(stream, buffer, count, 5000, &err);
    return err;
}
