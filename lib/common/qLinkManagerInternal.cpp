#include "qLinkManagerInternal.h"

#include <algorithm>
#include <new>
#include <vector>

#include "qLinkInternal.h"
#include "unix_mutex.h"

namespace {

struct LinkTable {
    // Newest first, so that a module's latest link is the one reused.
    std::vector<qLinkEntryRef> entries;
    qLinkID nextId = 1;
};

LinkTable& table() {
    static LinkTable instance;
    return instance;
}

qMutex* tableMutex() {
    static qMutex* mutex = qMutex_Create("qLink_Managed");
    return mutex;
}

// Holds the table mutex for one scope.
class TableLock {
  public:
    TableLock() { qMutex_Lock(tableMutex()); }
    ~TableLock() { qMutex_Unlock(tableMutex()); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
};

typedef std::vector<qLinkEntryRef>::iterator EntryPlace;

EntryPlace findLocked(qLinkID id) {
    std::vector<qLinkEntryRef>& entries = table().entries;
    return std::find_if(entries.begin(), entries.end(),
                        [id](const qLinkEntryRef& entry) { return entry->id == id; });
}

bool knownLocked(qLinkID id) {
    return findLocked(id) != table().entries.end();
}

// Id 0 means "no link", so a wrapped counter skips it and any id still in use.
qLinkID takeIdLocked() {
    qLinkID id = table().nextId++;
    while (id == 0 || knownLocked(id)) {
        id = table().nextId++;
    }
    return id;
}

// Runs use on the table's place of id under the table mutex; false for an unknown id.
template <typename Use>
bool withEntry(qLinkID id, Use use) {
    if (tableMutex() == nullptr) {
        return false;
    }
    TableLock lock;
    auto found = findLocked(id);
    if (found == table().entries.end()) {
        return false;
    }
    use(found);
    return true;
}

}  // namespace

qLinkEntryRef qLinkManager_AddEntry(const linkSpec& spec) {
    qLinkEntryRef entry(new (std::nothrow) qLinkEntry{});
    std::shared_ptr<qLinkObject> link = qLink_NewObject();
    if (entry == nullptr || link == nullptr || tableMutex() == nullptr) {
        return nullptr;
    }
    entry->spec = spec;
    entry->link = link;
    TableLock lock;
    entry->id = takeIdLocked();
    table().entries.insert(table().entries.begin(), entry);
    return entry;
}

qLinkEntryRef sLookupEntryByID(qLinkID id) {
    qLinkEntryRef found;
    withEntry(id, [&found](EntryPlace place) { found = *place; });
    return found;
}

qLinkReuse qLinkManager_ReuseEntry(uint32_t type, uint32_t serialNumber, qLinkID* id) {
    if (id == nullptr || tableMutex() == nullptr) {
        return qLinkReuse::None;
    }
    TableLock lock;
    for (const qLinkEntryRef& entry : table().entries) {
        if (entry->spec.type == type && entry->spec.serialNumber == serialNumber) {
            if (entry->server != nullptr) {
                return qLinkReuse::ServesServer;
            }
            entry->useCount++;
            *id = entry->id;
            return qLinkReuse::Reused;
        }
    }
    return qLinkReuse::None;
}

bool qLinkManager_AddUser(qLinkID id) {
    return withEntry(id, [](EntryPlace place) { (*place)->useCount++; });
}

qLinkEntryRef qLinkManager_ReleaseUser(qLinkID id, bool* known) {
    qLinkEntryRef released;
    *known = withEntry(id, [&released](EntryPlace place) {
        if (--(*place)->useCount <= 0) {
            released = *place;
            table().entries.erase(place);
        }
    });
    return released;
}

bool qLinkManager_SetServedLink(qLinkID clientId, qLinkID servedLinkId) {
    return withEntry(clientId,
                     [servedLinkId](EntryPlace place) { (*place)->servedLinkId = servedLinkId; });
}

bool qLinkManager_SetServer(qLinkID id, void* server, qLinkServerDestroyProc destroyServer) {
    return withEntry(id, [server, destroyServer](EntryPlace place) {
        (*place)->server = server;
        (*place)->destroyServer = destroyServer;
    });
}

int qLinkManager_UseCount(qLinkID id) {
    int count = -1;
    withEntry(id, [&count](EntryPlace place) { count = (*place)->useCount; });
    return count;
}

size_t qLinkManager_Count() {
    if (tableMutex() == nullptr) {
        return 0;
    }
    TableLock lock;
    return table().entries.size();
}
