#include "unix_mutex.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace {

bool validMutex(const qMutex* mutex) {
    return mutex != nullptr && mutex->check == qMUTEX_CHECK;
}

qErr destroyErrorCode(int rc) {
    switch (rc) {
        case 0:
            return qErrNone;
        case EAGAIN:
            return qErrResource;
        case EBUSY:
            return qErrBusy;
        case EINVAL:
            return qErrParam;
        default:
            return qErrUnknown;
    }
}

qErr lockErrorCode(int rc) {
    switch (rc) {
        case 0:
            return qErrNone;
        case EINVAL:
            return qErrParam;
        case EDEADLK:
            return qErrDuplicate;
        default:
            return qErrUnknown;
    }
}

qErr tryLockErrorCode(int rc) {
    switch (rc) {
        case 0:
            return qErrNone;
        case EBUSY:
            return qErrBusy;
        case EINVAL:
            return qErrParam;
        default:
            return qErrUnknown;
    }
}

qErr unlockErrorCode(int rc) {
    switch (rc) {
        case 0:
            return qErrNone;
        case EPERM:
            return qErrPermission;
        case EINVAL:
            return qErrParam;
        default:
            return qErrUnknown;
    }
}

}  // namespace

qMutex* qMutex_Create(const char* name) {
    if (name != nullptr && strnlen(name, qMUTEX_MAX_NAME + 1) > qMUTEX_MAX_NAME) {
        return nullptr;
    }
    qMutex* mutex = new (std::nothrow) qMutex{};
    if (mutex == nullptr) {
        return nullptr;
    }
    pthread_mutexattr_t attributes;
    bool made = pthread_mutexattr_init(&attributes) == 0;
    if (made) {
        made = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK) == 0 &&
               pthread_mutex_init(&mutex->mutex, &attributes) == 0;
        pthread_mutexattr_destroy(&attributes);
    }
    if (!made) {
        delete mutex;
        return nullptr;
    }
    if (name != nullptr) {
        strcpy(mutex->name, name);
    }
    mutex->check = qMUTEX_CHECK;
    return mutex;
}

const char* qMutex_Identifier(const qMutex* mutex) {
    return validMutex(mutex) ? mutex->name : nullptr;
}

qErr qMutex_Lock(qMutex* mutex) {
    if (!validMutex(mutex)) {
        return qErrParam;
    }
    return lockErrorCode(pthread_mutex_lock(&mutex->mutex));
}

qErr qMutex_TryLock(qMutex* mutex) {
    if (!validMutex(mutex)) {
        return qErrParam;
    }
    return tryLockErrorCode(pthread_mutex_trylock(&mutex->mutex));
}

qErr qMutex_Unlock(qMutex* mutex) {
    if (!validMutex(mutex)) {
        return qErrParam;
    }
    return unlockErrorCode(pthread_mutex_unlock(&mutex->mutex));
}

qErr qMutex_Destroy(qMutex** mutex) {
    if (mutex == nullptr || !validMutex(*mutex)) {
        return qErrParam;
    }
    qErr err = destroyErrorCode(pthread_mutex_destroy(&(*mutex)->mutex));
    (*mutex)->check = 0;
    delete *mutex;
    *mutex = nullptr;
    return err;
}
