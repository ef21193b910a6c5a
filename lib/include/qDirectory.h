// Portable directory functions of the device library: existence, creation with parents, listing,
// the user's home directory and path joining.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "qError.h"
#include "unix_file.h"

// One entry handed to a listing callback.
struct qDirectoryListData {
    char path[qFILE_MAX_PATH + 1];  // the listed directory and the entry name joined
    uint32_t size;                  // low 32 bits of the file size
    uint32_t isDirectory;           // 1 for a directory, else 0
};

// Returns false to stop the listing.
typedef bool (*qDirectoryListCallback)(const qDirectoryListData* entry, void* context);

// Most pieces qDirectory_BuildPath joins, the first included.
#define qDIRECTORY_MAX_PIECES 10

ZENDRIVAL_EXPORT bool qDirectory_Exists(const char* path);
// Creates path and every missing parent with mode; an existing directory is success. Any mkdir
// failure other than EEXIST is qErrPermission.
ZENDRIVAL_EXPORT qErr qDirectory_Ensure(const char* path, mode_t mode);
// Calls callback for every entry that can be stat'ed, "." and ".." included, in directory order.
// qErrNotFound when the directory cannot be opened.
ZENDRIVAL_EXPORT qErr qDirectory_List(const char* path, qDirectoryListCallback callback,
                                      void* context);
// The home directory of the user's password entry, else $HOME. qErrNotFound when neither is
// known, qErrOverrun when it does not fit in size bytes (a cut path would name another place).
ZENDRIVAL_EXPORT qErr qDirectory_GetHomeDirectory(char* buffer, size_t size);
// Joins first and the further pieces up to a null pointer, with one '/' between two pieces unless
// the text so far ends with '/' or the next piece begins with one. qErrParam for a null buffer or
// first piece, a piece inside the buffer, or more than qDIRECTORY_MAX_PIECES pieces; qErrOverrun
// when a piece does not fit (the buffer is then left empty).
ZENDRIVAL_EXPORT qErr qDirectory_BuildPath(char* buffer, size_t size, const char* first, ...);
ZENDRIVAL_EXPORT qErr qDirectory_JoinPath(char* buffer, size_t size, const char* a, const char* b);
