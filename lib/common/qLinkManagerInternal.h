// The process-wide link table: one entry per link, addressed by id, with the identifiers that let
// a second user of the same module find and share the link. Every function here takes the table
// mutex for its own duration only; none holds it while a link operation runs.
#pragma once

#include <cstdint>

#include "qError.h"
#include "qLink.h"

struct qLinkObject;

// Tears down the link server stored in an entry; supplied by whoever put the server there.
typedef qErr (*qLinkServerDestroyProc)(void** server);

struct qLinkEntry {
    qLinkID id;
    // For the client link that a link server's creator uses: the link it serves, destroyed with
    // it.
    qLinkID servedLinkId;
    void* server;
    qLinkServerDestroyProc destroyServer;
    // USB, serial, TCP/IP: serial number, address (network order), port.
    // Client links: address (network order), port, client counter at creation.
    uint32_t identifier[3];
    uint32_t type;
    int16_t useCount;
    qLinkObject* link;
    qLinkEntry* next;
};

// Adds a new entry (newest first) with a fresh, uninitialised link object and a new id; the use
// count starts at 0. Null when memory runs out.
qLinkEntry* qLinkManager_AddEntry(uint32_t type, uint32_t identifier0, uint32_t identifier1,
                                  uint32_t identifier2);
// The entry of a link id, or null. The pointer stays valid until the link is destroyed.
qLinkEntry* sLookupEntryByID(qLinkID id);

enum class qLinkReuse { None, Reused, ServesServer };
// Finds the link of this type for this module (identifier 0) and counts one more user, unless it
// is published by a link server.
qLinkReuse qLinkManager_ReuseEntry(uint32_t type, uint32_t identifier0, qLinkID* id);
// Counts one more user of an existing link; false for an unknown id.
bool qLinkManager_AddUser(qLinkID id);
// Counts one user less. When none remains the entry leaves the table and is handed to the caller
// for teardown; otherwise null. *known is false for an unknown id.
qLinkEntry* qLinkManager_ReleaseUser(qLinkID id, bool* known);
// Marks a client entry as the one through which a link server's creator reaches linkId.
bool qLinkManager_SetServedLink(qLinkID clientId, qLinkID servedLinkId);
// Stores the link server published for an entry (null clears it); false for an unknown id.
bool qLinkManager_SetServer(qLinkID id, void* server, qLinkServerDestroyProc destroyServer);
// Current use count; -1 for an unknown id.
int qLinkManager_UseCount(qLinkID id);
// Number of links in the table.
size_t qLinkManager_Count();
// Counter stamped into each new client entry, then advanced.
uint32_t qLinkManager_NextClientCounter();

// What traffic functions need of a link, read under the table mutex so that a link destroyed by
// another thread meanwhile only makes the queue handles unknown.
struct qLinkView {
    bool hasLink;
    qPacketFifoHandle inbound;
    qPacketFifoHandle outbound;
    uint32_t status;
    bool running;
};
// False for an unknown id.
bool qLinkManager_View(qLinkID id, qLinkView* view);
