// libzmq and libczmq are not built with ThreadSanitizer, so the lock-free queues by which they
// hand messages between a socket's owner and its I/O thread are invisible to it and every message
// would be reported as a race. Reports with such a frame are suppressed; races in this library's
// own code still show.
extern "C" const char* __tsan_default_suppressions();
extern "C" const char* __tsan_default_suppressions() {
    return "race:libzmq.so\nrace:libczmq.so\n";
}
