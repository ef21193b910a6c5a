// One program run beside this one with its standard output and standard error read through
// pipes (standard input is /dev/null): "-a" runs one Updater per module this way.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Ends a child still running (SIGKILL) and reaps it.
    ~ChildProcess();

    // False with errno set when the pipes or the process could not be made.
    bool start(const std::string& program, const std::vector<std::string>& arguments);

    // The descriptors still open (-1 once at their end), for poll.
    int outputDescriptor() const { return outFd; }
    int errorDescriptor() const { return errFd; }
    // Reads what the descriptor has; standard output is kept, standard error is cut into lines
    // for takeErrorLines. At the end of either its descriptor is closed.
    void readFrom(int descriptor);
    // The complete lines of standard error read so far (and the rest once it has ended).
    std::vector<std::string> takeErrorLines();
    // Both pipes at their end: the process has ended or is ending.
    bool pipesClosed() const { return outFd < 0 && errFd < 0; }

    void signal(int number) const;
    // Waits for the process (within milliseconds when that is not negative); true once reaped.
    bool reap(int milliseconds);

    pid_t pid() const { return pid_; }
    int waitStatus() const { return status; }
    const std::string& output() const { return out; }

  private:
    pid_t pid_ = -1;
    bool reaped = false;
    int status = 0;
    int outFd = -1;
    int errFd = -1;
    std::string out;
    std::string errPending;
    std::vector<std::string> errLines;
};
