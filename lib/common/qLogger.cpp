#include "qLogger.h"

#include <atomic>
#include <new>
#include <pthread.h>

#include "unix_thread.h"

struct qLogger {
    uint16_t check;
    uint32_t linkId;
    qLoggerProc procedure;
    qFile* file;
    qThread* thread;
    std::atomic<bool> running;
};

namespace {

bool validLogger(const qLogger* logger) {
    return logger != nullptr && logger->check == qLOGGER_CHECK;
}

void* loggerThread(void* argument) {
    qLogger* logger = static_cast<qLogger*>(argument);
    while (logger->running.load()) {
        logger->procedure(logger->file, logger->linkId);
    }
    return nullptr;
}

bool calledFromLoggerThread(const qLogger* logger) {
    return logger->thread != nullptr && pthread_equal(logger->thread->handle, pthread_self());
}

}  // namespace

qLogger* qLogger_Create(uint32_t linkId, qLoggerProc procedure, const char* path) {
    if (procedure == nullptr) {
        return nullptr;
    }
    qFile* file = qFile_Open(path, qFileModeAppend);
    if (file == nullptr) {
        return nullptr;
    }
    qLogger* logger = new (std::nothrow) qLogger{};
    if (logger == nullptr || qFile_SetUnbuffered(file) != qErrNone) {
        delete logger;
        qFile_Close(&file);
        return nullptr;
    }
    logger->linkId = linkId;
    logger->procedure = procedure;
    logger->file = file;
    logger->check = qLOGGER_CHECK;
    return logger;
}

qErr qLogger_Enable(qLogger* logger) {
    if (!validLogger(logger)) {
        return qErrParam;
    }
    if (logger->thread != nullptr) {
        return qErrNone;
    }
    logger->running = true;
    logger->thread = qThread_Create(loggerThread, logger);
    if (logger->thread == nullptr) {
        logger->running = false;
        return qErrResource;
    }
    return qErrNone;
}

qErr qLogger_Disable(qLogger* logger) {
    if (!validLogger(logger)) {
        return qErrParam;
    }
    // The procedure itself may ask to stop; joining from inside would never return.
    if (calledFromLoggerThread(logger)) {
        return qErrBusy;
    }
    logger->running = false;
    if (logger->thread == nullptr) {
        return qErrNone;
    }
    return qThread_Destroy(&logger->thread) == qErrNone ? qErrNone : qErrUnknown;
}

qErr qLogger_Destroy(qLogger** logger) {
    if (logger == nullptr || !validLogger(*logger)) {
        return qErrParam;
    }
    qErr err = qLogger_Disable(*logger);
    if (err != qErrNone) {
        return err;
    }
    qFile_Close(&(*logger)->file);
    (*logger)->check = 0;
    delete *logger;
    *logger = nullptr;
    return qErrNone;
}
