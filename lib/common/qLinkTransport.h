// The transports a link can run over, one row each: how the stream to the module is made, what
// the link does once it is up, whether a reset may make the stream again, and what a link server
// in front of it announces. Adding a transport is one row here and one stream.
#pragma once

#include <cstdint>

#include "qError.h"
#include "qLinkSpec.h"
#include "qStream.h"

struct qLinkTransport {
    uint32_t type;
    const char* name;
    // Makes the stream to the module the linkSpec names; null for a stream only a caller can make.
    qErr (*createStream)(const linkSpec& spec, qStream** stream);
    // The first bytes may be the tail of what the module sent before: find the packet
    // boundaries before anyone relies on them.
    bool syncOnCreate;
    // A reset may close the stream and make it again from the linkSpec alone.
    bool recreatable;
    // The linkType a link server announces for a link of this type; linkTypeNone when such a
    // link cannot be published.
    uint32_t publishedType;
};

// The row of a linkType; null for a type no transport serves.
const qLinkTransport* qLinkTransport_Find(uint32_t type);
