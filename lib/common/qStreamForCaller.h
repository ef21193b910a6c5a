// A thread that reads a link's stream on behalf of a caller awaiting a reply (not the link's
// reader thread) marks itself for the stream's get while it reads. A get on such a thread hands
// out a byte or says that none came within its short wait, and leaves everything else to the
// reader thread: a dropped or closed connection, a busy transport or a failure that it has not
// consumed is reported as qErrBusy, without reconnecting, pausing or taking the error from the
// transport, so that the reader thread meets it again and acts on it there. A caller's wait then
// ends on time whatever the transport does.
#pragma once

// Whether the calling thread reads for a caller now.
bool qStream_ReadingForCaller();

// Marks the calling thread while it lives; marks nest.
class qStreamForCallerScope {
  public:
    qStreamForCallerScope();
    ~qStreamForCallerScope();
    qStreamForCallerScope(const qStreamForCallerScope&) = delete;
    qStreamForCallerScope& operator=(const qStreamForCallerScope&) = delete;

  private:
    bool outer_;
};
