// Portable file functions of the device library: a checked record around a buffered file.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdio>

#include "qError.h"

#define qFILE_CHECK 0xFEED
#define qFILE_MAX_PATH 4096

enum qFileMode { qFileModeRead = 0, qFileModeWrite = 1, qFileModeAppend = 2 };

struct qFile {
    FILE* fp;
    int mode;
    // An update stream ("ab+") must be repositioned between a write and a read; this records
    // which came last.
    bool lastWasWrite;
    unsigned short check;
};

#define qVALIDFILE(f) ((f) != nullptr && (f)->check == qFILE_CHECK && (f)->fp != nullptr)

// Opens path: mode 0 reads ("rb"), 1 writes ("wb", created or truncated), 2 appends ("ab+",
// positioned at the end). Null for a null, empty or over-long path, another mode, or a failed
// open.
ZENDRIVAL_EXPORT qFile* qFile_Open(const char* path, int mode);
ZENDRIVAL_EXPORT qErr qFile_Close(qFile** file);
// Reads up to length bytes; zero bytes for a non-zero length is qErrEOF.
ZENDRIVAL_EXPORT qErr qFile_Read(qFile* file, void* buffer, size_t length, size_t* count);
// Writes length bytes; a write of zero bytes is qErrIO.
ZENDRIVAL_EXPORT qErr qFile_Write(qFile* file, const void* bytes, size_t length, size_t* count);
// origin 0 = start, 1 = current position, 2 = end; a target outside 0..size is qErrRange.
ZENDRIVAL_EXPORT qErr qFile_Seek(qFile* file, long offset, int origin);
ZENDRIVAL_EXPORT qErr qFile_GetSize(qFile* file, size_t* size);
// Stores the position only when it is above zero.
ZENDRIVAL_EXPORT qErr qFile_GetPosition(qFile* file, size_t* position);
// Reads one line including its newline. qErrEOF at end of file; qErrOverrun when the line fills
// the buffer without a newline.
ZENDRIVAL_EXPORT qErr qFile_ReadLine(qFile* file, char* buffer, size_t size, size_t* length);
ZENDRIVAL_EXPORT qErr qFile_Printf(qFile* file, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
ZENDRIVAL_EXPORT qErr qFile_SetUnbuffered(qFile* file);
// True for an existing path that is not a directory.
ZENDRIVAL_EXPORT bool qFile_Exists(const char* path);
ZENDRIVAL_EXPORT qErr qFile_Delete(const char* path);
// What a failed system call on a path (errno) means: ENOENT qErrNotFound, EACCES qErrPermission,
// anything else qErrIO.
ZENDRIVAL_EXPORT qErr qFile_PathError(int error);
