#include "qStreamForCaller.h"

namespace {

thread_local bool tReadingForCaller = false;

}  // namespace

bool qStream_ReadingForCaller() {
    return tReadingForCaller;
}

qStreamForCallerScope::qStreamForCallerScope() : outer_(tReadingForCaller) {
    tReadingForCaller = true;
}

qStreamForCallerScope::~qStreamForCallerScope() {
    tReadingForCaller = outer_;
}
