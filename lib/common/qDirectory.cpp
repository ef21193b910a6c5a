#include "qDirectory.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

qErr makeOne(const std::string& path, mode_t mode) {
    if (mkdir(path.c_str(), mode) == 0 || errno == EEXIST) {
        return qErrNone;
    }
    return qErrPermission;
}

bool pointsInto(const char* piece, const char* buffer, size_t size) {
    auto p = reinterpret_cast<uintptr_t>(piece);
    auto b = reinterpret_cast<uintptr_t>(buffer);
    return p >= b && p < b + (size == 0 ? 1 : size);
}

// Collects the pieces of a null-terminated argument list; false when there are too many.
bool collectPieces(const char* first, va_list args, std::vector<const char*>& pieces) {
    pieces.push_back(first);
    for (const char* piece = va_arg(args, const char*); piece != nullptr;
         piece = va_arg(args, const char*)) {
        if (pieces.size() == qDIRECTORY_MAX_PIECES) {
            return false;
        }
        pieces.push_back(piece);
    }
    return true;
}

qErr joinPieces(char* buffer, size_t size, const std::vector<const char*>& pieces) {
    if (size == 0) {
        return qErrOverrun;
    }
    buffer[0] = '\0';
    size_t used = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const char* piece = pieces[i];
        bool separator = i > 0 && !(used > 0 && buffer[used - 1] == '/') && piece[0] != '/';
        size_t need = strlen(piece) + (separator ? 1 : 0);
        if (need > size - 1 - used) {
            buffer[0] = '\0';
            return qErrOverrun;
        }
        if (separator) {
            buffer[used++] = '/';
        }
        memcpy(buffer + used, piece, strlen(piece) + 1);
        used += strlen(piece);
    }
    return qErrNone;
}

bool describeEntry(const char* directory, const char* name, qDirectoryListData* entry) {
    int n = snprintf(entry->path, sizeof entry->path, "%s/%s", directory, name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof entry->path) {
        return false;
    }
    struct stat st;
    if (stat(entry->path, &st) != 0) {
        return false;
    }
    entry->size = static_cast<uint32_t>(st.st_size);
    entry->isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
    return true;
}

qErr copyHome(const char* home, char* buffer, size_t size) {
    size_t length = strlen(home);
    if (length >= size) {
        return qErrOverrun;
    }
    memcpy(buffer, home, length + 1);
    return qErrNone;
}

}  // namespace

bool qDirectory_Exists(const char* path) {
    struct stat st;
    return path != nullptr && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

qErr qDirectory_Ensure(const char* path, mode_t mode) {
    if (path == nullptr || path[0] == '\0') {
        return qErrParam;
    }
    if (qDirectory_Exists(path)) {
        return qErrNone;
    }
    std::string whole(path);
    // Create every parent first, one component at a time.
    for (size_t slash = whole.find('/', 1); slash != std::string::npos;
         slash = whole.find('/', slash + 1)) {
        if (whole[slash - 1] == '/') {
            continue;
        }
        qErr err = makeOne(whole.substr(0, slash), mode);
        if (err != qErrNone) {
            return err;
        }
    }
    qErr err = makeOne(whole, mode);
    if (err == qErrNone && !qDirectory_Exists(path)) {
        // EEXIST for a plain file in the way is not a directory we can use.
        return qErrPermission;
    }
    return err;
}

qErr qDirectory_List(const char* path, qDirectoryListCallback callback, void* context) {
    if (path == nullptr || callback == nullptr) {
        return qErrParam;
    }
    DIR* dir = opendir(path);
    if (dir == nullptr) {
        return qErrNotFound;
    }
    qDirectoryListData entry;
    for (struct dirent* item = readdir(dir); item != nullptr; item = readdir(dir)) {
        if (describeEntry(path, item->d_name, &entry) && !callback(&entry, context)) {
            break;
        }
    }
    closedir(dir);
    return qErrNone;
}

qErr qDirectory_GetHomeDirectory(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return qErrParam;
    }
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> scratch(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, scratch.data(), scratch.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
        return copyHome(found->pw_dir, buffer, size);
    }
    const char* home = getenv("HOME");
    if (home == nullptr) {
        return qErrNotFound;
    }
    return copyHome(home, buffer, size);
}

qErr qDirectory_BuildPath(char* buffer, size_t size, const char* first, ...) {
    if (buffer == nullptr || first == nullptr) {
        return qErrParam;
    }
    std::vector<const char*> pieces;
    va_list args;
    va_start(args, first);
    bool fits = collectPieces(first, args, pieces);
    va_end(args);
    if (!fits) {
        return qErrParam;
    }
    for (const char* piece : pieces) {
        if (pointsInto(piece, buffer, size)) {
            return qErrParam;
        }
    }
    return joinPieces(buffer, size, pieces);
}

qErr qDirectory_JoinPath(char* buffer, size_t size, const char* a, const char* b) {
    if (b == nullptr) {
        return qErrParam;
    }
    return qDirectory_BuildPath(buffer, size, a, b, static_cast<const char*>(nullptr));
}
