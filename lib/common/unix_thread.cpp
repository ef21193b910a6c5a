#include "unix_thread.h"

#include <cerrno>
#include <new>
#include <unistd.h>

namespace {

constexpr useconds_t kYieldUs = 5;

qErr joinErrorCode(int rc) {
    switch (rc) {
        case 0:
            return qErrNone;
        case EDEADLK:
            return qErrDuplicate;
        case EINVAL:
        case ESRCH:
            return qErrParam;
        default:
            return qErrUnknown;
    }
}

}  // namespace

qThread* qThread_Create(qThreadProc procedure, void* argument) {
    if (procedure == nullptr) {
        return nullptr;
    }
    qThread* thread = new (std::nothrow) qThread{};
    if (thread == nullptr) {
        return nullptr;
    }
    if (pthread_create(&thread->handle, nullptr, procedure, argument) != 0) {
        delete thread;
        return nullptr;
    }
    thread->check = qTHREAD_CHECK;
    return thread;
}

qErr qThread_Destroy(qThread** thread) {
    if (thread == nullptr || *thread == nullptr || (*thread)->check != qTHREAD_CHECK) {
        return qErrParam;
    }
    qErr err = joinErrorCode(pthread_join((*thread)->handle, nullptr));
    (*thread)->check = 0;
    delete *thread;
    *thread = nullptr;
    return err;
}

void qThread_Yield() {
    usleep(kYieldUs);
}
