#include "PtyLink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace modulesim {

PtyLink::PtyLink(EventLoop& loop, SimModule& front, int defaultLatencyMs, const PacketLog& log,
                 std::unique_ptr<Framing> framing)
    // With its own slave descriptor open the master only fails when the terminal is broken.
    : HostLink(loop, front, defaultLatencyMs, log, {"pseudo-terminal failed", true},
               std::move(framing)) {}

PtyLink::~PtyLink() {
    PtyLink::dropHost();
}

bool PtyLink::open(std::string& error) {
    if (!pty_.open(simtools::kTimedReadLine, error)) {
        return false;
    }
    if (!front_.config().nodeDir.empty() && !makeNode(error)) {
        return false;
    }
    setChannel(pty_.master());
    return true;
}

bool PtyLink::makeNode(std::string& error) {
    char file[32];
    snprintf(file, sizeof file, "/zendrival.%08X", front_.serial());
    std::string path = front_.config().nodeDir + file;
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            error = path + " exists and is not a link";
            return false;
        }
        unlink(path.c_str());  // left over from an earlier run
    }
    if (symlink(pty_.slavePath().c_str(), path.c_str()) != 0) {
        error = "cannot make " + path + ": " + strerror(errno);
        return false;
    }
    nodePath_ = path;
    return true;
}

void PtyLink::describe(std::vector<std::string>& lines) const {
    char serial[9];
    snprintf(serial, sizeof serial, "%08X", front_.serial());
    lines.push_back(std::string("pty ") + serial + " " + pty_.slavePath());
    if (!nodePath_.empty()) {
        lines.push_back(std::string("node ") + serial + " " + nodePath_);
    }
}

void PtyLink::sessionChanging() {
    // Bytes a host left unread are not for the next one. A new host starts reading as soon as
    // it opens the terminal, before its first byte arrives here, so this matters most when the
    // old host is found gone.
    pty_.dropUnread();
}

// Like a module pulled from its USB port: the terminal hangs up and its node disappears.
void PtyLink::dropHost() {
    endSession();
    clearChannel();
    if (!nodePath_.empty()) {
        unlink(nodePath_.c_str());
        nodePath_.clear();
    }
    pty_.close();
}

void PtyLink::rebootFront() {
    front_.reboot(EventLoop::nowMs());
}

}  // namespace modulesim
