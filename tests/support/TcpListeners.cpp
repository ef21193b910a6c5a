#include "TcpListeners.h"

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace zvtest {

namespace {

constexpr const char* kListenState = "0A";

// The inodes of the sockets among pid's descriptors ("socket:[INODE]" links).
bool socketInodes(pid_t pid, std::set<std::string>* inodes) {
    const std::string directory = "/proc/" + std::to_string(pid) + "/fd";
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) {
        return false;
    }
    while (const dirent* entry = readdir(listing)) {
        char target[64] = {};
        const std::string path = directory + "/" + entry->d_name;
        ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        std::string link(target, length > 0 ? static_cast<size_t>(length) : 0);
        if (link.rfind("socket:[", 0) == 0 && link.back() == ']') {
            inodes->insert(link.substr(8, link.size() - 9));
        }
    }
    closedir(listing);
    return true;
}

}  // namespace

int tcpListenersOf(pid_t pid) {
    std::set<std::string> inodes;
    std::ifstream table("/proc/" + std::to_string(pid) + "/net/tcp");
    if (!socketInodes(pid, &inodes) || !table) {
        return -1;
    }
    std::string line;
    std::getline(table, line);  // the column names
    int listeners = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        if (state == kListenState && inodes.count(inode) != 0) {
            ++listeners;
        }
    }
    return listeners;
}

}  // namespace zvtest
