#include "qLinkManagerInternal.h"

#include <new>

#include "qLinkInternal.h"
#include "unix_mutex.h"

namespace {

struct LinkTable {
    qLinkEntry* head = nullptr;
    qLinkID nextId = 1;
    uint32_t clientCounter = 0;
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

qLinkEntry* findLocked(qLinkID id) {
    for (qLinkEntry* entry = table().head; entry != nullptr; entry = entry->next) {
        if (entry->id == id) {
            return entry;
        }
    }
    return nullptr;
}

void unlinkLocked(qLinkEntry* target) {
    for (qLinkEntry** slot = &table().head; *slot != nullptr; slot = &(*slot)->next) {
        if (*slot == target) {
            *slot = target->next;
            target->next = nullptr;
            return;
        }
    }
}

// Id 0 means "no link", so a wrapped counter skips it and any id still in use.
qLinkID takeIdLocked() {
    qLinkID id = table().nextId++;
    while (id == 0 || findLocked(id) != nullptr) {
        id = table().nextId++;
    }
    return id;
}

}  // namespace

qLinkEntry* qLinkManager_AddEntry(uint32_t type, uint32_t identifier0, uint32_t identifier1,
                                  uint32_t identifier2) {
    qLinkEntry* entry = new (std::nothrow) qLinkEntry{};
    qLinkObject* link = new (std::nothrow) qLinkObject{};
    if (entry == nullptr || link == nullptr || tableMutex() == nullptr) {
        delete entry;
        delete link;
        return nullptr;
    }
    entry->type = type;
    entry->identifier[0] = identifier0;
    entry->identifier[1] = identifier1;
    entry->identifier[2] = identifier2;
    entry->link = link;
    link->status = qLINK_STATUS_INVALID;
    TableLock lock;
    entry->id = takeIdLocked();
    entry->next = table().head;
    table().head = entry;
    return entry;
}

qLinkEntry* sLookupEntryByID(qLinkID id) {
    if (id == 0 || tableMutex() == nullptr) {
        return nullptr;
    }
    TableLock lock;
    return findLocked(id);
}

qLinkReuse qLinkManager_ReuseEntry(uint32_t type, uint32_t identifier0, qLinkID* id) {
    if (id == nullptr || tableMutex() == nullptr) {
        return qLinkReuse::None;
    }
    TableLock lock;
    for (qLinkEntry* entry = table().head; entry != nullptr; entry = entry->next) {
        if (entry->type == type && entry->identifier[0] == identifier0) {
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
    if (id == 0 || tableMutex() == nullptr) {
        return false;
    }
    TableLock lock;
    qLinkEntry* entry = findLocked(id);
    if (entry == nullptr) {
        return false;
    }
    entry->useCount++;
    return true;
}

qLinkEntry* qLinkManager_ReleaseUser(qLinkID id, bool* known) {
    *known = false;
    if (id == 0 || tableMutex() == nullptr) {
        return nullptr;
    }
    TableLock lock;
    qLinkEntry* entry = findLocked(id);
    if (entry == nullptr) {
        return nullptr;
    }
    *known = true;
    entry->useCount--;
    if (entry->useCount > 0) {
        return nullptr;
    }
    unlinkLocked(entry);
    return entry;
}

bool qLinkManager_SetServedLink(qLinkID clientId, qLinkID servedLinkId) {
    if (tableMutex() == nullptr) {
        return false;
    }
    TableLock lock;
    qLinkEntry* entry = findLocked(clientId);
    if (entry == nullptr) {
        return false;
    }
    entry->servedLinkId = servedLinkId;
    return true;
}

bool qLinkManager_SetServer(qLinkID id, void* server, qLinkServerDestroyProc destroyServer) {
    if (tableMutex() == nullptr) {
        return false;
    }
    TableLock lock;
    qLinkEntry* entry = findLocked(id);
    if (entry == nullptr) {
        return false;
    }
    entry->server = server;
    entry->destroyServer = destroyServer;
    return true;
}

int qLinkManager_UseCount(qLinkID id) {
    if (tableMutex() == nullptr) {
        return -1;
    }
    TableLock lock;
    qLinkEntry* entry = findLocked(id);
    return entry != nullptr ? entry->useCount : -1;
}

size_t qLinkManager_Count() {
    if (tableMutex() == nullptr) {
        return 0;
    }
    TableLock lock;
    size_t count = 0;
    for (qLinkEntry* entry = table().head; entry != nullptr; entry = entry->next) {
        count++;
    }
    return count;
}

uint32_t qLinkManager_NextClientCounter() {
    if (tableMutex() == nullptr) {
        return 0;
    }
    TableLock lock;
    return table().clientCounter++;
}

bool qLinkManager_View(qLinkID id, qLinkView* view) {
    if (view == nullptr || id == 0 || tableMutex() == nullptr) {
        return false;
    }
    TableLock lock;
    qLinkEntry* entry = findLocked(id);
    if (entry == nullptr) {
        return false;
    }
    qLinkObject* link = entry->link;
    view->hasLink = qVALIDLINK(link);
    view->inbound = view->hasLink ? link->inbound.load() : 0;
    view->outbound = view->hasLink ? link->outbound.load() : 0;
    view->status = view->hasLink ? link->status.load() : qLINK_STATUS_INVALID;
    view->running = view->hasLink && link->running.load() != 0;
    return true;
}
