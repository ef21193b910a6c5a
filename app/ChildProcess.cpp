#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace {

constexpr size_t READ_SIZE = 4096;
constexpr auto REAP_POLL_INTERVAL = std::chrono::milliseconds(20);

void closeBoth(int (&ends)[2]) {
    for (int& end : ends) {
        if (end >= 0) {
            close(end);
            end = -1;
        }
    }
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped) {
        kill(pid_, SIGKILL);
        reap(-1);
    }
    for (int fd : {outFd, errFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& arguments) {
    // Close-on-exec, so that no other child holds these pipes open past this child's end.
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        const int saved = errno;
        closeBoth(outPipe);
        closeBoth(errPipe);
        errno = saved;
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    std::vector<std::string> words = arguments;
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const int result = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (result != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        pid_ = -1;
        errno = result;
        return false;
    }
    outFd = outPipe[0];
    errFd = errPipe[0];
    return true;
}

void ChildProcess::readFrom(int descriptor) {
    char buffer[READ_SIZE];
    const ssize_t count = read(descriptor, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    const bool ended = count <= 0;
    if (descriptor == outFd) {
        if (!ended) {
            out.append(buffer, static_cast<size_t>(count));
        } else {
            close(outFd);
            outFd = -1;
        }
        return;
    }
    if (descriptor != errFd) {
        return;
    }
    if (ended) {
        close(errFd);
        errFd = -1;
        if (!errPending.empty()) {
            errLines.push_back(errPending);
            errPending.clear();
        }
        return;
    }
    errPending.append(buffer, static_cast<size_t>(count));
    for (size_t end; (end = errPending.find('\n')) != std::string::npos;) {
        errLines.push_back(errPending.substr(0, end));
        errPending.erase(0, end + 1);
    }
}

std::vector<std::string> ChildProcess::takeErrorLines() {
    std::vector<std::string> lines;
    lines.swap(errLines);
    return lines;
}

void ChildProcess::signal(int number) const {
    if (pid_ > 0 && !reaped) {
        kill(pid_, number);
    }
}

bool ChildProcess::reap(int milliseconds) {
    if (pid_ <= 0 || reaped) {
        return reaped;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const pid_t done = waitpid(pid_, &status, milliseconds < 0 ? 0 : WNOHANG);
        if (done == pid_) {
            reaped = true;
            return true;
        }
        if (done < 0 && errno != EINTR) {
            return false;
        }
        if (milliseconds >= 0 && std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        if (milliseconds >= 0) {
            std::this_thread::sleep_for(REAP_POLL_INTERVAL);
        }
    }
}
