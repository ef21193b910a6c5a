// The process-wide link table: one entry per link, addressed by id, with what the link reaches so
// that a second user of the same module finds and shares it. Every function here takes the table
// mutex for its own duration only; none holds it while a link operation runs. Entries and their
// link objects are shared: whatever a lookup returns stays valid while it is held, even when
// another thread destroys the link meanwhile (a destroyed link only refuses traffic then).
#pragma once

#include <cstdint>
#include <memory>

#include "qError.h"
#include "qLink.h"
#include "qLinkSpec.h"

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
    // The transport's type and the module it reaches (serial number and the address and port or
    // device path); for a client link, the link server's address and port.
    linkSpec spec;
    int16_t useCount;
    std::shared_ptr<qLinkObject> link;
};

typedef std::shared_ptr<qLinkEntry> qLinkEntryRef;

// Adds a new entry (newest first) with a fresh, uninitialised link object and a new id; the use
// count starts at 0. Null when memory runs out.
qLinkEntryRef qLinkManager_AddEntry(const linkSpec& spec);
// The entry of a link id, or null.
qLinkEntryRef sLookupEntryByID(qLinkID id);

enum class qLinkReuse { None, Reused, ServesServer };
// Finds the link of this type for this module (serial number) and counts one more user, unless
// it is published by a link server.
qLinkReuse qLinkManager_ReuseEntry(uint32_t type, uint32_t serialNumber, qLinkID* id);
// Counts one more user of an existing link; false for an unknown id.
bool qLinkManager_AddUser(qLinkID id);
// Counts one user less. When none remains the entry leaves the table and is handed to the caller
// for teardown; otherwise null. *known is false for an unknown id.
qLinkEntryRef qLinkManager_ReleaseUser(qLinkID id, bool* known);
// Marks a client entry as the one through which a link server's creator reaches linkId.
bool qLinkManager_SetServedLink(qLinkID clientId, qLinkID servedLinkId);
// Stores the link server published for an entry (null clears it); false for an unknown id.
bool qLinkManager_SetServer(qLinkID id, void* server, qLinkServerDestroyProc destroyServer);
// Current use count; -1 for an unknown id.
int qLinkManager_UseCount(qLinkID id);
// Number of links in the table.
size_t qLinkManager_Count();
