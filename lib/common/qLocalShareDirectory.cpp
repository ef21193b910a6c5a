// Where this user's shared links live. The directory is the only wall between users (anyone may
// connect to a socket they can reach), so it is taken only when it is a real directory of this
// user that nobody else can enter, and derived from the user id, never from the environment.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "qLocalShare.h"

namespace {

// Why path is not a private directory of uid; empty when it is.
std::string whyNotPrivate(const std::string& path, uid_t uid) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return strerror(errno);
    }
    char why[96];
    if (S_ISLNK(status.st_mode)) {
        return "it is a symbolic link";
    }
    if (!S_ISDIR(status.st_mode)) {
        return "it is not a directory";
    }
    if (status.st_uid != uid) {
        snprintf(why, sizeof why, "it belongs to uid %u", static_cast<unsigned>(status.st_uid));
        return why;
    }
    if ((status.st_mode & 077) != 0) {
        snprintf(why, sizeof why, "its mode %04o lets others in",
                 static_cast<unsigned>(status.st_mode & 07777));
        return why;
    }
    return "";
}

std::string numbered(const char* prefix, uid_t uid) {
    char path[64];
    snprintf(path, sizeof path, "%s%u", prefix, static_cast<unsigned>(uid));
    return path;
}

}  // namespace

bool qLocalShare_Directory(std::string* directory, std::string* failure) {
    const uid_t uid = getuid();
    // The login session's runtime directory is private and goes with the session; /tmp is the
    // fallback for users without one (services, root on a server).
    const std::string runtime = numbered("/run/user/", uid);
    const std::string path = whyNotPrivate(runtime, uid).empty() ? runtime + "/zendrival"
                                                                 : numbered("/tmp/zendrival-", uid);
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        *failure = "Cannot make the shared link directory " + path + ": " + strerror(errno);
        return false;
    }
    const std::string why = whyNotPrivate(path, uid);
    if (!why.empty()) {
        *failure = "Refusing the shared link directory " + path + ": " + why;
        return false;
    }
    *directory = path;
    return true;
}
