// Endpoint numbers of this user's shared links. A ZeroMQ bind on an ipc path silently takes over
// a socket that is still served, so numbers are handed out under a lock on a file beside each
// socket; the kernel drops the lock when its server ends or dies, and the number comes free.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qShareFailureInternal.h"
#include "qLocalShare.h"

namespace {

constexpr const char* kPrefix = "link-";
constexpr const char* kLockSuffix = ".lock";
constexpr int kRemovalWaits = 100;
constexpr useconds_t kRemovalWaitUs = 5000;

int openLockFile(const std::string& path, int flags) {
    // O_NOFOLLOW: the directory is private, but a link planted before it was made private, or by
    // a program of the user's, must not make us write elsewhere.
    return open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// The endpoint number of a lock file's name, 0 when the name is not one.
uint32_t numberOf(const char* name) {
    const size_t prefix = strlen(kPrefix);
    if (strncmp(name, kPrefix, prefix) != 0) {
        return 0;
    }
    char* end = nullptr;
    unsigned long number = strtoul(name + prefix, &end, 10);
    if (end == name + prefix || strcmp(end, kLockSuffix) != 0 || number == 0 ||
        number > qLOCAL_SHARE_MAX_ENDPOINTS) {
        return 0;
    }
    return static_cast<uint32_t>(number);
}

// The linkSpec a live server keeps in its lock file; false when the server is gone or has not
// recorded one yet.
bool readLive(const std::string& path, linkSpec* spec) {
    int fd = openLockFile(path, O_RDONLY);
    if (fd < 0) {
        return false;
    }
    // A shared lock is refused only while a server holds its exclusive one.
    bool live = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    bool read = live && pread(fd, spec, sizeof *spec, 0) == static_cast<ssize_t>(sizeof *spec);
    close(fd);
    return read && spec->model != 0;
}

}  // namespace

std::string qLocalShare_SocketPath(const std::string& directory, uint32_t number) {
    return directory + "/" + kPrefix + std::to_string(number);
}

std::string qLocalShare_LockPath(const std::string& directory, uint32_t number) {
    return qLocalShare_SocketPath(directory, number) + kLockSuffix;
}

qErr qLocalShare_Claim(const std::string& directory, uint32_t* number, int* lockFd) {
    for (uint32_t candidate = 1; candidate <= qLOCAL_SHARE_MAX_ENDPOINTS; ++candidate) {
        int fd = openLockFile(qLocalShare_LockPath(directory, candidate), O_RDWR | O_CREAT);
        if (fd < 0) {
            return qErrPermission;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            continue;
        }
        // Whatever is left at this number belonged to a server that has ended.
        unlink(qLocalShare_SocketPath(directory, candidate).c_str());
        if (ftruncate(fd, 0) != 0) {
            close(fd);
            return qErrIO;
        }
        *number = candidate;
        *lockFd = fd;
        return qErrNone;
    }
    return qErrResource;
}

qErr qLocalShare_Record(int lockFd, const linkSpec& spec) {
    ssize_t written = pwrite(lockFd, &spec, sizeof spec, 0);
    return written == static_cast<ssize_t>(sizeof spec) ? qErrNone : qErrWrite;
}

void qLocalShare_Release(const std::string& directory, uint32_t number, int* lockFd) {
    if (*lockFd < 0) {
        return;
    }
    // ZeroMQ removes the socket of a closed listener from its own thread, a moment after the
    // close: a number freed before that would lose the next server its socket.
    const std::string socketPath = qLocalShare_SocketPath(directory, number);
    for (int wait = 0; wait < kRemovalWaits && access(socketPath.c_str(), F_OK) == 0; ++wait) {
        usleep(kRemovalWaitUs);
    }
    unlink(socketPath.c_str());
    if (ftruncate(*lockFd, 0) != 0) {
        // An emptied file is only tidier: without the lock the record is not read anyway.
    }
    close(*lockFd);
    *lockFd = -1;
}

std::vector<linkSpec> qLocalShare_LiveLinks(const std::string& directory) {
    std::vector<linkSpec> live;
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) {
        return live;
    }
    while (const dirent* entry = readdir(listing)) {
        linkSpec spec{};
        if (numberOf(entry->d_name) != 0 && readLive(directory + "/" + entry->d_name, &spec)) {
            live.push_back(spec);
        }
    }
    closedir(listing);
    return live;
}

qErr qLocalShare_CheckConnect(const std::string& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        qShare_SetFailure("no such shared link: %s (the path is too long)", socketPath.c_str());
        return qErrNotFound;
    }
    memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        qShare_SetFailure("cannot reach the shared link %s: %s", socketPath.c_str(),
                          strerror(errno));
        return qErrResource;
    }
    int rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    int error = errno;
    close(fd);
    if (rc == 0) {
        return qErrNone;
    }
    if (error == ENOENT || error == ENOTDIR) {
        qShare_SetFailure("no such shared link: %s", socketPath.c_str());
        return qErrNotFound;
    }
    if (error == EACCES || error == EPERM) {
        qShare_SetFailure("permission denied: %s", socketPath.c_str());
        return qErrPermission;
    }
    qShare_SetFailure("refused: %s (%s)", socketPath.c_str(), strerror(error));
    return qErrConnection;
}
