// A byte stream that carries each packet as one COBS frame with a CRC-8, ended by a zero byte,
// over another stream: packetised serial links, where a lost or damaged byte must cost one packet
// and never the packet boundaries.
#pragma once

#include "ZendrivalExport.h"

#include "qStream.h"

// Wraps the stream given by its four procedures and their context; the framed stream owns the
// context from then on (its delete runs the given delete). qErrResource when memory runs out.
ZENDRIVAL_EXPORT qErr qStream_CreateCobsEncoding(qStreamGetProc get, qStreamPutProc put,
                                                 qStreamWriteProc write, qStreamDeleteProc del,
                                                 void* context, qStream** stream);
