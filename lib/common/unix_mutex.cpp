#include "unix_mutex.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace {

bool validMutex(const qMutex* mutex) {
    return mutex != nullptr && mutex->check == qMUTEX_CHECK;
}

// What each pthread result means to a caller of one operation; 0 is success and anything not
// listed is qErrUnknown.
struct ResultMeaning {
    int result;
    qErr code;
};

constexpr ResultMeaning kDestroyMeanings[] = {
    {EAGAIN, qErrResource}, {EBUSY, qErrBusy}, {EINVAL, qErrParam}};
constexpr ResultMeaning kLockMeanings[] = {{EINVAL, qErrParam}, {EDEADLK, qErrDuplicate}};
constexpr ResultMeaning kTryLockMeanings[] = {{EBUSY, qErrBusy}, {EINVAL, qErrParam}};
constexpr ResultMeaning kUnlockMeanings[] = {{EPERM, qErrPermission}, {EINVAL, qErrParam}};

template <size_t N>
qErr meaningOf(int rc, const ResultMeaning (&meanings)[N]) {
    if (rc == 0) {
        return qErrNone;
    }
    for (const ResultMeaning& meaning : meanings) {
        if (meaning.result == rc) {
            return meaning.code;
        }
    }
    return qErrUnknown;
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
    return meaningOf(pthread_mutex_lock(&mutex->mutex), kLockMeanings);
}

qErr qMutex_TryLock(qMutex* mutex) {
    if (!validMutex(mutex)) {
        return qErrParam;
    }
    return meaningOf(pthread_mutex_trylock(&mutex->mutex), kTryLockMeanings);
}

qErr qMutex_Unlock(qMutex* mutex) {
    if (!validMutex(mutex)) {
        return qErrParam;
    }
    return meaningOf(pthread_mutex_unlock(&mutex->mutex), kUnlockMeanings);
}

qErr qMutex_Destroy(qMutex** mutex) {
    if (mutex == nullptr || !validMutex(*mutex)) {
        return qErrParam;
    }
    qErr err = meaningOf(pthread_mutex_destroy(&(*mutex)->mutex), kDestroyMeanings);
    (*mutex)->check = 0;
    delete *mutex;
    *mutex = nullptr;
    return err;
}
