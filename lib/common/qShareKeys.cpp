// The key directory of network sharing. A secret key is the whole of a server's or a client's
// identity, so a secret file that others could read (or replace) is refused rather than used.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "qCzmqSetup.h"
#include "qShareFailureInternal.h"
#include "qShareKeysInternal.h"

namespace {

std::mutex directoryLock;
std::string chosenDirectory;

const char* const kPairNames[] = {"server", "client"};
const char* const kPairFiles[] = {"server.key", "client.key"};

// The home directory of the user the process runs as; HOME only for a user the password
// database gives none.
std::string homeDirectory() {
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
        return found->pw_dir;
    }
    const char* home = getenv("HOME");
    return home != nullptr ? home : "";
}

std::string secretPath(qShareKeyPair pair) {
    return qShareKeys_CertificatePath(pair) + "_secret";
}

bool exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

// Why the secret file is not the user's own private file; empty when it is.
std::string whyNotPrivate(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return strerror(errno);
    }
    char why[96];
    if (!S_ISREG(status.st_mode)) {
        return "it is not a regular file";
    }
    if (status.st_uid != getuid()) {
        snprintf(why, sizeof why, "it belongs to uid %u", static_cast<unsigned>(status.st_uid));
        return why;
    }
    if ((status.st_mode & 077) != 0) {
        snprintf(why, sizeof why, "its mode %04o lets others at it (it must be 0600)",
                 static_cast<unsigned>(status.st_mode & 07777));
        return why;
    }
    return "";
}

// Makes path and every missing directory above it, private to the user.
bool makeDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            qShare_SetFailure("Cannot make the key directory %s: %s", part.c_str(),
                              strerror(errno));
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

qErr makePair(qShareKeyPair pair) {
    const std::string path = qShareKeys_CertificatePath(pair);
    const bool hasSecret = exists(secretPath(pair));
    if (hasSecret || exists(path)) {
        if (!hasSecret) {
            qShare_SetFailure("%s has no secret file beside it; not replacing it", path.c_str());
            return qErrDuplicate;
        }
        return qErrNone;
    }
    zcert_t* cert = zcert_new();
    if (cert == nullptr) {
        qShare_SetFailure("Cannot make the %s key pair", kPairNames[pair]);
        return qErrResource;
    }
    zcert_set_meta(cert, "role", "%s", kPairNames[pair]);
    // zcert_save writes the secret file with a private mode; chmod makes sure whatever the umask.
    const bool saved =
        zcert_save(cert, path.c_str()) == 0 && chmod(secretPath(pair).c_str(), 0600) == 0;
    zcert_destroy(&cert);
    if (!saved) {
        qShare_SetFailure("Cannot write the %s key pair to %s", kPairNames[pair], path.c_str());
        return qErrWrite;
    }
    return qErrNone;
}

bool copyOut(const std::string& text, char* out, size_t size) {
    if (out == nullptr || text.size() + 1 > size) {
        return false;
    }
    memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

std::string qShareKeys_Directory() {
    std::lock_guard<std::mutex> guard(directoryLock);
    if (!chosenDirectory.empty()) {
        return chosenDirectory;
    }
    return homeDirectory() + "/.pelmorax/updater/linkshare";
}

std::string qShareKeys_CertificatePath(qShareKeyPair pair) {
    return qShareKeys_Directory() + "/" + kPairFiles[pair == qShareKeyClient ? 1 : 0];
}

std::string qShareKeys_ClientsDirectory() {
    return qShareKeys_Directory() + "/clients";
}

std::string qShareKeys_ServersDirectory() {
    return qShareKeys_Directory() + "/servers";
}

zcert_t* qShareKeys_Load(qShareKeyPair pair, qErr* err) {
    const std::string secret = secretPath(pair);
    if (!exists(secret)) {
        qShare_SetFailure("No %s key pair in %s (make one with linkshare --make-keys)",
                          kPairNames[pair], qShareKeys_Directory().c_str());
        *err = qErrNotFound;
        return nullptr;
    }
    const std::string why = whyNotPrivate(secret);
    if (!why.empty()) {
        qShare_SetFailure("Refusing the secret key file %s: %s", secret.c_str(), why.c_str());
        *err = qErrPermission;
        return nullptr;
    }
    zcert_t* cert = zcert_load(qShareKeys_CertificatePath(pair).c_str());
    if (cert == nullptr) {
        qShare_SetFailure("Cannot read the secret key file %s", secret.c_str());
        *err = qErrPermission;
    }
    return cert;
}

bool qShareKeys_TrustsServer(const uint8_t key[qSHARE_KEY_BYTES]) {
    zcertstore_t* trusted = zcertstore_new(qShareKeys_ServersDirectory().c_str());
    const bool found =
        trusted != nullptr && zcertstore_lookup(trusted, qShareKeys_Text(key).c_str()) != nullptr;
    zcertstore_destroy(&trusted);
    return found;
}

std::string qShareKeys_Text(const uint8_t key[qSHARE_KEY_BYTES]) {
    char text[qSHARE_KEY_TEXT_LENGTH + 1] = {};
    zmq_z85_encode(text, key, qSHARE_KEY_BYTES);
    return text;
}

void qShare_SetKeyDirectory(const char* linkshareDirectory) {
    std::lock_guard<std::mutex> guard(directoryLock);
    chosenDirectory = linkshareDirectory != nullptr ? linkshareDirectory : "";
}

qErr qShare_GetKeyDirectory(char* path, size_t size) {
    return copyOut(qShareKeys_Directory(), path, size) ? qErrNone : qErrSize;
}

qErr qShare_MakeKeys(void) {
    qShare_ClearFailure();
    qCzmq_Prepare();
    const std::string directory = qShareKeys_Directory();
    if (!makeDirectories(directory) || !makeDirectories(qShareKeys_ClientsDirectory()) ||
        !makeDirectories(qShareKeys_ServersDirectory())) {
        return qErrWrite;
    }
    qErr err = makePair(qShareKeyServer);
    return err == qErrNone ? makePair(qShareKeyClient) : err;
}

qErr qShare_GetPublicKey(qShareKeyPair pair, char* text, size_t textSize, char* certificatePath,
                         size_t pathSize) {
    qShare_ClearFailure();
    qErr err = qErrNone;
    zcert_t* cert = qShareKeys_Load(pair, &err);
    if (cert == nullptr) {
        return err;
    }
    const bool copied = copyOut(zcert_public_txt(cert), text, textSize) &&
                        copyOut(qShareKeys_CertificatePath(pair), certificatePath, pathSize);
    zcert_destroy(&cert);
    return copied ? qErrNone : qErrSize;
}
