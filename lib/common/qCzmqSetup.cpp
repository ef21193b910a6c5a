#include "qCzmqSetup.h"

#include <czmq.h>

#include <mutex>

void qCzmq_Prepare() {
    static std::once_flag prepared;
    std::call_once(prepared, [] { zsys_handler_set(nullptr); });
}
