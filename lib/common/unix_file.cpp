#include "unix_file.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool pathUsable(const char* path) {
    return path != nullptr && path[0] != '\0' && strlen(path) <= qFILE_MAX_PATH;
}

bool canRead(const qFile* file) {
    return file->mode == qFileModeRead || file->mode == qFileModeAppend;
}

bool canWrite(const qFile* file) {
    return file->mode == qFileModeWrite || file->mode == qFileModeAppend;
}

// Switching between reading and writing on an update stream needs a positioning call in between.
void switchDirection(qFile* file, bool writing) {
    if (file->mode == qFileModeAppend && file->lastWasWrite != writing) {
        fseek(file->fp, 0, SEEK_CUR);
    }
    file->lastWasWrite = writing;
}

// What every read and write checks first: a valid file and usable arguments (qErrParam), a mode
// that allows the direction (qErrMode); then the file is turned to that direction.
qErr beginTransfer(qFile* file, bool argumentsUsable, bool writing) {
    if (!qVALIDFILE(file) || !argumentsUsable) {
        return qErrParam;
    }
    if (!(writing ? canWrite(file) : canRead(file))) {
        return qErrMode;
    }
    switchDirection(file, writing);
    return qErrNone;
}

// The stdio mode of each qFileMode, in the order of its values.
const char* fopenMode(int mode) {
    static const char* const modes[] = {"rb", "wb", "ab+"};
    return mode >= qFileModeRead && mode <= qFileModeAppend ? modes[mode] : nullptr;
}

}  // namespace

qFile* qFile_Open(const char* path, int mode) {
    const char* how = fopenMode(mode);
    if (!pathUsable(path) || how == nullptr) {
        return nullptr;
    }
    FILE* fp = fopen(path, how);
    if (fp == nullptr) {
        return nullptr;
    }
    if (mode == qFileModeAppend && fseek(fp, 0, SEEK_END) != 0) {
        fclose(fp);
        return nullptr;
    }
    qFile* file = new (std::nothrow) qFile{fp, mode, false, qFILE_CHECK};
    if (file == nullptr) {
        fclose(fp);
    }
    return file;
}

qErr qFile_Close(qFile** file) {
    if (file == nullptr || !qVALIDFILE(*file)) {
        return qErrParam;
    }
    int rc = fclose((*file)->fp);
    (*file)->check = 0;
    delete *file;
    *file = nullptr;
    return rc == 0 ? qErrNone : qErrIO;
}

qErr qFile_Read(qFile* file, void* buffer, size_t length, size_t* count) {
    if (qErr err = beginTransfer(file, buffer != nullptr || length == 0, false); err != qErrNone) {
        return err;
    }
    size_t got = length == 0 ? 0 : fread(buffer, 1, length, file->fp);
    if (count != nullptr) {
        *count = got;
    }
    if (got == 0 && length > 0) {
        return ferror(file->fp) ? qErrIO : qErrEOF;
    }
    return qErrNone;
}

qErr qFile_Write(qFile* file, const void* bytes, size_t length, size_t* count) {
    if (qErr err = beginTransfer(file, bytes != nullptr || length == 0, true); err != qErrNone) {
        return err;
    }
    size_t put = length == 0 ? 0 : fwrite(bytes, 1, length, file->fp);
    if (count != nullptr) {
        *count = put;
    }
    if (put == 0 && length > 0) {
        return qErrIO;
    }
    return put == length ? qErrNone : qErrWrite;
}

qErr qFile_GetSize(qFile* file, size_t* size) {
    if (!qVALIDFILE(file) || size == nullptr) {
        return qErrParam;
    }
    fflush(file->fp);
    struct stat st;
    if (fstat(fileno(file->fp), &st) != 0) {
        return qErrIO;
    }
    *size = static_cast<size_t>(st.st_size);
    return qErrNone;
}

qErr qFile_Seek(qFile* file, long offset, int origin) {
    if (!qVALIDFILE(file)) {
        return qErrParam;
    }
    size_t size = 0;
    qErr err = qFile_GetSize(file, &size);
    if (err != qErrNone) {
        return err;
    }
    long base = 0;
    switch (origin) {
        case 0:
            base = 0;
            break;
        case 1:
            base = ftell(file->fp);
            if (base < 0) {
                return qErrIO;
            }
            break;
        case 2:
            base = static_cast<long>(size);
            break;
        default:
            return qErrParam;
    }
    long target = base + offset;
    if (target < 0 || target > static_cast<long>(size)) {
        return qErrRange;
    }
    return fseek(file->fp, target, SEEK_SET) == 0 ? qErrNone : qErrIO;
}

qErr qFile_GetPosition(qFile* file, size_t* position) {
    if (!qVALIDFILE(file) || position == nullptr) {
        return qErrParam;
    }
    long where = ftell(file->fp);
    if (where < 0) {
        return qErrIO;
    }
    if (where > 0) {
        *position = static_cast<size_t>(where);
    }
    return qErrNone;
}

qErr qFile_ReadLine(qFile* file, char* buffer, size_t size, size_t* length) {
    if (qErr err = beginTransfer(file, buffer != nullptr && size >= 2, false); err != qErrNone) {
        return err;
    }
    int limit = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    if (fgets(buffer, limit, file->fp) == nullptr) {
        buffer[0] = '\0';
        if (length != nullptr) {
            *length = 0;
        }
        return ferror(file->fp) ? qErrIO : qErrEOF;
    }
    size_t got = strlen(buffer);
    if (length != nullptr) {
        *length = got;
    }
    if (got == static_cast<size_t>(limit) - 1 && buffer[got - 1] != '\n') {
        return qErrOverrun;
    }
    return qErrNone;
}

qErr qFile_Printf(qFile* file, const char* format, ...) {
    if (qErr err = beginTransfer(file, format != nullptr, true); err != qErrNone) {
        return err;
    }
    va_list args;
    va_start(args, format);
    int rc = vfprintf(file->fp, format, args);
    va_end(args);
    return rc < 0 ? qErrIO : qErrNone;
}

qErr qFile_SetUnbuffered(qFile* file) {
    if (!qVALIDFILE(file)) {
        return qErrParam;
    }
    if (!canWrite(file)) {
        return qErrMode;
    }
    return setvbuf(file->fp, nullptr, _IONBF, 0) == 0 ? qErrNone : qErrIO;
}

bool qFile_Exists(const char* path) {
    if (!pathUsable(path)) {
        return false;
    }
    struct stat st;
    return stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

qErr qFile_Delete(const char* path) {
    if (!pathUsable(path)) {
        return qErrParam;
    }
    return unlink(path) == 0 ? qErrNone : qFile_PathError(errno);
}

qErr qFile_PathError(int error) {
    switch (error) {
        case ENOENT:
            return qErrNotFound;
        case EACCES:
            return qErrPermission;
        default:
            return qErrIO;
    }
}
